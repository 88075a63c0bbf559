// Helpers shared by the tests: throw-away folders, starting the real
// programs, reading what they left behind.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/directory_entry.h"

namespace kestrun::testing {

namespace fs = std::filesystem;

// The folder that holds the test executables and the built programs.
fs::path bin_dir();

// A fresh, empty folder under %TEMP%, removed again with everything in it
// when the object goes.
class temp_folder {
 public:
  explicit temp_folder(const std::string& name = "t");
  ~temp_folder();
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;

  const fs::path& path() const { return path_; }
  fs::path operator/(const fs::path& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// Writes (or overwrites) a file with the given bytes, creating its folders.
void write_file(const fs::path& file, const std::string& bytes);
// The whole file. Throws (with the path and the Windows error) when it
// cannot be read; never returns an empty text for a failed read.
std::string read_file(const fs::path& file);

// Sets a file's last write time to seconds since 1970-01-01 00:00 UTC.
void set_write_time(const fs::path& file, long long unix_seconds);

// Copies a built program (by its file name in bin_dir()) into a folder,
// optionally under another name.
void copy_program(const std::string& program, const fs::path& folder,
                  const std::string& as_name = std::string());

// Starts exe with exactly "command_line" (nothing is added or quoted) in the
// working directory, waits at most timeout and returns its exit code, or
// ~0u when it did not end in time (it is killed then).
DWORD run_program(const fs::path& exe, const std::wstring& command_line,
                  const fs::path& working_directory,
                  std::chrono::milliseconds timeout = std::chrono::seconds(120));

// A program started with exactly "command_line" in the working directory
// and not waited for. A program that cannot be started fails the test. The
// destructor ends it if it still runs.
class started_program {
 public:
  started_program(const fs::path& exe, const std::wstring& command_line,
                  const fs::path& working_directory);
  ~started_program();
  started_program(const started_program&) = delete;
  started_program& operator=(const started_program&) = delete;

  // Whether it still runs after waiting at most timeout.
  bool running(std::chrono::milliseconds timeout = std::chrono::milliseconds(0)) const;
  // Waits at most timeout for its end and returns the exit code; ~0u when it
  // did not end in time (it is killed then).
  DWORD exit_code(std::chrono::milliseconds timeout = std::chrono::seconds(120));
  // Ends it at once, as a crash or the task manager would.
  void kill();
  // The process handle, to wait on; null when it could not be started.
  HANDLE handle() const { return process_; }

 private:
  HANDLE process_ = nullptr;
};

// Waits until condition() holds, checking every 20 ms, at most timeout;
// returns whether it held. The bound is wide because a loaded machine can
// take seconds to start a Wine process: it only runs out when the program
// under test is wrong.
[[nodiscard]] bool wait_until(const std::function<bool()>& condition,
                              std::chrono::milliseconds timeout = std::chrono::seconds(60));
// Waits until a file exists (the stand-in updater writes its record last).
[[nodiscard]] bool wait_for_file(const fs::path& file,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(60));

// What the stand-in updater recorded about its start.
struct start_record {
  std::string command_line;
  std::string working_directory;
  std::string path_variable;
};
// Waits for and reads "<program>.record.txt" in folder: false when it did
// not appear in time; throws when it cannot be read or lacks a key.
[[nodiscard]] bool read_start_record(const fs::path& folder, const std::string& program,
                                     start_record& record);

// The log texts without their time-stamp prefixes, one per physical line.
// Lines that should carry a prefix and do not (or the reverse) make the
// result hold a marker text, so tests comparing whole logs notice.
std::vector<std::string> log_texts(const std::string& log_bytes);

// The log texts a step wrote itself: the error reports of the file
// operations (their first line and the unprefixed lines after it) left out.
std::vector<std::string> step_lines(const std::vector<std::string>& texts);

// True when line begins with a well-formed "YYYY-MM-DD hh:mm:ss.mmm: ".
bool has_log_prefix(const std::string& line);

// Splits bytes at CR LF; a trailing part without CR LF is returned as well.
std::vector<std::string> split_crlf(const std::string& bytes);

}  // namespace kestrun::testing

namespace kestrun::testing {

// Opens the process-wide starter_log on a file of its own for one test and
// closes it again; texts() gives the lines written so far.
class log_capture {
 public:
  log_capture();
  ~log_capture();
  log_capture(const log_capture&) = delete;
  log_capture& operator=(const log_capture&) = delete;

  std::string bytes() const;
  std::vector<std::string> texts() const;

 private:
  temp_folder folder_{"log"};
  fs::path file_;
};

// Makes a folder the working directory for one test (the steps work on "."
// and resolve bare names against the working directory).
class scoped_current_directory {
 public:
  explicit scoped_current_directory(const fs::path& folder);
  ~scoped_current_directory();
  scoped_current_directory(const scoped_current_directory&) = delete;
  scoped_current_directory& operator=(const scoped_current_directory&) = delete;

 private:
  fs::path previous_;
};

// Puts a status hook (see set_entry_status_hook) in place for one test.
class scoped_entry_status_hook {
 public:
  explicit scoped_entry_status_hook(entry_status_hook hook) { set_entry_status_hook(hook); }
  ~scoped_entry_status_hook() { set_entry_status_hook(nullptr); }
  scoped_entry_status_hook(const scoped_entry_status_hook&) = delete;
  scoped_entry_status_hook& operator=(const scoped_entry_status_hook&) = delete;
};

// Holds a file (or folder) open with share mode 0 from another process, the
// file_holder helper, for the given time. Returns once it is held. The
// destructor waits for the holder to let go (or ends it).
class held_file {
 public:
  held_file(const fs::path& file, std::chrono::milliseconds how_long);
  ~held_file();
  held_file(const held_file&) = delete;
  held_file& operator=(const held_file&) = delete;
  bool held() const { return held_; }
  // Ends the holder now, which frees the file.
  void release();

 private:
  std::unique_ptr<started_program> holder_;
  bool held_ = false;
};

// A clock for the retrying steps that only moves when they sleep: with it
// installed, a minute of retries runs in no time. on_sleep (if set) runs
// after each sleep, with the number of sleeps so far, so a test can free a
// file after a few seconds of "waiting".
class fake_retry_clock {
 public:
  fake_retry_clock();
  ~fake_retry_clock();
  fake_retry_clock(const fake_retry_clock&) = delete;
  fake_retry_clock& operator=(const fake_retry_clock&) = delete;

  // Milliseconds passed to each Sleep call, in order.
  const std::vector<unsigned long>& sleeps() const;
  // Moves the system clock alone (for example back, as a user might).
  void shift_system_clock(std::int64_t ticks);
  void set_on_sleep(std::function<void(size_t sleep_count)> on_sleep);
};

}  // namespace kestrun::testing
