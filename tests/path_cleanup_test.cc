#include "starter/path_cleanup.h"

#include <gtest/gtest.h>

#include "runtime/text.h"
#include "tests/support/test_support.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;
using wstrings = std::vector<std::wstring>;

std::wstring variable(const wchar_t* name) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return L"<missing>";
  std::wstring value(needed, L'\0');
  value.resize(GetEnvironmentVariableW(name, &value[0], needed));
  return value;
}

TEST(PathEntries, SplitAtSemicolonsOnly) {
  EXPECT_EQ(split_path_entries(L""), wstrings{});
  EXPECT_EQ(split_path_entries(L";"), wstrings{L""});
  EXPECT_EQ(split_path_entries(L"a;b"), (wstrings{L"a", L"b"}));
  EXPECT_EQ(split_path_entries(L"a;b;"), (wstrings{L"a", L"b"}));
  EXPECT_EQ(split_path_entries(L";a;;\"b;c\" ;"), (wstrings{L"", L"a", L"", L"\"b", L"c\" "}));
}

TEST(PathEntries, JavaExeIsLookedForBelowTheEntry) {
  EXPECT_EQ(java_exe_candidate(L"C:\\jre\\bin\\"), L"C:\\jre\\bin\\java.exe");
  EXPECT_EQ(java_exe_candidate(L"C:\\jre\\bin/"), L"C:\\jre\\bin/\\java.exe");
  EXPECT_EQ(java_exe_candidate(L"C:"), L"C:\\java.exe");
}

class PathCleanup : public ::testing::Test {
 protected:
  PathCleanup() {
    testing::write_file(folder_ / "jdk" / "bin" / "java.exe", "java");
    testing::write_file(folder_ / "odd" / "java.exe" / "inside.txt", "a folder named java.exe");
    testing::fs::create_directories(folder_ / "tools");
  }
  ~PathCleanup() override { SetEnvironmentVariableW(name_, nullptr); }

  std::wstring entry(const char* name) { return (folder_ / name).wstring(); }
  std::string narrow_entry(const char* name) { return narrow(entry(name)); }
  void set(const std::wstring& value) { SetEnvironmentVariableW(name_, value.c_str()); }

  const wchar_t* name_ = L"KESTRUN_TEST_PATH";
  testing::temp_folder folder_{"path"};
  testing::log_capture log_;
};

TEST_F(PathCleanup, RemovesJdkEntriesAndEndsTheNewValueWithASemicolon) {
  const std::wstring jdk = entry("jdk\\bin");
  const std::wstring tools = entry("tools");
  set(jdk + L";" + tools);
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(variable(name_), tools + L";");
  EXPECT_EQ(log_.texts(), (strings{"Old value for KESTRUN_TEST_PATH: " + narrow(jdk + L";" + tools),
                                   "Removing JDK/JRE from KESTRUN_TEST_PATH: " + narrow(jdk),
                                   "New value for KESTRUN_TEST_PATH: " + narrow(tools) + ";"}));
}

TEST_F(PathCleanup, KeepsOtherEntriesCharacterForCharacter) {
  const std::wstring value = entry("tools") + L";C:\\Program Files\\x;" + entry("tools") + L"\\";
  set(value);
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(variable(name_), value + L";");
  set(value + L";");
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(variable(name_), value + L";");
}

TEST_F(PathCleanup, EmptyEntriesGoToo) {
  set(L";");
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(variable(name_), L"");
  EXPECT_EQ(log_.texts()[1], "Removing JDK/JRE from KESTRUN_TEST_PATH: ");

  set(entry("tools") + L";;" + entry("tools"));
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(variable(name_), entry("tools") + L";" + entry("tools") + L";");
}

TEST_F(PathCleanup, ABackslashAtTheEndAndAFolderNamedJavaExeCount) {
  set(entry("jdk\\bin") + L"\\;" + entry("odd"));
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(variable(name_), L"");
  EXPECT_EQ(testing::read_file(folder_ / "odd" / "java.exe" / "inside.txt"),
            "a folder named java.exe");
}

TEST_F(PathCleanup, AnEmptyValueIsWrittenBackEmpty) {
  set(L"");
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(log_.texts(),
            (strings{"Old value for KESTRUN_TEST_PATH: ", "New value for KESTRUN_TEST_PATH: "}));
}

TEST_F(PathCleanup, AMissingVariableIsSkippedAndNotCreated) {
  SetEnvironmentVariableW(name_, nullptr);
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(log_.texts(),
            (strings{"Environment Variable 'KESTRUN_TEST_PATH' was not found and therefore "
                     "skipped."}));
  EXPECT_EQ(variable(name_), L"<missing>");
}

TEST_F(PathCleanup, LongValuesAreReadWhole) {
  for (const size_t length : {4095u, 4096u, 4097u, 32000u}) {
    std::wstring value = entry("tools");
    while (value.size() < length) value += L";C:\\x";
    value.resize(length, L'y');
    value.back() = L'y';  // no ";" at the end, which would not be doubled
    set(value);
    EXPECT_TRUE(remove_jdk_from_variable(name_)) << length;
    EXPECT_TRUE(variable(name_) == value + L";") << length;
  }
}

TEST_F(PathCleanup, AQuotedEntryIsAnInvalidNameAndStays) {
  const std::wstring quoted = L"\"" + entry("jdk\\bin") + L"\"";
  set(quoted);
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(variable(name_), quoted + L";");
}

TEST_F(PathCleanup, AnEntryThatCannotBeCheckedIsKeptWithOneLine) {
  // Windows cannot reach the share; the error is not "not found".
  const std::wstring share = L"\\\\nohost\\share";
  set(share + L";" + entry("jdk\\bin"));
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(variable(name_), share + L";");
  const strings texts = log_.texts();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[1].rfind("Could not check KESTRUN_TEST_PATH entry for java.exe, keeping it: "
                           "\\\\nohost\\share - ",
                           0),
            0u)
      << texts[1];
}

TEST_F(PathCleanup, TheThreeSpellingsOfPathActOnOneVariable) {
  const std::wstring saved = variable(L"Path");
  const std::wstring tools = entry("tools");
  SetEnvironmentVariableW(L"Path", (entry("jdk\\bin") + L";" + tools).c_str());
  for (const wchar_t* name : {L"Path", L"PATH", L"path"}) {
    EXPECT_TRUE(remove_jdk_from_variable(name));
  }
  EXPECT_EQ(variable(L"Path"), tools + L";");
  SetEnvironmentVariableW(L"Path", saved.c_str());
  const strings texts = log_.texts();
  ASSERT_EQ(texts.size(), 7u);
  EXPECT_EQ(texts[3], "Old value for PATH: " + narrow(tools) + ";");
  EXPECT_EQ(texts[6], "New value for path: " + narrow(tools) + ";");
}

}  // namespace
}  // namespace kestrun
