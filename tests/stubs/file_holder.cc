// Test helper: holds a file open with share mode 0 for a given time, so that
// every other open, delete or rename of it fails with a sharing violation
// (Windows error 32), as when an antivirus scanner or a running program has
// it. Usage: file_holder <file> <milliseconds> <event name>. Signals the
// named event (made by the test) once the file is held.
#include <windows.h>

#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  // 1000 + the Windows error when the file cannot be held, 2000 + it when
  // the test's event cannot be signalled: the test reports the exit code.
  HANDLE held = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1000 + static_cast<int>(GetLastError());
  // "file:<path>" instead of an event name: a file is made there, for the
  // benchmark script, which has no event of its own to give.
  const std::wstring signal = argv[3];
  if (signal.rfind(L"file:", 0) == 0) {
    HANDLE marker = CreateFileW(signal.c_str() + 5, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return 2000 + static_cast<int>(GetLastError());
    CloseHandle(marker);
  } else {
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (event == nullptr || !SetEvent(event)) return 2000 + static_cast<int>(GetLastError());
    CloseHandle(event);
  }
  Sleep(static_cast<DWORD>(_wtoi(argv[2])));
  CloseHandle(held);
  return 0;
}
