#include "runtime/process.h"

#include <windows.h>

#include <vector>

#include "runtime/log.h"

namespace kestrun {

std::string command_line_for(const std::string& executable,
                             const std::optional<std::string>& arguments) {
  std::string command_line;
  const bool needs_quotes =
      executable.find(' ') != std::string::npos && (executable.empty() || executable[0] != '"');
  if (needs_quotes) {
    command_line = "\"" + executable + "\"";
  } else {
    command_line = executable;
  }
  if (arguments) {
    command_line += ' ';
    command_line += *arguments;
  }
  return command_line;
}

void start_process(const std::string& executable, const std::optional<std::string>& arguments) {
  const std::string command_line = command_line_for(executable, arguments);
  // CreateProcessA may write into the command line, so it gets its own copy.
  std::vector<char> writable(command_line.begin(), command_line.end());
  writable.push_back('\0');

  STARTUPINFOA startup_info{};
  startup_info.cb = sizeof startup_info;
  PROCESS_INFORMATION process_info{};
  // No environment block and no directory: the new program inherits this
  // process's environment as it is now (with its Path changes) and its
  // working directory.
  const BOOL started = CreateProcessA(executable.c_str(), writable.data(), nullptr, nullptr, FALSE,
                                      0, nullptr, nullptr, &startup_info, &process_info);
  if (!started) {
    // Read the error before any write to the log can replace it.
    const DWORD error = GetLastError();
    log_line_start() << "Error calling '" << executable << "' - " << error_text(error) << std::endl;
  }
  if (process_info.hProcess) CloseHandle(process_info.hProcess);
  if (process_info.hThread) CloseHandle(process_info.hThread);
}

std::optional<std::string> find_associated_program(const std::string& file_name) {
  // shell32 is loaded only here, on the failure path: importing it would
  // make every start load the shell and the dozen DLLs it brings along,
  // which costs more than all the rest of a healthy run.
  using find_executable_function = HINSTANCE(WINAPI*)(LPCSTR, LPCSTR, LPSTR);
  HMODULE shell = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (shell == nullptr) return std::nullopt;
  const auto find_executable = reinterpret_cast<find_executable_function>(
      reinterpret_cast<void*>(GetProcAddress(shell, "FindExecutableA")));
  if (find_executable == nullptr) return std::nullopt;
  char program[MAX_PATH] = {};
  const HINSTANCE found = find_executable(file_name.c_str(), nullptr, program);
  // Values of 32 or less are error codes, not a found program.
  if (static_cast<int>(reinterpret_cast<INT_PTR>(found)) <= 32) return std::nullopt;
  return std::string(program);
}

std::string error_text(unsigned long code) {
  if (code == 0) return std::string();
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&buffer), 0,
      nullptr);
  std::string text;
  if (length != 0 && buffer != nullptr) text.assign(buffer, length);
  if (buffer != nullptr) LocalFree(buffer);
  return text;
}

std::string last_error_text() { return error_text(GetLastError()); }

}  // namespace kestrun
