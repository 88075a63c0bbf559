// Stand-in for Updater.exe and Updater_Client.exe in the tests: records its
// command line, working directory and Path into "<own name>.record.txt" in
// the working directory, then ends. The record is written under a temporary
// name and moved into place, so a reader never sees half a record.
#include <windows.h>

#include <string>

namespace {

std::string path_variable() {
  const DWORD needed = GetEnvironmentVariableA("Path", nullptr, 0);
  if (needed == 0) return std::string();
  std::string value(needed, '\0');
  const DWORD length = GetEnvironmentVariableA("Path", &value[0], needed);
  value.resize(length);
  return value;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char module[MAX_PATH];
  const DWORD module_length = GetModuleFileNameA(nullptr, module, MAX_PATH);
  std::string name(module, module_length);
  name = name.substr(name.find_last_of("\\/") + 1);

  char directory[MAX_PATH];
  const DWORD directory_length = GetCurrentDirectoryA(MAX_PATH, directory);

  std::string record = "command_line=" + std::string(GetCommandLineA()) + "\n";
  record += "working_directory=" + std::string(directory, directory_length) + "\n";
  record += "path=" + path_variable() + "\n";

  const std::string temporary = name + ".record.tmp";
  const std::string final_name = name + ".record.txt";
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
  return MoveFileExA(temporary.c_str(), final_name.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 3;
}
