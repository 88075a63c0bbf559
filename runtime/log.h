// The one log of a run: a plain-text file under ./log, written afresh at
// every start (the one before kept beside it), one time-stamped line per
// message with CR LF line ends.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <ostream>
#include <string>

namespace kestrun {

// An output stream on one file. Every line end goes to disk as CR LF and
// flushes the line at once, written in one piece at the end of the file (so
// two processes writing the same log never overwrite each other's lines), so a killed run leaves
// every completed line in the file. When the file could not be opened, or a write failed, the
// stream stays failed and drops everything silently: logging never changes the course of a run.
class log_file : public std::ostream {
 public:
  log_file();
  ~log_file() override;
  log_file(const log_file&) = delete;
  log_file& operator=(const log_file&) = delete;

  // Creates or truncates the file, shared for reading and writing with other
  // processes. Returns false (and leaves the stream failed) when it cannot.
  bool open(const std::string& file_name);
  // Opens the file (creating it if needed) without emptying it: the lines
  // are added after what is there.
  bool open_for_append(const std::string& file_name);
  void close();
  bool is_open() const;

 private:
  bool open_file(const std::string& file_name, unsigned long disposition);
  class file_buffer;
  std::unique_ptr<file_buffer> buffer_;
};

// The process-wide log of this run; opened by the entry point.
extern log_file starter_log;

// Creates the log directory (and missing parents); a folder that is there
// already is never an error. Throws std::filesystem::filesystem_error
// naming "create_directories" when the folder cannot be made, for instance
// because a plain file has its name.
void create_log_directory(const std::string& directory);

// Keeps the previous run's log as previous_file (replacing an older one),
// to be called before log_file is opened and emptied. Returns the line to
// log when it could not be kept (the log is then emptied all the same);
// empty when it was kept or there was none.
std::string keep_previous_log(const std::string& log_file, const std::string& previous_file);

// System-clock reading in 100-nanosecond ticks since 1970-01-01 00:00 UTC.
std::int64_t system_clock_ticks();

// "2026-03-07 09:05:02.047: " for a local calendar time and milliseconds.
std::string format_log_prefix(const std::tm& local_time, int milliseconds);

// The prefix for one clock reading: whole seconds broken down in local time,
// milliseconds truncated.
std::string log_prefix(std::int64_t ticks);

// The prefix for the current time.
std::string log_prefix();

// Writes one whole line: prefix, text, line end; flushes it.
void log_line(std::string text);

// Writes the prefix of a new line and hands back the log stream. The caller
// ends the line with std::endl (or '\n'), which flushes it.
std::ostream& log_line_start();

}  // namespace kestrun
