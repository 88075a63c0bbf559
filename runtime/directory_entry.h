// Directory entries: a path together with what Windows said about it when
// the entry was made, and flat listings of a folder.
//
// These are thin wrappers over the Win32 calls rather than std::filesystem:
// MinGW's libstdc++ turns several Windows errors into errno values (a failed
// status of an invalid name is not "not found" there), and the log must show
// what Windows said. Every failure is thrown as a
// std::filesystem::filesystem_error carrying the Windows error code in the
// system category.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrun {

namespace fs = std::filesystem;

struct directory_entry {
  fs::path path;
  bool exists = false;
  std::uint32_t attributes = 0;
  // Last write time as FILETIME ticks (100 ns since 1601-01-01 UTC).
  std::int64_t last_write_filetime = 0;
  // The reparse point's tag (IO_REPARSE_TAG_...), 0 for any other entry.
  std::uint32_t reparse_tag = 0;

  bool is_directory() const;
  // A junction, a symbolic link or another reparse point.
  bool is_reparse_point() const;
  // A reparse point that stands for another name: a junction or a symbolic
  // link. Other reparse points (a cloud file's placeholder, a deduplicated
  // file) hold their own contents and are ordinary files and folders.
  bool is_link() const;
};

// Windows errors that only mean "nothing is there": 2 file not found, 3 path
// not found, 53 network path not found, 123 invalid name.
bool is_not_found_error(unsigned long code);

// The filesystem_error thrown for a Windows error. Its description is UTF-8
// from end to end: the standard library's own would word the system's
// message in the ANSI code page, which cannot express every language's text
// and does not match the UTF-8 names beside it in the log.
class windows_filesystem_error : public fs::filesystem_error {
 public:
  windows_filesystem_error(const char* operation, const fs::path& path1, const fs::path& path2,
                           bool two_paths, unsigned long code);
  const char* what() const noexcept override { return what_.c_str(); }
  const char* operation() const noexcept { return operation_; }

 private:
  const char* operation_;
  std::string what_;
};

// The system's message for a Windows error code as UTF-8, without the
// line end the system puts after it.
std::string windows_error_message(unsigned long code);

// Throws the windows_filesystem_error for a Windows error code.
[[noreturn]] void throw_windows_error(const char* operation, const fs::path& path1,
                                      unsigned long code);
[[noreturn]] void throw_windows_error(const char* operation, const fs::path& path1,
                                      const fs::path& path2, unsigned long code);

// Reads the entry's status now, without following a link. A missing path
// gives an entry with exists == false; any other error is thrown.
directory_entry make_entry(const fs::path& path);

// The entries of a folder, one level, without "." and "..", in the order the
// file system returns them. Each entry's path is the folder joined with the
// entry's name. Throws when the folder cannot be listed.
std::vector<directory_entry> list_directory(const fs::path& folder);

// Whether something exists under the path, following links: a link whose
// target is gone does not count. Not-found errors give false; others throw.
bool path_exists(const fs::path& path);

// Whether the entry is a folder, following links: a junction or link to a
// folder counts, a link to a file or to nothing does not. Not-found errors
// give false; others throw.
bool is_folder_following_links(const directory_entry& entry);

// The absolute path Windows makes of a name (GetFullPathNameW): relative
// names count from the working directory, "." and ".." components are
// resolved, and the last component loses its trailing dots and blanks, so
// "g\\jdk." names "g\\jdk" and "g\\ " names "g\\" itself. Throws when Windows
// cannot make one.
fs::path full_path_name(const fs::path& path);

// Whether path, as Windows resolves it, names an entry directly inside
// folder (resolved the same way), and not folder itself, its parent or
// anything further away.
bool names_entry_directly_inside(const fs::path& path, const fs::path& folder);

// The entry's name (last path component) as a narrow (UTF-8) string.
std::string entry_name(const directory_entry& entry);
std::string narrow_path(const fs::path& path);

// Last write time in whole seconds since 1970-01-01 00:00:00 UTC, truncated
// toward zero (so a time before 1970 within its first second gives 0 and
// anything earlier a negative number).
std::int64_t last_write_unix_seconds(const directory_entry& entry);

// Hook for tests: when set, it sees (and may change) every entry make_entry
// and list_directory hand out. Wine cannot make junctions or symbolic links,
// so a test marks a folder as one here.
using entry_status_hook = void (*)(directory_entry& entry);
void set_entry_status_hook(entry_status_hook hook);

}  // namespace kestrun
