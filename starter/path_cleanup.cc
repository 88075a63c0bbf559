#include "starter/path_cleanup.h"

#include <filesystem>
#include <map>
#include <new>
#include <ostream>
#include <string>
#include <utility>
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
const java_exe_queries file_system_calls{&make_entry, &path_exists};

// Windows compares variable names without case, so all three name the same
// variable; each call logs its own old and new value.
constexpr const wchar_t* path_variable_names[] = {L"Path", L"PATH", L"path"};

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

bool holds_java_exe_by(const std::wstring& entry, const java_exe_queries& queries) {
  // An empty entry would make Windows search the current directory: it goes
  // like a JDK entry.
  if (entry.empty()) return true;
  const std::wstring candidate = java_exe_candidate(entry);
  // The status of the name itself first (a link is not followed). When
  // nothing is there, nothing is there when links are followed either; when
  // something is, it may be a link whose target is gone. Either query
  // throws when Windows cannot say.
  if (!queries.status(candidate).exists) return false;
  return queries.exists(candidate);
}

enum class verdict { keep, remove, unknown };

struct entry_answer {
  verdict outcome = verdict::keep;
  // For verdict::unknown: the description of the error Windows gave.
  std::string error;
};

// The answers of the checks made so far, by entry text. The calls that
// share one set are those of one run, moments apart and with the same
// current directory, so an answer is taken to hold for all of them.
class entry_answers {
 public:
  explicit entry_answers(const java_exe_queries& queries) : queries_(queries) {}

  const entry_answer& of(const std::wstring& entry) {
    const auto known = answers_.find(entry);
    if (known != answers_.end()) return known->second;
    entry_answer answer;
    try {
      answer.outcome = holds_java_exe_by(entry, queries_) ? verdict::remove : verdict::keep;
    } catch (const std::filesystem::filesystem_error& error) {
      answer.outcome = verdict::unknown;
      answer.error = error.what();
    }
    return answers_.emplace(entry, std::move(answer)).first->second;
  }

 private:
  const java_exe_queries& queries_;
  // std::map keeps the references of() hands out valid as it grows.
  std::map<std::wstring, entry_answer> answers_;
};

// The entries of the value that are not to be removed, with a log line for
// each one removed and each one that could not be checked.
std::vector<std::wstring> kept_entries(const std::string& narrow_name, const std::wstring& value,
                                       entry_answers& answers) {
  std::vector<std::wstring> kept;
  for (const std::wstring& entry : split_path_entries(value)) {
    const entry_answer& answer = answers.of(entry);
    switch (answer.outcome) {
      case verdict::remove:
        log_line_start() << "Removing JDK/JRE from " << narrow_name << ": " << narrow(entry)
                         << std::endl;
        break;
      case verdict::unknown:
        // Windows could not say whether the entry holds java.exe (a share
        // that cannot be reached, a name too long): it is not known to be
        // a JDK, so it stays, and one odd entry does not stop the others
        // from being cleaned or the updater from being started.
        log_line("Could not check " + narrow_name +
                 " entry for java.exe, keeping it: " + narrow(entry) + " - " + answer.error);
        kept.push_back(entry);
        break;
      case verdict::keep:
        kept.push_back(entry);
        break;
    }
  }
  return kept;
}

bool remove_jdk(const std::wstring& name, const environment_calls& calls, entry_answers& answers) {
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

  const std::wstring new_value = join_path_entries(kept_entries(narrow_name, value, answers));
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

}  // namespace

const environment_calls& process_environment() { return process_calls; }

const java_exe_queries& file_system_queries() { return file_system_calls; }

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
  return holds_java_exe_by(entry, file_system_queries());
}

bool remove_jdk_from_variable(const std::wstring& name) {
  return remove_jdk_from_variable(name, process_environment());
}

bool remove_jdk_from_variable(const std::wstring& name, const environment_calls& calls) {
  entry_answers answers(file_system_queries());
  return remove_jdk(name, calls, answers);
}

void remove_jdk_from_path(const java_exe_queries& queries) {
  entry_answers answers(queries);
  for (const wchar_t* name : path_variable_names) {
    if (!remove_jdk(name, process_environment(), answers)) {
      log_line("Failed to remove Jdk from Path");
    }
  }
}

}  // namespace kestrun
