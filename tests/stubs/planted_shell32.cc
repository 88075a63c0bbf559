// A stand-in for a DLL someone planted in the installation folder under the
// name shell32.dll. Loading it leaves the file "planted-shell32-loaded" in
// the current directory; its FindExecutable functions find nothing.
#include <windows.h>

extern "C" {

__declspec(dllexport) HINSTANCE WINAPI FindExecutableA(LPCSTR, LPCSTR, LPSTR result) {
  if (result != nullptr) result[0] = '\0';
  return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(2));  // SE_ERR_FNF
}

__declspec(dllexport) HINSTANCE WINAPI FindExecutableW(LPCWSTR, LPCWSTR, LPWSTR result) {
  if (result != nullptr) result[0] = L'\0';
  return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(2));  // SE_ERR_FNF
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    HANDLE marker = CreateFileW(L"planted-shell32-loaded", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  }
  return TRUE;
}

}  // extern "C"
