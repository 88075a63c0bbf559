#include "runtime/file_operations.h"

#include <windows.h>

#include <exception>
#include <functional>
#include <ostream>
#include <vector>

#include "runtime/file_holders.h"
#include "runtime/log.h"
#include "runtime/text.h"

namespace kestrun {

namespace {

// Removes one file, link or empty folder. A folder-like reparse point (a
// junction or a directory symbolic link) is removed with RemoveDirectoryW,
// which deletes the link and never touches what it points to.
void remove_single(const directory_entry& entry, const fs::path& shown) {
  const wchar_t* path = entry.path.c_str();
  if (entry.is_directory()) {
    if (RemoveDirectoryW(path)) return;
    const DWORD error = GetLastError();
    // Gone in the meantime: what was to be removed is not there.
    if (is_not_found_error(error)) return;
    throw_windows_error("remove", shown, error);
  }
  if (DeleteFileW(path)) return;
  DWORD error = GetLastError();
  if (is_not_found_error(error)) return;
  // DeleteFileW refuses read-only files with "access denied". An old DLL or
  // jar shipped read-only is still to be replaced, so the attribute is
  // cleared and the delete tried once more; it is put back if that fails.
  if (error == ERROR_ACCESS_DENIED && (entry.attributes & FILE_ATTRIBUTE_READONLY)) {
    if (SetFileAttributesW(path, entry.attributes & ~FILE_ATTRIBUTE_READONLY)) {
      if (DeleteFileW(path)) return;
      error = GetLastError();
      SetFileAttributesW(path, entry.attributes);
    }
  }
  throw_windows_error("remove", shown, error);
}

// Removes a tree that is walked in the "\\?\" form. shown is the same path
// in the form the caller gave, which is what an error names: the reader
// sees the path of the line above the report, not the internal form.
void remove_tree(const directory_entry& entry, const fs::path& shown) {
  if (!entry.exists) return;
  if (entry.is_directory() && !is_link_to_remove_not_descend(entry)) {
    std::vector<directory_entry> children;
    try {
      children = list_directory(entry.path);
    } catch (const windows_filesystem_error& error) {
      throw_windows_error(error.operation(), shown,
                          static_cast<unsigned long>(error.code().value()));
    }
    for (const directory_entry& child : children) {
      remove_tree(child, shown / child.path.filename());
    }
  }
  remove_single(entry, shown);
}

}  // namespace

fs::path extended_length_path(const fs::path& path) {
  const std::wstring& text = path.native();
  if (text.rfind(L"\\\\?\\", 0) == 0) return path;
  const std::wstring full = full_path_name(path).native();
  if (full.rfind(L"\\\\", 0) == 0) return fs::path(L"\\\\?\\UNC\\" + full.substr(2));
  return fs::path(L"\\\\?\\" + full);
}

bool is_link_to_remove_not_descend(const directory_entry& entry) { return entry.is_link(); }

std::string quoted_path(const std::filesystem::path& path) {
  std::string quoted = "\"";
  for (const char c : narrow(path.wstring())) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

void log_error_report(const std::string& first_line,
                      const std::filesystem::filesystem_error& error) {
  log_line_start() << first_line << std::endl;
  starter_log << "what():  " << error.what() << std::endl;
  starter_log << "path1(): " << quoted_path(error.path1()) << std::endl;
  starter_log << "path2(): " << quoted_path(error.path2()) << std::endl;
  starter_log << "code().value():    " << error.code().value() << std::endl;
  // The system's own text for its codes, as UTF-8 like the rest of the log.
  const bool windows_code = error.code().category() == std::system_category();
  starter_log << "code().message():  "
              << (windows_code
                      ? windows_error_message(static_cast<unsigned long>(error.code().value()))
                      : error.code().message())
              << std::endl;
  starter_log << "code().category(): " << error.code().category().name() << std::endl;
  log_programs_holding(error.path1(), error.path2(), error.code());
}

// Runs one operation and turns whatever it throws into the error report
// (or, for anything but a filesystem error, its first line) and false.
template <typename Operation>
bool logged(const std::string& first_line, Operation operation) {
  try {
    operation();
    return true;
  } catch (const std::filesystem::filesystem_error& error) {
    log_error_report(first_line, error);
  } catch (...) {
    log_line(first_line);
  }
  return false;
}

void remove_entry(const directory_entry& current, bool recursive) {
  if (!current.exists) return;
  if (!recursive) return remove_single(current, current.path);
  directory_entry tree = current;
  tree.path = extended_length_path(current.path);
  remove_tree(tree, current.path);
}

bool logged_as_delete(const directory_entry& entry, const std::function<void()>& operation) {
  return logged("Error deleting '" + entry_name(entry) + "'", operation);
}

bool delete_entry(directory_entry entry, bool recursive) {
  // Read the status afresh: the entry may be from a listing made a while
  // ago, and what is there now decides how it is removed.
  return logged_as_delete(entry, [&] { remove_entry(make_entry(entry.path), recursive); });
}

bool rename_entry(directory_entry entry, std::string new_name) {
  return logged("Error renaming '" + entry_name(entry) + "' to '" + new_name + "'", [&] {
    const std::filesystem::path target(widen(new_name));
    if (!MoveFileExW(entry.path.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
      throw_windows_error("rename", entry.path, target, GetLastError());
    }
  });
}

}  // namespace kestrun
