#include "runtime/log.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <streambuf>
#include <system_error>

#include "runtime/directory_entry.h"
#include "runtime/text.h"

namespace kestrun {

// Collects one line and hands it to WriteFile when its line end arrives, with
// the line end written as CR LF. A failed write leaves the stream failed for
// the rest of the run.
class log_file::file_buffer : public std::streambuf {
 public:
  ~file_buffer() override { close(); }

  bool open(const std::string& file_name, DWORD disposition) {
    close();
    // FILE_SHARE_READ | FILE_SHARE_WRITE: other processes may read or write
    // the log while the run goes on. CREATE_ALWAYS empties an earlier run's
    // log instead of appending to it.
    handle_ = CreateFileW(kestrun::widen(file_name).c_str(), GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    failed_ = handle_ == INVALID_HANDLE_VALUE;
    return !failed_;
  }

  void close() {
    write_pending();
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }

 protected:
  int_type overflow(int_type ch) override {
    if (failed_ || handle_ == INVALID_HANDLE_VALUE) return traits_type::eof();
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    if (traits_type::to_char_type(ch) == '\n') {
      pending_ += "\r\n";
      if (!write_pending()) return traits_type::eof();
    } else {
      pending_ += traits_type::to_char_type(ch);
    }
    return ch;
  }

  std::streamsize xsputn(const char* text, std::streamsize count) override {
    for (std::streamsize i = 0; i < count; ++i) {
      if (traits_type::eq_int_type(overflow(traits_type::to_int_type(text[i])), traits_type::eof()))
        return i;
    }
    return count;
  }

  int sync() override { return write_pending() ? 0 : -1; }

 private:
  bool write_pending() {
    if (pending_.empty()) return !failed_;
    if (failed_ || handle_ == INVALID_HANDLE_VALUE) {
      pending_.clear();
      return false;
    }
    DWORD written = 0;
    // An offset of all ones writes at the end of the file as it is at that
    // moment, whatever this handle's own position: lines another process
    // added in between are kept, not overwritten.
    OVERLAPPED at_end{};
    at_end.Offset = 0xFFFFFFFF;
    at_end.OffsetHigh = 0xFFFFFFFF;
    const BOOL ok =
        WriteFile(handle_, pending_.data(), static_cast<DWORD>(pending_.size()), &written, &at_end);
    failed_ = !ok || written != pending_.size();
    pending_.clear();
    return !failed_;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  bool failed_ = true;
  std::string pending_;
};

log_file::log_file() : std::ostream(nullptr), buffer_(new file_buffer) {
  rdbuf(buffer_.get());
  setstate(std::ios::badbit);
}

log_file::~log_file() { close(); }

bool log_file::open(const std::string& file_name) { return open_file(file_name, CREATE_ALWAYS); }

bool log_file::open_for_append(const std::string& file_name) {
  return open_file(file_name, OPEN_ALWAYS);
}

bool log_file::open_file(const std::string& file_name, unsigned long disposition) {
  clear();
  if (!buffer_->open(file_name, disposition)) {
    setstate(std::ios::badbit);
    return false;
  }
  return true;
}

void log_file::close() {
  buffer_->close();
  setstate(std::ios::badbit);
}

bool log_file::is_open() const { return buffer_->is_open(); }

log_file starter_log;

namespace {

bool is_folder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void create_log_directory(const std::string& directory) {
  const std::wstring wide = widen(directory);
  // Looked at first: where the user may not create folders, CreateDirectoryW
  // can answer "access denied" (5) for a folder that is already there, not
  // only "already exists" (183).
  if (is_folder(wide)) return;
  if (CreateDirectoryW(wide.c_str(), nullptr)) return;
  DWORD error = GetLastError();
  if (error == ERROR_PATH_NOT_FOUND) {
    const std::filesystem::path parent = std::filesystem::path(wide).parent_path();
    if (!parent.empty() && parent != std::filesystem::path(wide)) {
      create_log_directory(narrow(parent.wstring()));
      if (CreateDirectoryW(wide.c_str(), nullptr)) return;
      error = GetLastError();
    }
  }
  // Another run may have made it in the meantime.
  if (is_folder(wide)) return;
  throw std::filesystem::filesystem_error(
      "create_directories", std::filesystem::path(wide),
      std::error_code(static_cast<int>(error), std::system_category()));
}

std::string keep_previous_log(const std::string& log_file, const std::string& previous_file) {
  // Copied rather than renamed: the log of a failed run is often still open
  // in the viewer it was shown in, and most viewers do not let it be
  // renamed, only read.
  if (CopyFileW(widen(log_file).c_str(), widen(previous_file).c_str(), FALSE)) return "";
  const DWORD error = GetLastError();
  // The first run in an installation has no previous log.
  if (error == ERROR_FILE_NOT_FOUND) return "";
  return "Could not keep the previous run's log as " + previous_file + ": " +
         windows_error_message(error);
}

std::int64_t system_clock_ticks() {
  using ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
  return std::chrono::duration_cast<ticks>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string format_log_prefix(const std::tm& local_time, int milliseconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d.%03d: ", local_time.tm_year + 1900,
                local_time.tm_mon + 1, local_time.tm_mday, local_time.tm_hour, local_time.tm_min,
                local_time.tm_sec, milliseconds);
  return text;
}

std::string log_prefix(std::int64_t ticks) {
  const __time64_t seconds = ticks / 10000000;
  const int milliseconds = static_cast<int>((ticks / 10000) % 1000);
  std::tm local_time{};
  _localtime64_s(&local_time, &seconds);
  return format_log_prefix(local_time, milliseconds);
}

std::string log_prefix() { return log_prefix(system_clock_ticks()); }

void log_line(std::string text) {
  // One write for the whole line keeps a line together even when another
  // run writes into the same shared file.
  std::string line = log_prefix();
  line += text;
  starter_log << line << std::endl;
}

std::ostream& log_line_start() { return starter_log << log_prefix(); }

}  // namespace kestrun
