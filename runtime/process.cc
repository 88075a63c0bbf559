#include "runtime/process.h"

#include <windows.h>

#include "runtime/dll_search.h"
#include "runtime/log.h"
#include "runtime/text.h"

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
  // The names and arguments are UTF-8 inside the program; the wide call
  // hands every character on as it is, whatever the ANSI code page could
  // have expressed.
  const std::wstring application = widen(executable);
  std::wstring writable = widen(command_line_for(executable, arguments));
  // CreateProcessW may write into the command line, so it gets its own copy.
  writable.push_back(L'\0');

  STARTUPINFOW startup_info{};
  startup_info.cb = sizeof startup_info;
  PROCESS_INFORMATION process_info{};
  // No environment block and no directory: the new program inherits this
  // process's environment as it is now (with its Path changes) and its
  // working directory.
  const BOOL started = CreateProcessW(application.c_str(), &writable[0], nullptr, nullptr, FALSE, 0,
                                      nullptr, nullptr, &startup_info, &process_info);
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
  // which costs more than all the rest of a healthy run. It is loaded from
  // the system folder only, never from the installation folder, where an
  // update drops files.
  using find_executable_function = HINSTANCE(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR);
  HMODULE shell = static_cast<HMODULE>(load_system_dll(L"shell32.dll"));
  if (shell == nullptr) return std::nullopt;
  const auto find_executable = reinterpret_cast<find_executable_function>(
      reinterpret_cast<void*>(GetProcAddress(shell, "FindExecutableW")));
  if (find_executable == nullptr) return std::nullopt;
  wchar_t program[MAX_PATH] = {};
  const HINSTANCE found = find_executable(widen(file_name).c_str(), nullptr, program);
  // Values of 32 or less are error codes, not a found program.
  if (static_cast<int>(reinterpret_cast<INT_PTR>(found)) <= 32) return std::nullopt;
  return narrow(program);
}

std::string error_text(unsigned long code) {
  if (code == 0) return std::string();
  wchar_t* buffer = nullptr;
  // The wide text in the user's language, turned into UTF-8 like every
  // other text of the log.
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer),
      0, nullptr);
  std::string text;
  if (length != 0 && buffer != nullptr) text = narrow(std::wstring(buffer, length));
  if (buffer != nullptr) LocalFree(buffer);
  return text;
}

std::string last_error_text() { return error_text(GetLastError()); }

}  // namespace kestrun
