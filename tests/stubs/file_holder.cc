// Test helper: holds a file open with share mode 0 for a given time, so that
// every other open, delete or rename of it fails with a sharing violation
// (Windows error 32), as when an antivirus scanner or a running program has
// it. Usage: file_holder <file> <milliseconds> <marker>. Creates the marker
// file once the file is held, and removes it just before letting go.
#include <windows.h>

#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const std::wstring file = argv[1];
  const DWORD milliseconds = static_cast<DWORD>(_wtoi(argv[2]));
  HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  // 1000 + the Windows error: the test that asked for the hold reports it.
  if (held == INVALID_HANDLE_VALUE) return 1000 + static_cast<int>(GetLastError());
  const std::wstring marker = argv[3];
  HANDLE marker_handle = CreateFileW(marker.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker_handle != INVALID_HANDLE_VALUE) CloseHandle(marker_handle);
  Sleep(milliseconds);
  DeleteFileW(marker.c_str());
  CloseHandle(held);
  return 0;
}
