#include "runtime/file_holders.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/file_operations.h"
#include "tests/support/test_support.h"

namespace kestrun {
namespace {

// What the stand-in for the Restart Manager was asked (the files' names
// below the test's folder, sorted, joined by "|"), and what it answers.
std::vector<std::wstring> asked;
std::vector<file_holder> answer;
std::wstring folder_prefix;

holder_lookup_result stand_in(const std::vector<std::wstring>& files) {
  std::vector<std::wstring> names;
  for (const std::wstring& file : files) names.push_back(file.substr(folder_prefix.size()));
  std::sort(names.begin(), names.end());
  std::wstring joined;
  for (const std::wstring& name : names) joined += (joined.empty() ? L"" : L"|") + name;
  asked.push_back(joined);
  return {answer, 0};
}

class FileHolders : public ::testing::Test {
 protected:
  FileHolders() {
    asked.clear();
    folder_prefix = folder_.path().wstring() + L"\\";
  }
  testing::temp_folder folder_{"holders"};
  testing::log_capture log_;
  testing::scoped_current_directory in_folder_{folder_.path()};
  scoped_holder_lookup lookup_{stand_in};
};

TEST_F(FileHolders, AHeldPathGetsOneLineAfterItsReportOncePerPathAndCode) {
  for (const char* name : {"jre\\release", "jre\\bin\\java.dll", "jre\\lib\\deep\\modules"}) {
    testing::write_file(folder_ / name, "x");
  }
  const std::vector<file_holder> two = {{"Java(TM) Platform SE binary", 4242}, {"notepad.exe", 17}};
  struct row {
    const wchar_t* path1;
    const wchar_t* path2;
    unsigned long code;
    std::vector<file_holder> holders;
    const wchar_t* looked_up;  // empty: no lookup
  };
  const row rows[] = {
      {L".\\core.dll", L"", 32, two, L"core.dll"},
      {L".\\core.dll", L"", 32, two, L""},  // the same again
      {L".\\core.dll", L"", 5, two, L"core.dll"},
      {L".\\x.new.dll", L"x.dll", 33, two, L"x.dll|x.new.dll"},
      {L".\\free.dll", L"", 32, {}, L"free.dll"},  // nobody found: no line
      // A folder is held through the files below it.
      {L".\\jre", L"", 5, two, L"jre\\bin\\java.dll|jre\\lib\\deep\\modules|jre\\release"},
      {L".\\lib", L"", 145, two, L""},  // not a matter of a holder
  };
  for (const row& row : rows) {
    SCOPED_TRACE(testing::fs::path(row.path1).u8string() + " " + std::to_string(row.code));
    answer = row.holders;
    asked.clear();
    const size_t lines_before = log_.texts().size();
    log_error_report("Error deleting 'x'",
                     windows_filesystem_error("remove", row.path1, row.path2, true, row.code));
    EXPECT_EQ(asked, *row.looked_up ? std::vector<std::wstring>{row.looked_up}
                                    : std::vector<std::wstring>{});
    const bool line = *row.looked_up && !row.holders.empty();
    const std::vector<std::string> texts = log_.texts();
    ASSERT_EQ(texts.size(), lines_before + (line ? 8 : 7)) << log_.bytes();
    if (line) {
      EXPECT_EQ(texts.back(),
                "In use by: Java(TM) Platform SE binary (process id 4242), notepad.exe (process "
                "id 17)");
    }
  }
}

}  // namespace
}  // namespace kestrun
