#include "tests/support/test_support.h"

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "runtime/process.h"

namespace kestrun::testing {

fs::path bin_dir() {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
  return fs::path(std::wstring(buffer, length)).parent_path();
}

temp_folder::temp_folder(const std::string& name) {
  static std::atomic<int> counter{0};
  const fs::path root = fs::temp_directory_path() / "kestrun-tests";
  path_ =
      root / (name + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
  std::error_code ignored;
  fs::remove_all(path_, ignored);
  fs::create_directories(path_);
}

temp_folder::~temp_folder() {
  // Programs started by a test may still be ending; give them a moment.
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::error_code error;
    fs::remove_all(path_, error);
    if (!error) return;
    Sleep(100);
  }
}

void write_file(const fs::path& file, const std::string& bytes) {
  if (file.has_parent_path()) fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  if (!out) throw std::runtime_error("cannot write '" + file.u8string() + "'");
}

namespace {

[[noreturn]] void throw_windows_error(const std::string& what, const fs::path& file, DWORD error) {
  throw std::runtime_error(what + " '" + file.u8string() + "': Windows error " +
                           std::to_string(error) + " " + error_text(error));
}

}  // namespace

std::string read_file(const fs::path& file) {
  // Shared for everything: a program that still has the file open (the log
  // it writes, the record the stand-in updater has just moved into place
  // with a handle it closes only after the rename) must not make the read
  // fail. A file held without sharing (file_holder being ended) is waited
  // for a few seconds; any other failure is thrown.
  HANDLE handle = INVALID_HANDLE_VALUE;
  for (int attempt = 0;; ++attempt) {
    handle = CreateFileW(file.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) break;
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION || attempt == 250) {
      throw_windows_error("cannot open", file, error);
    }
    Sleep(20);
  }
  std::string bytes;
  char buffer[65536];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(handle, buffer, sizeof buffer, &read, nullptr)) {
      const DWORD error = GetLastError();
      CloseHandle(handle);
      throw_windows_error("cannot read", file, error);
    }
    if (read == 0) break;
    bytes.append(buffer, read);
  }
  CloseHandle(handle);
  return bytes;
}

void set_write_time(const fs::path& file, long long unix_seconds) {
  const DWORD attributes = GetFileAttributesW(file.c_str());
  const bool is_folder =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  HANDLE handle = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, is_folder ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  const long long ticks = unix_seconds * 10000000LL + 116444736000000000LL;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SetFileTime(handle, nullptr, nullptr, &time);
  CloseHandle(handle);
}

void copy_program(const std::string& program, const fs::path& folder, const std::string& as_name) {
  fs::copy_file(bin_dir() / program, folder / (as_name.empty() ? program : as_name),
                fs::copy_options::overwrite_existing);
}

DWORD run_program(const fs::path& exe, const std::wstring& command_line,
                  const fs::path& working_directory, std::chrono::milliseconds timeout) {
  started_program program(exe, command_line, working_directory);
  return program.exit_code(timeout);
}

started_program::started_program(const fs::path& exe, const std::wstring& command_line,
                                 const fs::path& working_directory) {
  std::wstring writable = command_line;
  writable.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(exe.c_str(), &writable[0], nullptr, nullptr, FALSE, 0, nullptr,
                      working_directory.c_str(), &startup, &process)) {
    const DWORD error = GetLastError();
    ADD_FAILURE() << "cannot start " << exe.u8string() << ": Windows error " << error;
    return;
  }
  CloseHandle(process.hThread);
  process_ = process.hProcess;
}

started_program::~started_program() {
  if (process_ == nullptr) return;
  kill();
  CloseHandle(process_);
}

bool started_program::running(std::chrono::milliseconds timeout) const {
  return process_ != nullptr &&
         WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) == WAIT_TIMEOUT;
}

DWORD started_program::exit_code(std::chrono::milliseconds timeout) {
  if (process_ == nullptr) return ~0u - 1;
  DWORD code = ~0u;
  if (WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    kill();
    return ~0u;
  }
  GetExitCodeProcess(process_, &code);
  return code;
}

void started_program::kill() {
  if (process_ == nullptr) return;
  if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) return;
  TerminateProcess(process_, ~0u);
  WaitForSingleObject(process_, 10000);
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    Sleep(20);
  }
  return true;
}

bool wait_for_file(const fs::path& file, std::chrono::milliseconds timeout) {
  return wait_until([&] { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; },
                    timeout);
}

bool read_start_record(const fs::path& folder, const std::string& program, start_record& record) {
  const fs::path file = folder / (program + ".record.txt");
  if (!wait_for_file(file)) {
    std::string names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      names += " " + entry.path().filename().u8string();
    }
    const fs::path log = folder / "log" / "starter.log";
    const fs::path failure = folder / (program + ".failed.txt");
    ADD_FAILURE() << "no " << file.u8string() << " in time; the folder holds:" << names
                  << (fs::exists(failure) ? "\nthe stand-in failed: " + read_file(failure) : "")
                  << (fs::exists(log) ? "\nits log:\n" + read_file(log) : std::string());
    return false;
  }
  const std::string bytes = read_file(file);
  std::istringstream lines(bytes);
  std::string line;
  int keys = 0;
  while (std::getline(lines, line)) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "command_line") {
      record.command_line = value;
      keys |= 1;
    } else if (key == "working_directory") {
      record.working_directory = value;
      keys |= 2;
    } else if (key == "path") {
      record.path_variable = value;
      keys |= 4;
    }
  }
  if (keys != 7) {
    throw std::runtime_error("record '" + file.u8string() + "' lacks a key: \"" + bytes + "\"");
  }
  return true;
}

std::vector<std::string> split_crlf(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(start));
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> step_lines(const std::vector<std::string>& texts) {
  std::vector<std::string> own;
  for (const std::string& text : texts) {
    if (text.rfind("<no prefix>", 0) != 0 && text.rfind("Error deleting '", 0) != 0 &&
        text.rfind("Error renaming '", 0) != 0)
      own.push_back(text);
  }
  return own;
}

bool has_log_prefix(const std::string& line) {
  // "2026-03-07 09:05:02.047: " with a year of any length.
  size_t i = 0;
  while (i < line.size() && isdigit(static_cast<unsigned char>(line[i]))) ++i;
  if (i == 0) return false;
  const std::string rest_pattern = "-dd-dd dd:dd:dd.ddd: ";
  if (line.size() < i + rest_pattern.size()) return false;
  for (size_t k = 0; k < rest_pattern.size(); ++k) {
    const char c = line[i + k];
    if (rest_pattern[k] == 'd' ? !isdigit(static_cast<unsigned char>(c)) : c != rest_pattern[k])
      return false;
  }
  return true;
}

std::vector<std::string> log_texts(const std::string& log_bytes) {
  std::vector<std::string> texts;
  for (const std::string& line : split_crlf(log_bytes)) {
    if (has_log_prefix(line)) {
      texts.push_back(line.substr(line.find(": ") + 2));
    } else {
      texts.push_back("<no prefix>" + line);
    }
  }
  return texts;
}

}  // namespace kestrun::testing

#include "runtime/log.h"
#include "runtime/retry.h"

namespace kestrun::testing {

log_capture::log_capture() : file_(folder_ / "starter.log") { starter_log.open(file_.u8string()); }

log_capture::~log_capture() { starter_log.close(); }

std::string log_capture::bytes() const {
  starter_log.flush();
  return read_file(file_);
}

std::vector<std::string> log_capture::texts() const { return log_texts(bytes()); }

scoped_current_directory::scoped_current_directory(const fs::path& folder)
    : previous_(fs::current_path()) {
  fs::current_path(folder);
}

scoped_current_directory::~scoped_current_directory() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
}

held_file::held_file(const fs::path& file, std::chrono::milliseconds how_long) {
  // The holder signals an event of this test's own once it has the file. A
  // name with the start time in it: Wine hands out a finished process's ID
  // again within seconds, and a holder left over from an earlier test
  // program must not answer for this one.
  static std::atomic<int> counter{0};
  const std::wstring event_name = L"kestrun-held-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(GetTickCount64()) + L"-" +
                                  std::to_wstring(counter++);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
  if (event == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
    ADD_FAILURE() << "cannot make the event for holding " << file.u8string() << ": Windows error "
                  << GetLastError();
    if (event != nullptr) CloseHandle(event);
    return;
  }
  const std::wstring command = L"file_holder.exe \"" + file.wstring() + L"\" " +
                               std::to_wstring(how_long.count()) + L" " + event_name;
  holder_ = std::make_unique<started_program>(bin_dir() / "file_holder.exe", command, bin_dir());
  if (holder_->handle() == nullptr) {
    CloseHandle(event);
    return;
  }
  // Held once the event is set; the holder ending first means it failed. A
  // loaded machine can take seconds to start a Wine process, so the bound is
  // wide: it only matters when something is broken.
  const HANDLE either[] = {event, holder_->handle()};
  const DWORD waited = WaitForMultipleObjects(2, either, FALSE, 120000);
  CloseHandle(event);
  if (waited == WAIT_OBJECT_0) {
    held_ = true;
  } else if (waited == WAIT_OBJECT_0 + 1) {
    ADD_FAILURE() << "file_holder could not hold " << file.u8string() << ", exit code "
                  << holder_->exit_code();
  } else {
    ADD_FAILURE() << "file_holder did not hold " << file.u8string() << " within 120 s";
  }
}

held_file::~held_file() {
  // Waits for the holder to let go by itself, and ends it after a bound.
  if (holder_) (void)holder_->exit_code(std::chrono::seconds(120));
}

void held_file::release() {
  if (holder_) holder_->kill();
}

namespace {

struct fake_clock_state {
  std::int64_t system_ticks = 1772874302LL * 10000000LL;
  std::chrono::steady_clock::time_point steady{std::chrono::hours(1000)};
  std::vector<unsigned long> sleeps;
  std::function<void(size_t)> on_sleep;
};

fake_clock_state* fake_state = nullptr;

std::int64_t fake_system_ticks() { return fake_state->system_ticks; }
std::chrono::steady_clock::time_point fake_steady_now() { return fake_state->steady; }
void fake_sleep(unsigned long milliseconds) {
  fake_state->sleeps.push_back(milliseconds);
  fake_state->steady += std::chrono::milliseconds(milliseconds);
  fake_state->system_ticks += static_cast<std::int64_t>(milliseconds) * 10000;
  if (fake_state->on_sleep) fake_state->on_sleep(fake_state->sleeps.size());
}

const retry_timing fake_timing{&fake_system_ticks, &fake_steady_now, &fake_sleep};
std::unique_ptr<scoped_retry_timing> fake_guard;

}  // namespace

fake_retry_clock::fake_retry_clock() {
  fake_state = new fake_clock_state;
  fake_guard.reset(new scoped_retry_timing(fake_timing));
}

fake_retry_clock::~fake_retry_clock() {
  fake_guard.reset();
  delete fake_state;
  fake_state = nullptr;
}

const std::vector<unsigned long>& fake_retry_clock::sleeps() const { return fake_state->sleeps; }

void fake_retry_clock::shift_system_clock(std::int64_t ticks) { fake_state->system_ticks += ticks; }

void fake_retry_clock::set_on_sleep(std::function<void(size_t)> on_sleep) {
  fake_state->on_sleep = std::move(on_sleep);
}

}  // namespace kestrun::testing
