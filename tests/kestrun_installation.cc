#include "tests/kestrun_installation.h"

#include <algorithm>

#include "runtime/text.h"

namespace kestrun::testing {

namespace {

std::wstring get_path_variable() {
  const DWORD needed = GetEnvironmentVariableW(L"Path", nullptr, 0);
  if (needed == 0) return std::wstring();
  std::wstring value(needed, L'\0');
  value.resize(GetEnvironmentVariableW(L"Path", &value[0], needed));
  return value;
}

void set_default_value(HKEY root, const std::wstring& key, const std::wstring& value) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS)
    return;
  RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
}

const char* const outside_files[] = {
    "outside\\core.new.dll",
    "outside\\Updater_Client_9.exe",
    "outside\\Updater.lock",
    "outside\\lib.rename-to-jar",
    "outside\\jdk.new\\release",
    "outside\\deep\\jdk.old\\bin\\java.exe",
    "JVM.txt",
};

}  // namespace

kestrun_installation_test::kestrun_installation_test() {
  fs::create_directories(app());
  fs::create_directories(jvm() / "group1");
  copy_program("kestrun.exe", app());
  copy_program("updater_stub.exe", app(), "Updater_Client.exe");
  write_file(app() / "Updater_Client.jar", "updater jar");
  write_file(app() / "Updater_Client.sh", "#!/bin/sh\n");
  write_file(root_ / "jdk" / "bin" / "java.exe", "not really java");
  fs::create_directories(root_ / "tools");
  fs::create_directories(viewer_folder());
  copy_program("updater_stub.exe", viewer_folder(), "log viewer.exe");
  for (const char* name : outside_files) write_file(root_ / name, std::string("keep ") + name);

  saved_path_ = get_path_variable();
  const std::wstring path = widen(jdk_entry()) + L";" + widen(tools_entry());
  SetEnvironmentVariableW(L"Path", path.c_str());
}

kestrun_installation_test::~kestrun_installation_test() {
  SetEnvironmentVariableW(L"Path", saved_path_.c_str());
}

void kestrun_installation_test::TearDown() {
  for (const char* name : outside_files) {
    EXPECT_EQ(read_file(root_ / name), std::string("keep ") + name) << "touched: " << name;
  }
}

std::string kestrun_installation_test::jdk_entry() const {
  return narrow((root_ / "jdk" / "bin").wstring());
}

std::string kestrun_installation_test::tools_entry() const {
  return narrow((root_ / "tools").wstring());
}

fs::path kestrun_installation_test::viewer_folder() const {
  return root_ / L"Log Vi\u00e9wer \u4e2d";
}

std::string kestrun_installation_test::viewer_path() const {
  return narrow((viewer_folder() / "log viewer.exe").wstring());
}

DWORD kestrun_installation_test::run(const std::wstring& arguments) {
  return run_program(app() / "kestrun.exe", L"kestrun.exe" + arguments, app(),
                     std::chrono::seconds(150));
}

std::string kestrun_installation_test::log_bytes() const {
  return read_file(app() / "log" / "starter.log");
}

std::vector<std::string> kestrun_installation_test::log() const { return log_texts(log_bytes()); }

bool kestrun_installation_test::wait_for_log_line(const std::string& line, int times) const {
  return wait_until([&] {
    if (!exists(app() / "log" / "starter.log")) return false;
    const std::vector<std::string> lines = log();
    return std::count(lines.begin(), lines.end(), line) >= times;
  });
}

bool kestrun_installation_test::updater_record(start_record& record) const {
  return read_start_record(app(), "Updater_Client.exe", record);
}

bool kestrun_installation_test::viewer_record(start_record& record) const {
  return read_start_record(app(), "log viewer.exe", record);
}

void kestrun_installation_test::associate_log_files() {
  set_default_value(HKEY_CLASSES_ROOT, L".log", L"kestrun.testlog");
  set_default_value(HKEY_CLASSES_ROOT, L"kestrun.testlog\\shell\\open\\command",
                    L"\"" + widen(viewer_path()) + L"\" \"%1\"");
}

void kestrun_installation_test::remove_log_association() {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L".log");
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L"kestrun.testlog");
}

bool kestrun_installation_test::contains(const std::vector<std::string>& lines,
                                         const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool kestrun_installation_test::exists(const fs::path& file) {
  return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void kestrun_installation_test::remove(const fs::path& file) { fs::remove(file); }

}  // namespace kestrun::testing
