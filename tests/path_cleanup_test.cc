#include "starter/path_cleanup.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "runtime/directory_entry.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "tests/support/test_support.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;
using wstrings = std::vector<std::wstring>;

constexpr const char* missing_marker = "<missing>";

// The variable as the process sees it now, or L"<missing>".
std::wstring variable(const std::wstring& name) {
  SetLastError(0);
  const DWORD needed = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (needed == 0) {
    return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? widen(missing_marker) : std::wstring();
  }
  std::wstring value(needed, L'\0');
  value.resize(GetEnvironmentVariableW(name.c_str(), &value[0], needed));
  return value;
}

// The log texts of a line that ends in a system error text. The text keeps
// the line end FormatMessage puts behind it, and the log writes every line
// end as CR LF, so the line ends in CR CR LF and an empty line follows.
strings error_line_texts(const std::string& head, unsigned long code) {
  std::string bytes = "2026-01-01 00:00:00.000: ";
  for (const char c : head + error_text(code) + "\n") {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  return testing::log_texts(bytes);
}

// --- Splitting and joining values, forming the name to test ---------------

TEST(PathEntries, SplitAtSemicolonsOnly) {
  EXPECT_EQ(split_path_entries(L""), wstrings{});
  EXPECT_EQ(split_path_entries(L";"), wstrings{L""});
  EXPECT_EQ(split_path_entries(L";;"), (wstrings{L"", L""}));
  EXPECT_EQ(split_path_entries(L"a"), wstrings{L"a"});
  EXPECT_EQ(split_path_entries(L"a;b"), (wstrings{L"a", L"b"}));
  EXPECT_EQ(split_path_entries(L"a;b;"), (wstrings{L"a", L"b"}));
  EXPECT_EQ(split_path_entries(L"a;;b"), (wstrings{L"a", L"", L"b"}));
  // Quotes do not protect a ";", blanks are not trimmed, nothing is expanded.
  EXPECT_EQ(split_path_entries(L";a;;\"b;c\" ;%JAVA_HOME%\\bin"),
            (wstrings{L"", L"a", L"", L"\"b", L"c\" ", L"%JAVA_HOME%\\bin"}));
}

TEST(PathEntries, JoiningPutsASemicolonBehindEveryEntry) {
  EXPECT_EQ(join_path_entries({}), L"");
  EXPECT_EQ(join_path_entries({L"C:\\A"}), L"C:\\A;");
  EXPECT_EQ(join_path_entries({L"C:\\A", L"C:\\B"}), L"C:\\A;C:\\B;");
  // A value that already ends with ";" and has no empty entry survives the
  // round trip unchanged; one without gets its ";" at the end.
  for (const std::wstring value : {L"C:\\A;C:\\B;", L" x ;\"q\";"}) {
    EXPECT_EQ(join_path_entries(split_path_entries(value)), value);
  }
  EXPECT_EQ(join_path_entries(split_path_entries(L"C:\\A;C:\\B")), L"C:\\A;C:\\B;");
}

TEST(PathEntries, JavaExeIsLookedForBelowTheEntry) {
  EXPECT_EQ(java_exe_candidate(L"C:\\jdk\\bin"), L"C:\\jdk\\bin\\java.exe");
  EXPECT_EQ(java_exe_candidate(L"C:\\jre\\bin\\"), L"C:\\jre\\bin\\java.exe");
  // Only a backslash counts as the separator already there.
  EXPECT_EQ(java_exe_candidate(L"C:\\jre\\bin/"), L"C:\\jre\\bin/\\java.exe");
  EXPECT_EQ(java_exe_candidate(L"C:"), L"C:\\java.exe");
  EXPECT_EQ(java_exe_candidate(L"\\"), L"\\java.exe");
  EXPECT_EQ(java_exe_candidate(L"\"C:\\jdk\\bin\""), L"\"C:\\jdk\\bin\"\\java.exe");
}

// --- The environment calls, watched or scripted ----------------------------

// Buffer sizes of the reads made through recording_calls.
std::vector<std::size_t> read_sizes;
environment_read recording_read(const std::wstring& name, wchar_t* buffer, std::size_t units) {
  read_sizes.push_back(units);
  return read_environment_variable(name, buffer, units);
}
const environment_calls recording_calls{&recording_read, &write_environment_variable};

// Answers for the reads made through scripted_calls, in order; a result
// that fits the buffer gets scripted_value copied in.
std::deque<environment_read> scripted_reads;
std::wstring scripted_value;
std::vector<std::wstring> scripted_writes;
environment_read scripted_read(const std::wstring&, wchar_t* buffer, std::size_t units) {
  const environment_read read = scripted_reads.front();
  scripted_reads.pop_front();
  if (read.length > 0 && read.length < units) {
    scripted_value.copy(buffer, read.length);
    buffer[read.length] = L'\0';
  }
  return read;
}
unsigned long scripted_write(const std::wstring&, const std::wstring& value) {
  scripted_writes.push_back(value);
  return 0;
}
unsigned long refused_write(const std::wstring&, const std::wstring&) {
  return ERROR_NOT_ENOUGH_MEMORY;
}

// The file-system queries made through counting_queries, by path.
std::map<std::wstring, int> status_queries;
std::map<std::wstring, int> exists_queries;
directory_entry counted_status(const fs::path& path) {
  ++status_queries[path.wstring()];
  return make_entry(path);
}
bool counted_exists(const fs::path& path) {
  ++exists_queries[path.wstring()];
  return path_exists(path);
}
const java_exe_queries counting_queries{&counted_status, &counted_exists};

class PathCleanup : public ::testing::Test {
 protected:
  PathCleanup() : saved_path_(variable(L"Path")) {
    testing::write_file(folder_ / "jdk" / "bin" / "java.exe", "java");
    testing::write_file(folder_ / "odd" / "java.exe" / "inside.txt", "a folder named java.exe");
    testing::fs::create_directories(folder_ / "tools");
    read_sizes.clear();
    scripted_reads.clear();
    scripted_value.clear();
    scripted_writes.clear();
    status_queries.clear();
    exists_queries.clear();
  }
  // Every test leaves the process's Path as it found it.
  ~PathCleanup() override {
    SetEnvironmentVariableW(name_.c_str(), nullptr);
    SetEnvironmentVariableW(L"Path",
                            saved_path_ == widen(missing_marker) ? nullptr : saved_path_.c_str());
  }

  std::wstring entry(const std::wstring& relative) { return (folder_ / relative).wstring(); }
  void set(const std::wstring& value) { SetEnvironmentVariableW(name_.c_str(), value.c_str()); }
  std::wstring value() { return variable(name_); }

  const std::wstring saved_path_;
  const std::wstring name_ = L"KESTRUN_TEST_PATH";
  testing::temp_folder folder_{"path"};
  testing::log_capture log_;
};

TEST_F(PathCleanup, RemovesTheJdkEntryAndEndsTheNewValueWithASemicolon) {
  const std::wstring jdk = entry(L"jdk\\bin");
  const std::wstring tools = entry(L"tools");
  set(jdk + L";" + tools);
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(value(), tools + L";");
  EXPECT_EQ(log_.texts(), (strings{"Old value for KESTRUN_TEST_PATH: " + narrow(jdk + L";" + tools),
                                   "Removing JDK/JRE from KESTRUN_TEST_PATH: " + narrow(jdk),
                                   "New value for KESTRUN_TEST_PATH: " + narrow(tools) + ";"}));
  EXPECT_TRUE(testing::fs::exists(folder_ / "jdk" / "bin" / "java.exe"));
}

TEST_F(PathCleanup, AValueWithoutJdkEntriesGetsOneSemicolonAtItsEnd) {
  const std::wstring kept = entry(L"tools") + L";C:\\Program Files\\x;" + entry(L"tools") +
                            L"\\; spaced ;" + entry(L"jdk");
  set(kept);
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(value(), kept + L";");
  EXPECT_EQ(log_.texts(), (strings{"Old value for KESTRUN_TEST_PATH: " + narrow(kept),
                                   "New value for KESTRUN_TEST_PATH: " + narrow(kept) + ";"}));
}

TEST_F(PathCleanup, AValueEndingInASemicolonIsWrittenBackUnchanged) {
  const std::wstring kept = entry(L"tools") + L";C:\\Program Files\\x;";
  set(kept);
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(value(), kept);
  EXPECT_EQ(log_.texts(), (strings{"Old value for KESTRUN_TEST_PATH: " + narrow(kept),
                                   "New value for KESTRUN_TEST_PATH: " + narrow(kept)}));
}

TEST_F(PathCleanup, ASemicolonAloneLeavesAnEmptyValue) {
  set(L";");
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(value(), L"");
  EXPECT_EQ(
      log_.texts(),
      (strings{"Old value for KESTRUN_TEST_PATH: ;",
               "Removing JDK/JRE from KESTRUN_TEST_PATH: ", "New value for KESTRUN_TEST_PATH: "}));
}

TEST_F(PathCleanup, AnEmptyEntryBetweenTwoSemicolonsIsRemoved) {
  const std::wstring tools = entry(L"tools");
  set(tools + L";;C:\\B;");
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(value(), tools + L";C:\\B;");
  EXPECT_EQ(log_.texts(),
            (strings{"Old value for KESTRUN_TEST_PATH: " + narrow(tools) + ";;C:\\B;",
                     "Removing JDK/JRE from KESTRUN_TEST_PATH: ",
                     "New value for KESTRUN_TEST_PATH: " + narrow(tools) + ";C:\\B;"}));
}

TEST_F(PathCleanup, ATrailingBackslashAndAFolderNamedJavaExeMarkEntries) {
  // entry\ is tested as entry\java.exe, not entry\\java.exe; a folder named
  // java.exe counts like the file. With every entry gone the value is empty.
  const std::wstring jdk = entry(L"jdk\\bin\\");
  const std::wstring odd = entry(L"odd");
  set(jdk + L";" + odd);
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(value(), L"");
  EXPECT_EQ(log_.texts(), (strings{"Old value for KESTRUN_TEST_PATH: " + narrow(jdk + L";" + odd),
                                   "Removing JDK/JRE from KESTRUN_TEST_PATH: " + narrow(jdk),
                                   "Removing JDK/JRE from KESTRUN_TEST_PATH: " + narrow(odd),
                                   "New value for KESTRUN_TEST_PATH: "}));
  EXPECT_EQ(testing::read_file(folder_ / "odd" / "java.exe" / "inside.txt"),
            "a folder named java.exe");
}

TEST_F(PathCleanup, HoldsJavaExeLooksForAnyObjectOfThatName) {
  EXPECT_TRUE(holds_java_exe(L""));
  EXPECT_TRUE(holds_java_exe(entry(L"jdk\\bin")));
  EXPECT_TRUE(holds_java_exe(entry(L"jdk\\bin\\")));
  EXPECT_TRUE(holds_java_exe(entry(L"jdk/bin")));
  EXPECT_TRUE(holds_java_exe(entry(L"odd")));
  EXPECT_FALSE(holds_java_exe(entry(L"tools")));
  EXPECT_FALSE(holds_java_exe(entry(L"jdk")));
  EXPECT_FALSE(holds_java_exe(entry(L"no such folder\\bin")));
  // java.exe itself is not a folder holding java.exe.
  EXPECT_FALSE(holds_java_exe(entry(L"jdk\\bin\\java.exe")));
  // Names Windows finds invalid mean nothing is there.
  EXPECT_FALSE(holds_java_exe(L"\"" + entry(L"jdk\\bin") + L"\""));
  EXPECT_FALSE(holds_java_exe(entry(L"jdk\\b?n")));
}

TEST_F(PathCleanup, RelativeEntriesCountFromTheCurrentDirectory) {
  testing::scoped_current_directory in_folder(folder_.path());
  set(L"jdk\\bin;tools;.\\odd;bin");
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(value(), L"tools;bin;");
  EXPECT_EQ(log_.texts(), (strings{"Old value for KESTRUN_TEST_PATH: jdk\\bin;tools;.\\odd;bin",
                                   "Removing JDK/JRE from KESTRUN_TEST_PATH: jdk\\bin",
                                   "Removing JDK/JRE from KESTRUN_TEST_PATH: .\\odd",
                                   "New value for KESTRUN_TEST_PATH: tools;bin;"}));
}

TEST_F(PathCleanup, AnEmptyValueIsWrittenBackEmpty) {
  set(L"");
  ASSERT_EQ(value(), L"");
  // A stale "not found" from an earlier call must not make the empty value
  // read as missing (GetEnvironmentVariableW leaves the last error alone).
  SetLastError(ERROR_ENVVAR_NOT_FOUND);
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(value(), L"");
  EXPECT_EQ(log_.texts(),
            (strings{"Old value for KESTRUN_TEST_PATH: ", "New value for KESTRUN_TEST_PATH: "}));
}

TEST_F(PathCleanup, AMissingVariableIsSkippedAndNotCreated) {
  SetEnvironmentVariableW(name_.c_str(), nullptr);
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(log_.texts(),
            (strings{"Environment Variable 'KESTRUN_TEST_PATH' was not found and therefore "
                     "skipped."}));
  EXPECT_EQ(value(), widen(missing_marker));
}

TEST_F(PathCleanup, AValueOf4096UnitsOrMoreIsReadASecondTimeIntoItsOwnSize) {
  struct long_value {
    std::size_t length;
    std::vector<std::size_t> reads;
  };
  for (const long_value& expected :
       {long_value{4095, {4096}}, long_value{4096, {4096, 4097}}, long_value{4097, {4096, 4098}},
        long_value{32000, {4096, 32001}}}) {
    // A JDK entry at the very end: the whole value must have been read for
    // it to be found and removed.
    const std::wstring jdk = entry(L"jdk\\bin");
    const std::size_t kept_length = expected.length - jdk.size();
    std::wstring kept;
    while (kept_length - kept.size() > 12) kept += L"C:\\x;";
    kept += L"C:\\" + std::wstring(kept_length - kept.size() - 4, L'y') + L";";
    const std::wstring long_text = kept + jdk;
    ASSERT_EQ(long_text.size(), expected.length);
    set(long_text);
    read_sizes.clear();

    EXPECT_TRUE(remove_jdk_from_variable(name_, recording_calls)) << expected.length;
    EXPECT_EQ(read_sizes, expected.reads) << expected.length;
    EXPECT_TRUE(value() == kept) << expected.length;
  }
  // The value is logged whole, however long.
  const strings texts = log_.texts();
  ASSERT_EQ(texts.size(), 12u);
  EXPECT_EQ(texts[9].size(), std::string("Old value for KESTRUN_TEST_PATH: ").size() + 32000);
}

TEST_F(PathCleanup, AFailedSecondReadLeavesTheVariableAlone) {
  scripted_reads = {{5000, 0}, {0, ERROR_ACCESS_DENIED}};
  const environment_calls calls{&scripted_read, &scripted_write};
  EXPECT_FALSE(remove_jdk_from_variable(name_, calls));
  EXPECT_TRUE(scripted_writes.empty());
  EXPECT_EQ(log_.texts(),
            error_line_texts("GetEnvironmentVariable failed with Error: ", ERROR_ACCESS_DENIED));
}

TEST_F(PathCleanup, AValueThatGrewBetweenTheReadsIsNotTakenHalf) {
  scripted_value.assign(6000, L'x');
  scripted_reads = {{5000, 0}, {6001, 0}};
  const environment_calls calls{&scripted_read, &scripted_write};
  EXPECT_FALSE(remove_jdk_from_variable(name_, calls));
  EXPECT_TRUE(scripted_writes.empty());
  EXPECT_EQ(log_.texts(), error_line_texts("GetEnvironmentVariable failed with Error: ",
                                           ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(PathCleanup, ARefusedWriteIsReportedAfterTheNewValue) {
  const std::wstring tools = entry(L"tools");
  set(entry(L"jdk\\bin") + L";" + tools);
  const environment_calls calls{&read_environment_variable, &refused_write};
  EXPECT_FALSE(remove_jdk_from_variable(name_, calls));
  EXPECT_EQ(value(), entry(L"jdk\\bin") + L";" + tools);
  strings expected = {
      "Old value for KESTRUN_TEST_PATH: " + narrow(entry(L"jdk\\bin") + L";" + tools),
      "Removing JDK/JRE from KESTRUN_TEST_PATH: " + narrow(entry(L"jdk\\bin")),
      "New value for KESTRUN_TEST_PATH: " + narrow(tools) + ";"};
  for (const std::string& text :
       error_line_texts("SetEnvironmentVariable failed with Error: ", ERROR_NOT_ENOUGH_MEMORY)) {
    expected.push_back(text);
  }
  EXPECT_EQ(log_.texts(), expected);
}

TEST_F(PathCleanup, TheThreeSpellingsOfPathActOnOneVariableAndAskOncePerEntry) {
  // The share cannot be reached; the tools entry comes twice.
  const std::wstring jdk = entry(L"jdk\\bin");
  const std::wstring tools = entry(L"tools");
  const std::wstring share = L"\\\\nohost\\share";
  SetEnvironmentVariableW(L"Path", (jdk + L";" + tools + L";" + share + L";" + tools).c_str());
  std::string unreachable;
  try {
    holds_java_exe(share);
  } catch (const std::filesystem::filesystem_error& error) {
    unreachable = error.what();
  }
  ASSERT_FALSE(unreachable.empty()) << "the share's check did not fail";

  remove_jdk_from_path(counting_queries);
  const std::string cleaned = narrow(tools + L";" + share + L";" + tools) + ";";
  EXPECT_EQ(variable(L"Path"), widen(cleaned));
  const auto check_failed = [&](const std::string& name) {
    return "Could not check " + name + " entry for java.exe, keeping it: " + narrow(share) + " - " +
           unreachable;
  };
  EXPECT_EQ(
      log_.texts(),
      (strings{"Old value for Path: " + narrow(jdk + L";" + tools + L";" + share + L";" + tools),
               "Removing JDK/JRE from Path: " + narrow(jdk), check_failed("Path"),
               "New value for Path: " + cleaned, "Old value for PATH: " + cleaned,
               check_failed("PATH"), "New value for PATH: " + cleaned,
               "Old value for path: " + cleaned, check_failed("path"),
               "New value for path: " + cleaned}));
  // Whether something exists when links are followed is asked only where
  // the entry's own status found something.
  EXPECT_EQ(status_queries, (std::map<std::wstring, int>{{java_exe_candidate(jdk), 1},
                                                         {java_exe_candidate(tools), 1},
                                                         {java_exe_candidate(share), 1}}));
  EXPECT_EQ(exists_queries, (std::map<std::wstring, int>{{java_exe_candidate(jdk), 1}}));
}

TEST_F(PathCleanup, AQuotedEntryIsAnInvalidNameAndStays) {
  const std::wstring quoted = L"\"" + entry(L"jdk\\bin") + L"\"";
  set(quoted);
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(value(), quoted + L";");
  EXPECT_EQ(log_.texts(), (strings{"Old value for KESTRUN_TEST_PATH: " + narrow(quoted),
                                   "New value for KESTRUN_TEST_PATH: " + narrow(quoted) + ";"}));
}

TEST_F(PathCleanup, EntriesOutsideAsciiAreKeptExactlyAndLoggedAsUtf8) {
  const std::wstring jdk = entry(L"J\u00e4va \u2615\\bin");
  testing::write_file(testing::fs::path(jdk) / "java.exe", "java");
  const std::wstring kept = L"C:\\Progr\u00e4mme\\\u6f22\u5b57";
  set(kept + L";" + jdk);
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(value(), kept + L";");
  const std::string kept_utf8 = "C:\\Progr\xc3\xa4mme\\\xe6\xbc\xa2\xe5\xad\x97";
  const std::string jdk_utf8 = narrow_path(folder_.path()) + "\\J\xc3\xa4va \xe2\x98\x95\\bin";
  EXPECT_EQ(log_.texts(), (strings{"Old value for KESTRUN_TEST_PATH: " + kept_utf8 + ";" + jdk_utf8,
                                   "Removing JDK/JRE from KESTRUN_TEST_PATH: " + jdk_utf8,
                                   "New value for KESTRUN_TEST_PATH: " + kept_utf8 + ";"}));
}

TEST_F(PathCleanup, AnEntryThatCannotBeCheckedIsKeptWithOneLine) {
  // Windows cannot reach the share, and says so with another error than
  // "not found". The entry is kept, the entries after it are still
  // cleaned, and the variable is written.
  const std::wstring share = L"\\\\nohost\\share";
  const std::wstring jdk = entry(L"jdk\\bin");
  const std::wstring tools = entry(L"tools");
  set(share + L";" + jdk + L";" + tools);
  EXPECT_TRUE(remove_jdk_from_variable(name_));
  EXPECT_EQ(value(), share + L";" + tools + L";");
  const strings texts = log_.texts();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0],
            "Old value for KESTRUN_TEST_PATH: " + narrow(share + L";" + jdk + L";" + tools));
  const std::string check =
      "Could not check KESTRUN_TEST_PATH entry for java.exe, keeping it: " + narrow(share) + " - ";
  EXPECT_EQ(texts[1].substr(0, check.size()), check) << texts[1];
  // The error's own description names the path that was queried.
  EXPECT_NE(texts[1].find("\\\\nohost\\share\\java.exe", check.size()), std::string::npos)
      << texts[1];
  EXPECT_EQ(texts[2], "Removing JDK/JRE from KESTRUN_TEST_PATH: " + narrow(jdk));
  EXPECT_EQ(texts[3], "New value for KESTRUN_TEST_PATH: " + narrow(share + L";" + tools) + ";");
  EXPECT_THROW(holds_java_exe(share), std::filesystem::filesystem_error);
}

}  // namespace
}  // namespace kestrun
