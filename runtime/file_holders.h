// The programs that hold a file, as the Restart Manager sees them. A failed
// delete or rename says only "in use" (32), "locked" (33) or "access
// denied" (5); which program has the file open or loaded is what the reader
// of the log needs to know to end it.
//
// rstrtmgr.dll is loaded from the system folder at the first lookup, never
// on a run where nothing failed, and is not imported: the programs import
// only the DLLs every Windows loads anyway.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace kestrun {

struct file_holder {
  // The program's name as the Restart Manager gives it (its description,
  // or a service's name), UTF-8.
  std::string name;
  unsigned long process_id = 0;
};

struct holder_lookup_result {
  std::vector<file_holder> holders;
  // 0, or the Windows error of the step that failed (loading the DLL
  // included); the holders are then empty.
  unsigned long error = 0;
};

// The most files registered for one folder. A runtime holds a few hundred
// to a few thousand; the first thousand, breadth first, take in the
// programs and DLLs of its top folders, which are what a running program
// holds.
inline constexpr std::size_t holder_lookup_folder_bound = 1000;

// The most lookups in one run. On a busy machine one lookup can take a
// tenth of a second or more; a step that fails for hundreds of files must
// not spend its minute of retries on them.
inline constexpr std::size_t holder_lookups_per_run = 16;

// The Restart Manager's list of the programs that have any of the files
// (full paths) open or loaded: a session is started, the files registered,
// the list read and the session ended.
holder_lookup_result restart_manager_holders(const std::vector<std::wstring>& files);

// What is registered for a path: the full path of a file, or for a folder
// the full paths of the files in it and below it, breadth first, without
// entering links, at most holder_lookup_folder_bound of them. Empty when
// the path cannot be made full.
std::vector<std::wstring> files_to_look_up(const std::filesystem::path& path);

// "name (process id 12), other name (process id 34)".
std::string holders_text(const std::vector<file_holder>& holders);

// holders_text for the programs holding path, through the lookup in place;
// empty when none is found or the lookup fails.
std::string programs_holding(const std::filesystem::path& path);

// Written after the error report of a failed delete or rename. For the
// codes 5, 32 and 33 of the system category it looks up the programs
// holding path1 and path2 (path2 may be empty) and, when it finds any, logs
// "In use by: " and holders_text. Each paths and code are looked up once
// per run (a file held for the whole minute of retries gets one line, not
// sixty), and at most holder_lookups_per_run times in all.
void log_programs_holding(const std::filesystem::path& path1, const std::filesystem::path& path2,
                          const std::error_code& code);

// Hook for tests: Wine's Restart Manager never finds a holder, so a test
// puts a lookup of its own in the Restart Manager's place until the guard
// goes. Installing or removing it also forgets which paths were looked up.
using holder_lookup = holder_lookup_result (*)(const std::vector<std::wstring>& files);
class scoped_holder_lookup {
 public:
  explicit scoped_holder_lookup(holder_lookup lookup);
  ~scoped_holder_lookup();
  scoped_holder_lookup(const scoped_holder_lookup&) = delete;
  scoped_holder_lookup& operator=(const scoped_holder_lookup&) = delete;

 private:
  holder_lookup previous_;
};

}  // namespace kestrun
