# The fuzz targets' corpora replayed without libFuzzer and without sanitizers, every input on a
# 256 KiB stack: the bound that the fuzzing build, whose sanitized frames are several times larger,
# cannot check. The code under test is compiled once more with optimisation, as users run it.
# One CTest entry per target; scripts/fuzz.sh also replays what a fuzzing run has learned.
file(GLOB_RECURSE replay_code CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.cpp)
list(FILTER replay_code EXCLUDE REGEX "/app/|_win32\\.cpp$")
add_library(glimmer_replay_code OBJECT ${replay_code})
target_compile_options(glimmer_replay_code PUBLIC -O2)
target_include_directories(glimmer_replay_code PUBLIC ${PROJECT_SOURCE_DIR}/src
                           ${PROJECT_BINARY_DIR}/generated)
find_package(Threads REQUIRED)
target_link_libraries(glimmer_replay_code PUBLIC Threads::Threads)

# The zip entry target reads its input through clang's FuzzedDataProvider, a header that needs
# nothing else of clang's: a copy of it alone goes on the include path.
file(GLOB clang_include_dirs /usr/lib/llvm-*/lib/clang/*/include)
find_path(GLIMMER_FUZZED_DATA_PROVIDER_DIR fuzzer/FuzzedDataProvider.h PATHS ${clang_include_dirs})
set(replay_include ${CMAKE_CURRENT_BINARY_DIR}/fuzz_replay_include)
if(GLIMMER_FUZZED_DATA_PROVIDER_DIR)
  configure_file(${GLIMMER_FUZZED_DATA_PROVIDER_DIR}/fuzzer/FuzzedDataProvider.h
                 ${replay_include}/fuzzer/FuzzedDataProvider.h COPYONLY)
endif()

set(glimmer_replay_targets)
function(glimmer_fuzz_replay name)
  if(name STREQUAL "zip_entry" AND NOT GLIMMER_FUZZED_DATA_PROVIDER_DIR)
    message(STATUS "fuzz replay of ${name} left out: fuzzer/FuzzedDataProvider.h (clang) not found")
    return()
  endif()
  set(support ${ARGN})
  list(TRANSFORM support PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/support/)
  add_executable(fuzz_replay_${name} fuzz/${name}_fuzz.cpp fuzz/replay_main.cpp
                 support/small_stack.cpp support/small_stack_posix.cpp ${support})
  target_compile_definitions(fuzz_replay_${name} PRIVATE GLIMMER_FUZZ_STACK_BYTES=262144)
  target_include_directories(fuzz_replay_${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
                             ${CMAKE_CURRENT_SOURCE_DIR}/fuzz)
  target_include_directories(fuzz_replay_${name} SYSTEM PRIVATE ${replay_include})
  target_link_libraries(fuzz_replay_${name} PRIVATE glimmer_replay_code glimmer_warnings)
  # GCC 12 at -O2 takes a JsonValue built from a bool for a variant read before it is set.
  target_compile_options(fuzz_replay_${name} PRIVATE -Wno-maybe-uninitialized)
  add_test(NAME ${GLIMMER_TEST_PREFIX}fuzz_replay_${name}
           COMMAND fuzz_replay_${name} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${name})
  set(glimmer_replay_targets ${glimmer_replay_targets} fuzz_replay_${name} PARENT_SCOPE)
endfunction()

glimmer_fuzz_replay(http_request)
glimmer_fuzz_replay(json)
glimmer_fuzz_replay(base64 base64_reference.cpp)
glimmer_fuzz_replay(url_form)
glimmer_fuzz_replay(path_rule)
glimmer_fuzz_replay(zip_entry store_zip_writer.cpp)
glimmer_fuzz_replay(convert_request)
glimmer_fuzz_replay(route_handler)
add_custom_target(fuzz_replay_targets DEPENDS ${glimmer_replay_targets})
