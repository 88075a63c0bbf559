#include "starter/path_cleanup.h"

#include <filesystem>
#include <new>
#include <ostream>
#include <vector>

#include "runtime/directory_entry.h"
#include "runtime/log.h"
#include "runtime/process.h"
#include "runtime/text.h"

namespace kestrun {

namespace {

// The first read's capacity in UTF-16 units. Most values fit; a longer one
// is read once more into a buffer of the size Windows reported.
constexpr std::size_t first_read_units = 4096;

// ERROR_INSUFFICIENT_BUFFER: the second read still did not fit.
constexpr unsigned long insufficient_buffer = 122;

const environment_calls process_calls{&read_environment_variable, &write_environment_variable};

enum class read_outcome { value, missing, failed };

bool allocate(std::vector<wchar_t>& buffer, std::size_t units) {
  try {
    buffer.resize(units);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void log_read_failure(unsigned long error) {
  log_line_start() << "GetEnvironmentVariable failed with Error: " << error_text(error)
                   << std::endl;
}

// Reads the variable's value, logging why when it cannot: first into 4096
// units; when GetEnvironmentVariableW answers with a larger number, that is
// the size needed (terminating null included), and the value is read once
// more into a buffer of exactly that size.
read_outcome read_variable(const std::wstring& name, const environment_calls& calls,
                           std::wstring& value) {
  const std::string out_of_memory =
      "Loading Environment Variable '" + narrow(name) + "' resultet in 'Out of memory'";
  std::vector<wchar_t> buffer;
  if (!allocate(buffer, first_read_units)) {
    log_line(out_of_memory);
    return read_outcome::failed;
  }
  environment_read read = calls.read(name, buffer.data(), buffer.size());
  // A result of 0 is also what an empty value gives; only the error code
  // tells a missing variable apart.
  if (read.length == 0 && read.error == environment_variable_not_found) {
    log_line("Environment Variable '" + narrow(name) + "' was not found and therefore skipped.");
    return read_outcome::missing;
  }
  if (read.length > buffer.size()) {
    if (!allocate(buffer, read.length)) {
      log_line(out_of_memory);
      return read_outcome::failed;
    }
    read = calls.read(name, buffer.data(), buffer.size());
    if (read.length == 0) {
      log_read_failure(read.error);
      return read_outcome::failed;
    }
    // Only a value that grew between the two reads gets here. Taking what
    // the buffer holds would write back a wrong Path, so the variable is
    // left alone.
    if (read.length > buffer.size()) {
      log_read_failure(insufficient_buffer);
      return read_outcome::failed;
    }
  }
  value.assign(buffer.data(), read.length);
  return read_outcome::value;
}

}  // namespace

const environment_calls& process_environment() { return process_calls; }

std::vector<std::wstring> split_path_entries(const std::wstring& value) {
  std::vector<std::wstring> entries;
  std::size_t start = 0;
  while (start < value.size()) {
    const std::size_t separator = value.find(L';', start);
    if (separator == std::wstring::npos) {
      entries.push_back(value.substr(start));
      break;
    }
    entries.push_back(value.substr(start, separator - start));
    start = separator + 1;
  }
  return entries;
}

std::wstring join_path_entries(const std::vector<std::wstring>& entries) {
  std::wstring value;
  for (const std::wstring& entry : entries) {
    value += entry;
    value += L';';
  }
  return value;
}

std::wstring java_exe_candidate(const std::wstring& entry) {
  if (!entry.empty() && entry.back() == L'\\') return entry + L"java.exe";
  return entry + L"\\java.exe";
}

bool holds_java_exe(const std::wstring& entry) {
  // An empty entry would make Windows search the current directory: it goes
  // like a JDK entry.
  if (entry.empty()) return true;
  const std::wstring candidate = java_exe_candidate(entry);
  // The status of the name itself first (a link is not followed), then
  // whether something is there when links are followed; either throws when
  // Windows cannot say.
  make_entry(candidate);
  return path_exists(candidate);
}

bool remove_jdk_from_variable(const std::wstring& name) {
  return remove_jdk_from_variable(name, process_environment());
}

bool remove_jdk_from_variable(const std::wstring& name, const environment_calls& calls) {
  std::wstring value;
  switch (read_variable(name, calls, value)) {
    case read_outcome::missing:
      return true;
    case read_outcome::failed:
      return false;
    case read_outcome::value:
      break;
  }
  const std::string narrow_name = narrow(name);
  log_line_start() << "Old value for " << narrow_name << ": " << narrow(value) << std::endl;

  std::vector<std::wstring> kept;
  for (const std::wstring& entry : split_path_entries(value)) {
    bool remove = false;
    try {
      remove = holds_java_exe(entry);
    } catch (const std::filesystem::filesystem_error& error) {
      // Windows could not say whether the entry holds java.exe (a share
      // that cannot be reached, a name too long): it is not known to be a
      // JDK, so it stays, and one odd entry does not stop the others from
      // being cleaned or the updater from being started.
      log_line("Could not check " + narrow_name +
               " entry for java.exe, keeping it: " + narrow(entry) + " - " + error.what());
    }
    if (remove) {
      log_line_start() << "Removing JDK/JRE from " << narrow_name << ": " << narrow(entry)
                       << std::endl;
    } else {
      kept.push_back(entry);
    }
  }
  const std::wstring new_value = join_path_entries(kept);
  log_line_start() << "New value for " << narrow_name << ": " << narrow(new_value) << std::endl;

  // Written even when nothing was removed.
  const unsigned long error = calls.write(name, new_value);
  if (error != 0) {
    log_line_start() << "SetEnvironmentVariable failed with Error: " << error_text(error)
                     << std::endl;
    return false;
  }
  return true;
}

}  // namespace kestrun
