#include "runtime/directory_entry.h"

#include <windows.h>

#include <system_error>

#include "runtime/text.h"

namespace kestrun {

namespace {

std::int64_t filetime_ticks(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

std::error_code windows_error(unsigned long code) {
  return std::error_code(static_cast<int>(code), std::system_category());
}

}  // namespace

bool directory_entry::is_directory() const {
  return exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool directory_entry::is_reparse_point() const {
  return exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool is_not_found_error(unsigned long code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
         code == ERROR_BAD_NETPATH || code == ERROR_INVALID_NAME;
}

void throw_windows_error(const char* operation, const fs::path& path1, unsigned long code) {
  throw fs::filesystem_error(operation, path1, windows_error(code));
}

void throw_windows_error(const char* operation, const fs::path& path1, const fs::path& path2,
                         unsigned long code) {
  throw fs::filesystem_error(operation, path1, path2, windows_error(code));
}

directory_entry make_entry(const fs::path& path) {
  directory_entry entry;
  entry.path = path;
  WIN32_FILE_ATTRIBUTE_DATA data;
  // GetFileAttributesExW reports the object under the name itself: for a
  // junction or symbolic link that is the link, not its target.
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    if (is_not_found_error(error)) return entry;
    throw_windows_error("directory_entry::refresh", path, error);
  }
  entry.exists = true;
  entry.attributes = data.dwFileAttributes;
  entry.last_write_filetime = filetime_ticks(data.ftLastWriteTime);
  return entry;
}

std::vector<directory_entry> list_directory(const fs::path& folder) {
  std::vector<directory_entry> entries;
  const fs::path pattern = folder / L"*";
  WIN32_FIND_DATAW data;
  // FindExInfoBasic skips the short 8.3 names; the large fetch asks for
  // bigger batches, which matters for folders with many thousand files.
  HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    throw_windows_error("directory_iterator::directory_iterator", folder, GetLastError());
  }
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    directory_entry entry;
    entry.path = folder / name;
    entry.exists = true;
    entry.attributes = data.dwFileAttributes;
    entry.last_write_filetime = filetime_ticks(data.ftLastWriteTime);
    entries.push_back(std::move(entry));
  } while (FindNextFileW(find, &data));
  const DWORD error = GetLastError();
  FindClose(find);
  if (error != ERROR_NO_MORE_FILES) {
    throw_windows_error("directory_iterator::operator++", folder, error);
  }
  return entries;
}

bool path_exists(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (is_not_found_error(error)) return false;
    throw_windows_error("exists", path, error);
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  // A link: it exists only when its target does. Opening it without
  // FILE_FLAG_OPEN_REPARSE_POINT follows it; no access rights are asked for,
  // so a target held open by another program still counts as there.
  HANDLE target =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (target == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (is_not_found_error(error)) return false;
    throw_windows_error("exists", path, error);
  }
  CloseHandle(target);
  return true;
}

bool is_folder_following_links(const directory_entry& entry) {
  if (!entry.is_reparse_point()) return entry.is_directory();
  // Opening without FILE_FLAG_OPEN_REPARSE_POINT follows the link to its
  // target; FILE_FLAG_BACKUP_SEMANTICS lets the open succeed on a folder.
  HANDLE target =
      CreateFileW(entry.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (target == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (is_not_found_error(error)) return false;
    throw_windows_error("status", entry.path, error);
  }
  BY_HANDLE_FILE_INFORMATION information;
  const BOOL known = GetFileInformationByHandle(target, &information);
  const DWORD error = GetLastError();
  CloseHandle(target);
  if (!known) throw_windows_error("status", entry.path, error);
  return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string narrow_path(const fs::path& path) { return narrow(path.wstring()); }

std::string entry_name(const directory_entry& entry) {
  const std::wstring& text = entry.path.native();
  const size_t separator = text.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return narrow(text);
  return narrow(text.substr(separator + 1));
}

std::int64_t last_write_unix_seconds(const directory_entry& entry) {
  // FILETIME counts from 1601; 11644473600 seconds lie between 1601 and 1970.
  const std::int64_t since_1970 = entry.last_write_filetime - 116444736000000000LL;
  return since_1970 / 10000000;
}

}  // namespace kestrun
