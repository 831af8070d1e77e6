#pragma once
// System DLLs that are not on Windows' KnownDLLs list are loaded at run time, from System32
// only: a DLL of the same name in the .exe's folder (a Downloads folder) is never loaded.
#include "platform/win32.hpp"

namespace connector {

// Loads name from System32, or nothing when it is missing there.
inline UniqueModule loadSystemLibrary(const wchar_t* name) {
  return UniqueModule(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

// Casts through void(*)(), the one function type GCC lets any function pointer pass through.
template <typename Function>
Function lookUp(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace connector
