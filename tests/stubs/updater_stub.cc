// Stand-in for Updater.exe and Updater_Client.exe in the tests: records its
// command line, working directory and Path (UTF-8, read with the wide calls
// so nothing is lost) into "<own name>.record.txt" in the working
// directory, adds one line to "<own name>.starts.txt" for every start, then
// ends. The record is written under a temporary name and moved into place,
// so a reader never sees half a record.
#include <windows.h>

#include <string>

#include "runtime/text.h"

namespace {

std::wstring path_variable() {
  const DWORD needed = GetEnvironmentVariableW(L"Path", nullptr, 0);
  if (needed == 0) return std::wstring();
  std::wstring value(needed, L'\0');
  value.resize(GetEnvironmentVariableW(L"Path", &value[0], needed));
  return value;
}

// A failure of the stand-in itself would otherwise look like a start that
// never happened: it leaves "<own name>.failed.txt", which the tests show.
int failed(const std::wstring& name, const char* step) {
  const std::string text = std::string(step) + ": Windows error " + std::to_string(GetLastError());
  HANDLE file = CreateFileW((name + L".failed.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
  }
  return 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t module[MAX_PATH];
  const DWORD module_length = GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring name(module, module_length);
  name = name.substr(name.find_last_of(L"\\/") + 1);

  wchar_t directory[MAX_PATH];
  const DWORD directory_length = GetCurrentDirectoryW(MAX_PATH, directory);

  std::string record = "command_line=" + kestrun::narrow(GetCommandLineW()) + "\n";
  record +=
      "working_directory=" + kestrun::narrow(std::wstring(directory, directory_length)) + "\n";
  record += "path=" + kestrun::narrow(path_variable()) + "\n";

  // Appended in one write, so starts at the same moment each leave a line.
  HANDLE starts = CreateFileW((name + L".starts.txt").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (starts == INVALID_HANDLE_VALUE) return failed(name, "open starts.txt");
  DWORD written = 0;
  if (!WriteFile(starts, "started\n", 8, &written, nullptr)) return failed(name, "add a start");
  CloseHandle(starts);

  const std::wstring temporary = name + L".record.tmp";
  const std::wstring final_name = name + L".record.txt";
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failed(name, "create record.tmp");
  if (!WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr)) {
    return failed(name, "write record.tmp");
  }
  CloseHandle(file);
  if (!MoveFileExW(temporary.c_str(), final_name.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return failed(name, "move record.tmp");
  }
  return 0;
}
