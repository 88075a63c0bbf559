// Helpers shared by the tests: throw-away folders, starting the real
// programs, reading what they left behind.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

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

// Waits until a file exists (the stand-in updater writes its record last).
bool wait_for_file(const fs::path& file,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20));

// What the stand-in updater recorded about its start.
struct start_record {
  std::string command_line;
  std::string working_directory;
  std::string path_variable;
};
// Waits for and reads "<program>.record.txt" in folder.
bool read_start_record(const fs::path& folder, const std::string& program, start_record& record);

// The log texts without their time-stamp prefixes, one per physical line.
// Lines that should carry a prefix and do not (or the reverse) make the
// result hold a marker text, so tests comparing whole logs notice.
std::vector<std::string> log_texts(const std::string& log_bytes);

// True when line begins with a well-formed "YYYY-MM-DD hh:mm:ss.mmm: ".
bool has_log_prefix(const std::string& line);

// Splits bytes at CR LF; a trailing part without CR LF is returned as well.
std::vector<std::string> split_crlf(const std::string& bytes);

}  // namespace kestrun::testing
