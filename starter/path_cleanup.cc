#include "starter/path_cleanup.h"

#include <exception>
#include <filesystem>
#include <new>
#include <vector>

#include "runtime/directory_entry.h"
#include "runtime/environment.h"
#include "runtime/log.h"
#include "runtime/process.h"
#include "runtime/text.h"

namespace kestrun {

namespace {

constexpr size_t first_read_units = 4096;

// Reads the variable: first into 4096 units, and when the value is longer,
// once more into a buffer of the size Windows reported. Returns false after
// logging why the value could not be read; missing is set when the variable
// does not exist at all.
bool read_variable(const std::wstring& name, std::wstring& value, bool& missing) {
  const std::string narrow_name = narrow(name);
  const std::string out_of_memory =
      "Loading Environment Variable '" + narrow_name + "' resultet in 'Out of memory'";
  missing = false;
  std::vector<wchar_t> buffer;
  try {
    buffer.resize(first_read_units);
  } catch (const std::bad_alloc&) {
    log_line(out_of_memory);
    return false;
  }
  environment_read read = read_environment_variable(name, buffer.data(), first_read_units);
  if (read.length == 0 && read.error == environment_variable_not_found) {
    log_line("Environment Variable '" + narrow_name + "' was not found and therefore skipped.");
    missing = true;
    return true;
  }
  if (read.length > first_read_units) {
    const size_t needed = read.length;
    try {
      buffer.resize(needed);
    } catch (const std::bad_alloc&) {
      log_line(out_of_memory);
      return false;
    }
    read = read_environment_variable(name, buffer.data(), needed);
    if (read.length == 0) {
      log_line_start() << "GetEnvironmentVariable failed with Error: " << error_text(read.error)
                       << std::endl;
      return false;
    }
  }
  value.assign(buffer.data(), read.length < buffer.size() ? read.length : 0);
  return true;
}

}  // namespace

std::vector<std::wstring> split_path_entries(const std::wstring& value) {
  std::vector<std::wstring> entries;
  size_t start = 0;
  while (start < value.size()) {
    const size_t separator = value.find(L';', start);
    if (separator == std::wstring::npos) {
      entries.push_back(value.substr(start));
      break;
    }
    entries.push_back(value.substr(start, separator - start));
    start = separator + 1;
  }
  return entries;
}

std::wstring java_exe_candidate(const std::wstring& entry) {
  if (!entry.empty() && entry.back() == L'\\') return entry + L"java.exe";
  return entry + L"\\java.exe";
}

bool holds_java_exe(const std::wstring& entry) {
  if (entry.empty()) return true;
  const std::wstring candidate = java_exe_candidate(entry);
  make_entry(candidate);
  return path_exists(candidate);
}

bool remove_jdk_from_variable(const std::wstring& name) {
  const std::string narrow_name = narrow(name);
  std::wstring value;
  bool missing = false;
  if (!read_variable(name, value, missing)) return false;
  if (missing) return true;

  log_line_start() << "Old value for " << narrow_name << ": " << narrow(value) << std::endl;
  std::wstring new_value;
  for (const std::wstring& entry : split_path_entries(value)) {
    bool remove = false;
    try {
      remove = holds_java_exe(entry);
    } catch (const std::exception& error) {
      // An entry that cannot be checked (an unreachable share, a drive that
      // is not ready, a name too long) is not known to hold java.exe: it
      // stays, and one bad entry does not cost the user the update.
      log_line("Could not check " + narrow_name +
               " entry for java.exe, keeping it: " + narrow(entry) + " - " + error.what());
    }
    if (remove) {
      log_line_start() << "Removing JDK/JRE from " << narrow_name << ": " << narrow(entry)
                       << std::endl;
    } else {
      new_value += entry;
      new_value += L';';
    }
  }
  log_line_start() << "New value for " << narrow_name << ": " << narrow(new_value) << std::endl;

  const unsigned long error = write_environment_variable(name, new_value);
  if (error != 0) {
    log_line_start() << "SetEnvironmentVariable failed with Error: " << error_text(error)
                     << std::endl;
    return false;
  }
  return true;
}

}  // namespace kestrun
