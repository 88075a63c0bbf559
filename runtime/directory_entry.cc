#include "runtime/directory_entry.h"

#include <windows.h>

#include <system_error>

#include "runtime/process.h"
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

entry_status_hook status_hook = nullptr;

// The tag of the reparse point under path, read from the point itself
// (FILE_FLAG_OPEN_REPARSE_POINT). When it cannot be read, the entry counts
// as a link: treated as one, it is removed without being descended into,
// which never touches what it might point to.
std::uint32_t reparse_tag_of(const fs::path& path) {
  HANDLE point = CreateFileW(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  FILE_ATTRIBUTE_TAG_INFO info{};
  const bool known = point != INVALID_HANDLE_VALUE &&
                     GetFileInformationByHandleEx(point, FileAttributeTagInfo, &info, sizeof info);
  if (point != INVALID_HANDLE_VALUE) CloseHandle(point);
  return known ? info.ReparseTag : IO_REPARSE_TAG_SYMLINK;
}

}  // namespace

bool directory_entry::is_directory() const {
  return exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool directory_entry::is_reparse_point() const {
  return exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool directory_entry::is_link() const {
  return is_reparse_point() && IsReparseTagNameSurrogate(reparse_tag);
}

bool is_not_found_error(unsigned long code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
         code == ERROR_BAD_NETPATH || code == ERROR_INVALID_NAME;
}

std::string windows_error_message(unsigned long code) {
  std::string text = error_text(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

windows_filesystem_error::windows_filesystem_error(const char* operation, const fs::path& path1,
                                                   const fs::path& path2, bool two_paths,
                                                   unsigned long code)
    : fs::filesystem_error(operation, path1, path2, windows_error(code)), operation_(operation) {
  // Worded like the standard library's description.
  what_ = std::string("filesystem error: ") + operation + ": " + windows_error_message(code) +
          " [" + narrow(path1.wstring()) + "]";
  if (two_paths) what_ += " [" + narrow(path2.wstring()) + "]";
}

void throw_windows_error(const char* operation, const fs::path& path1, unsigned long code) {
  throw windows_filesystem_error(operation, path1, fs::path(), false, code);
}

void throw_windows_error(const char* operation, const fs::path& path1, const fs::path& path2,
                         unsigned long code) {
  throw windows_filesystem_error(operation, path1, path2, true, code);
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
  if (entry.is_reparse_point()) entry.reparse_tag = reparse_tag_of(path);
  if (status_hook) status_hook(entry);
  return entry;
}

std::vector<directory_entry> list_directory(const fs::path& folder) {
  // The folder is read in large batches (FileFullDirectoryInfo into 256 KiB)
  // rather than entry by entry with FindNextFileW: in an installation of
  // many thousand files the listing is most of a healthy run's time, and
  // each of the steps lists the folder afresh.
  HANDLE directory = CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) {
    throw_windows_error("directory_iterator::directory_iterator", folder, GetLastError());
  }
  std::vector<directory_entry> entries;
  // FILE_FULL_DIR_INFO records are 8-byte aligned within the buffer.
  std::vector<LONGLONG> buffer(256 * 1024 / sizeof(LONGLONG));
  const DWORD buffer_bytes = static_cast<DWORD>(buffer.size() * sizeof(LONGLONG));
  DWORD error = ERROR_SUCCESS;
  while (
      GetFileInformationByHandleEx(directory, FileFullDirectoryInfo, buffer.data(), buffer_bytes)) {
    const char* record = reinterpret_cast<const char*>(buffer.data());
    for (;;) {
      const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(record);
      const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        directory_entry entry;
        entry.path = folder / name;
        entry.exists = true;
        entry.attributes = info->FileAttributes;
        entry.last_write_filetime = info->LastWriteTime.QuadPart;
        // For a reparse point the listing gives its tag in place of the
        // size of extended attributes.
        if (entry.is_reparse_point()) entry.reparse_tag = info->EaSize;
        if (status_hook) status_hook(entry);
        entries.push_back(std::move(entry));
      }
      if (info->NextEntryOffset == 0) break;
      record += info->NextEntryOffset;
    }
  }
  error = GetLastError();
  CloseHandle(directory);
  if (error != ERROR_NO_MORE_FILES) {
    // A plain file opens as well but cannot be read as a folder.
    throw_windows_error(entries.empty() ? "directory_iterator::directory_iterator"
                                        : "directory_iterator::operator++",
                        folder, error == ERROR_INVALID_PARAMETER ? ERROR_DIRECTORY : error);
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

void set_entry_status_hook(entry_status_hook hook) { status_hook = hook; }

fs::path full_path_name(const fs::path& path) {
  const std::wstring& text = path.native();
  const DWORD needed = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
  if (needed == 0) throw_windows_error("full_path_name", path, GetLastError());
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(text.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) {
    throw_windows_error("full_path_name", path, length == 0 ? GetLastError() : ERROR_BAD_LENGTH);
  }
  full.resize(length);
  return fs::path(full);
}

bool names_entry_directly_inside(const fs::path& path, const fs::path& folder) {
  const fs::path entry = full_path_name(path);
  // A name that resolves to a folder with a trailing separator ("g\\ ")
  // has no last component of its own: it is the folder, not an entry of it.
  if (!entry.has_filename()) return false;
  fs::path inside = full_path_name(folder);
  if (!inside.has_filename() && inside.has_relative_path()) inside = inside.parent_path();
  return entry.parent_path() == inside;
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
