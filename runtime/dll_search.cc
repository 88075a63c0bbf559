#include "runtime/dll_search.h"

#include <windows.h>

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

}  // namespace kestrun
