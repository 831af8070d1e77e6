# The same commit gives the same program byte for byte, wherever the checkout lies and whenever
# it is built, so anyone can check a published package against its source
# (scripts/package.sh --verify rebuilds the release elsewhere and compares).

# No absolute path of this checkout in the objects (__FILE__, debug names). GCC applies the last
# matching map, so the build folder, often inside the source folder, comes second. Debug builds
# keep real paths for the debugger.
set(glimmer_optimised_cxx $<AND:$<COMPILE_LANGUAGE:CXX>,$<NOT:$<CONFIG:Debug>>>)
add_compile_options(
  "$<${glimmer_optimised_cxx}:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
  "$<${glimmer_optimised_cxx}:-ffile-prefix-map=${PROJECT_BINARY_DIR}=./build>")

if(WIN32)
  # The PE header's link time stamp would be the only difference between two links; 0 instead.
  add_link_options(-Wl,--no-insert-timestamp)
endif()
