#include "runtime/dll_search.h"

#include <windows.h>

#include <string>

namespace kestrun {

void restrict_dll_search_to_system_folder() {
  // SetDefaultDllDirectories exists from Windows 8 on, and on Windows 7 with
  // KB2533623. Importing it would keep the program from starting on a
  // Windows 7 without that update, so it is looked up at run time.
  using set_default_dll_directories_function = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto set_default_dll_directories =
      kernel == nullptr
          ? nullptr
          : reinterpret_cast<set_default_dll_directories_function>(
                reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_default_dll_directories != nullptr &&
      set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    return;
  }
  // Without it, the best Windows offers is taking the current directory out
  // of the search; the program's own folder stays in it.
  SetDllDirectoryW(L"");
}

void* load_system_dll(const wchar_t* name) {
  HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr) return module;
  // Windows 7 without KB2533623 does not know the flag. The full path into
  // the system folder is just as safe there; with the altered search path
  // the DLLs it needs in turn are looked for in the system folder first.
  wchar_t system_folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system_folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(system_folder, length) + L"\\" + name;
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace kestrun
