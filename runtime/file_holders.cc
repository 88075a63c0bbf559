#include "runtime/file_holders.h"

#include <windows.h>

#include <restartmanager.h>

#include <cwchar>
#include <deque>
#include <set>
#include <tuple>

#include "runtime/directory_entry.h"
#include "runtime/dll_search.h"
#include "runtime/log.h"
#include "runtime/text.h"

namespace kestrun {

namespace {

// The four calls of rstrtmgr.dll, looked up once. The types come from the
// header; nothing is linked against the DLL.
struct restart_manager {
  decltype(&RmStartSession) start_session = nullptr;
  decltype(&RmRegisterResources) register_resources = nullptr;
  decltype(&RmGetList) get_list = nullptr;
  decltype(&RmEndSession) end_session = nullptr;
  unsigned long error = 0;
};

template <typename Function>
void resolve(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

restart_manager load_restart_manager() {
  restart_manager manager;
  HMODULE module = static_cast<HMODULE>(load_system_dll(L"rstrtmgr.dll"));
  if (module == nullptr) {
    manager.error = GetLastError();
    return manager;
  }
  resolve(module, "RmStartSession", manager.start_session);
  resolve(module, "RmRegisterResources", manager.register_resources);
  resolve(module, "RmGetList", manager.get_list);
  resolve(module, "RmEndSession", manager.end_session);
  if (!manager.start_session || !manager.register_resources || !manager.get_list ||
      !manager.end_session) {
    manager.error = ERROR_PROC_NOT_FOUND;
  }
  return manager;
}

const restart_manager& loaded_restart_manager() {
  static const restart_manager manager = load_restart_manager();
  return manager;
}

file_holder holder_of(const RM_PROCESS_INFO& info) {
  file_holder holder;
  holder.process_id = info.Process.dwProcessId;
  // A service has its display name here, or only its short name.
  const wchar_t* name = info.strAppName[0] != L'\0' ? info.strAppName : info.strServiceShortName;
  const std::size_t capacity =
      name == info.strAppName ? CCH_RM_MAX_APP_NAME + 1 : CCH_RM_MAX_SVC_NAME + 1;
  holder.name = narrow(std::wstring(name, wcsnlen(name, capacity)));
  return holder;
}

// Reads the session's list into holders. The first call asks how many
// there are; the list can grow before the second, which then asks again.
DWORD read_holders(const restart_manager& manager, DWORD session,
                   std::vector<file_holder>& holders) {
  std::vector<RM_PROCESS_INFO> infos;
  for (int attempt = 0; attempt < 3; ++attempt) {
    UINT needed = 0;
    UINT count = static_cast<UINT>(infos.size());
    DWORD reboot_reasons = 0;
    const DWORD error = manager.get_list(session, &needed, &count,
                                         infos.empty() ? nullptr : infos.data(), &reboot_reasons);
    if (error == ERROR_SUCCESS) {
      for (UINT i = 0; i < count && i < infos.size(); ++i) holders.push_back(holder_of(infos[i]));
      return ERROR_SUCCESS;
    }
    if (error != ERROR_MORE_DATA) return error;
    infos.resize(needed);
  }
  return ERROR_MORE_DATA;
}

holder_lookup current_lookup = restart_manager_holders;
std::set<std::tuple<std::wstring, std::wstring, int>> looked_up;

bool names_a_holder(const std::error_code& code) {
  if (code.category() != std::system_category()) return false;
  const int value = code.value();
  return value == ERROR_ACCESS_DENIED || value == ERROR_SHARING_VIOLATION ||
         value == ERROR_LOCK_VIOLATION;
}

void add_files(const fs::path& path, std::vector<std::wstring>& files) {
  if (path.empty()) return;
  const std::vector<std::wstring> found = files_to_look_up(path);
  files.insert(files.end(), found.begin(), found.end());
}

}  // namespace

holder_lookup_result restart_manager_holders(const std::vector<std::wstring>& files) {
  holder_lookup_result result;
  const restart_manager& manager = loaded_restart_manager();
  result.error = manager.error;
  if (result.error != 0) return result;
  DWORD session = 0;
  WCHAR session_key[CCH_RM_SESSION_KEY + 1] = {};
  result.error = manager.start_session(&session, 0, session_key);
  if (result.error != 0) return result;
  std::vector<LPCWSTR> names;
  for (const std::wstring& file : files) names.push_back(file.c_str());
  result.error = manager.register_resources(session, static_cast<UINT>(names.size()), names.data(),
                                            0, nullptr, 0, nullptr);
  if (result.error == 0) result.error = read_holders(manager, session, result.holders);
  manager.end_session(session);
  if (result.error != 0) result.holders.clear();
  return result;
}

std::vector<std::wstring> files_to_look_up(const fs::path& path) {
  fs::path full;
  try {
    full = full_path_name(path);
  } catch (const fs::filesystem_error&) {
    return {};
  }
  const DWORD attributes = GetFileAttributesW(full.c_str());
  const bool folder = attributes != INVALID_FILE_ATTRIBUTES &&
                      (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                      !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (!folder) return {full.wstring()};
  // The Restart Manager knows who holds files, not folders: a folder that
  // cannot be renamed or removed is held through the files in it.
  std::vector<std::wstring> files;
  std::deque<fs::path> folders{full};
  while (!folders.empty() && files.size() < holder_lookup_folder_bound) {
    std::vector<directory_entry> entries;
    try {
      entries = list_directory(folders.front());
    } catch (const fs::filesystem_error&) {
      // A folder that cannot be listed is passed over; its holders stay
      // unnamed, and the report above already tells why it failed.
    }
    folders.pop_front();
    for (const directory_entry& entry : entries) {
      if (entry.is_link()) continue;
      if (entry.is_directory()) {
        folders.push_back(entry.path);
      } else if (files.size() < holder_lookup_folder_bound) {
        files.push_back(entry.path.wstring());
      }
    }
  }
  return files;
}

std::string holders_text(const std::vector<file_holder>& holders) {
  std::string text;
  for (const file_holder& holder : holders) {
    if (!text.empty()) text += ", ";
    text += holder.name + " (process id " + std::to_string(holder.process_id) + ")";
  }
  return text;
}

std::string programs_holding(const fs::path& path) {
  // Naming the holder only adds to a line: not even exhausted memory on
  // the way may change what the run does.
  try {
    std::vector<std::wstring> files;
    add_files(path, files);
    if (!files.empty()) return holders_text(current_lookup(files).holders);
  } catch (...) {
  }
  return std::string();
}

void log_programs_holding(const fs::path& path1, const fs::path& path2,
                          const std::error_code& code) {
  if (!names_a_holder(code) || looked_up.size() >= holder_lookups_per_run) return;
  try {
    if (!looked_up.emplace(path1.native(), path2.native(), code.value()).second) return;
    std::vector<std::wstring> files;
    add_files(path1, files);
    add_files(path2, files);
    if (files.empty()) return;
    // A lookup that fails or finds nothing adds nothing: the report above
    // is the whole story then.
    const std::string text = holders_text(current_lookup(files).holders);
    if (!text.empty()) log_line("In use by: " + text);
  } catch (...) {
    // It runs inside the handler of a failed delete or rename, which must
    // not throw.
  }
}

scoped_holder_lookup::scoped_holder_lookup(holder_lookup lookup) : previous_(current_lookup) {
  current_lookup = lookup;
  looked_up.clear();
}

scoped_holder_lookup::~scoped_holder_lookup() {
  current_lookup = previous_;
  looked_up.clear();
}

}  // namespace kestrun
