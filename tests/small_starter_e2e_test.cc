// Runs the real small-starter programs in throw-away installation folders
// with a stand-in Updater.exe.
#include <gtest/gtest.h>

#include "runtime/process.h"
#include "tests/support/test_support.h"

namespace kestrun {
namespace {

using testing::log_texts;
using testing::read_file;
using testing::start_record;
using testing::temp_folder;

struct variant_case {
  const char* program;
  const char* log_file;
  const char* updater_command_line;
};

class SmallStarter : public ::testing::TestWithParam<variant_case> {
 protected:
  DWORD run(const std::wstring& arguments) {
    const std::wstring program = testing::fs::path(GetParam().program).wstring();
    return testing::run_program(install_ / GetParam().program, program + arguments,
                                install_.path());
  }
  std::string log_bytes() { return read_file(install_ / "log" / GetParam().log_file); }

  temp_folder install_{"small"};
};

TEST_P(SmallStarter, LogsTwoLinesAndStartsTheUpdaterWithTheVariantsArgument) {
  testing::copy_program(GetParam().program, install_.path());
  testing::copy_program("updater_stub.exe", install_.path(), "Updater.exe");

  EXPECT_EQ(run(L" its own arguments --clearOldUpdater are ignored"), 0u);

  start_record record;
  ASSERT_TRUE(testing::read_start_record(install_.path(), "Updater.exe", record));
  EXPECT_EQ(record.command_line, GetParam().updater_command_line);
  EXPECT_EQ(testing::fs::path(record.working_directory), install_.path());
  const std::string bytes = log_bytes();
  EXPECT_EQ(log_texts(bytes), (std::vector<std::string>{"starting...", "finished"})) << bytes;
  EXPECT_EQ(bytes.substr(bytes.size() - 10), "finished\r\n");
}

TEST_P(SmallStarter, WithoutUpdaterLogsTheSystemsTextAndStillEndsWithZero) {
  // An Updater.exe beside the starter's own program, which is where a search
  // would look first, does not count: the updater is looked for in the
  // working directory only.
  temp_folder elsewhere{"elsewhere"};
  testing::copy_program(GetParam().program, elsewhere.path());
  testing::copy_program("updater_stub.exe", elsewhere.path(), "Updater.exe");

  const std::wstring program = testing::fs::path(GetParam().program).wstring();
  EXPECT_EQ(testing::run_program(elsewhere / GetParam().program, program, install_.path()), 0u);

  const std::string system_text = error_text(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(system_text.empty());
  const std::string bytes = log_bytes();
  std::string expected_error_line = "Error calling 'Updater.exe' - " + system_text;
  expected_error_line.replace(expected_error_line.size() - 2, 2, "\r\r\n\r\n");
  const auto lines = testing::split_crlf(bytes);
  ASSERT_EQ(lines.size(), 4u) << bytes;
  EXPECT_EQ(log_texts(bytes)[0], "starting...");
  EXPECT_NE(bytes.find(": " + expected_error_line), std::string::npos) << bytes;
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(log_texts(bytes)[3], "finished");
}

TEST_P(SmallStarter, EachRunLeavesOnlyItsOwnLinesAndKeepsTheRunBefore) {
  testing::copy_program(GetParam().program, install_.path());
  testing::copy_program("updater_stub.exe", install_.path(), "Updater.exe");
  const std::string earlier =
      "a much longer log of an earlier run that must be gone afterwards\r\n"
      "with a second line\r\nand a third\r\n";
  testing::write_file(install_ / "log" / GetParam().log_file, earlier);
  const std::string previous_log = testing::fs::path(GetParam().log_file).stem().string();
  const auto previous = install_ / "log" / (previous_log + ".previous.log");

  EXPECT_EQ(run(L""), 0u);
  const std::string first_run = log_bytes();
  EXPECT_EQ(log_texts(first_run), (std::vector<std::string>{"starting...", "finished"}));
  EXPECT_EQ(read_file(previous), earlier);

  EXPECT_EQ(run(L""), 0u);
  EXPECT_EQ(log_texts(log_bytes()), (std::vector<std::string>{"starting...", "finished"}));
  EXPECT_EQ(read_file(previous), first_run);
}

TEST_P(SmallStarter, APlainFileNamedLogCostsOnlyTheLog) {
  testing::copy_program(GetParam().program, install_.path());
  testing::copy_program("updater_stub.exe", install_.path(), "Updater.exe");
  testing::write_file(install_ / "log", "not a folder");

  EXPECT_EQ(run(L""), 0u);

  start_record record;
  ASSERT_TRUE(testing::read_start_record(install_.path(), "Updater.exe", record));
  EXPECT_EQ(record.command_line, GetParam().updater_command_line);
  EXPECT_EQ(read_file(install_ / "log"), "not a folder");
}

INSTANTIATE_TEST_SUITE_P(
    Variants, SmallStarter,
    ::testing::Values(variant_case{"kestrun-s2.exe", "starter-s2.log", "Updater.exe -s2"},
                      variant_case{"kestrun-offline.exe", "starter-offline.log",
                                   "Updater.exe -offline"},
                      variant_case{"kestrun-normal.exe", "starter-normal.log", "Updater.exe"}),
    [](const ::testing::TestParamInfo<variant_case>& info) {
      std::string name = info.param.program;
      name = name.substr(8, name.size() - 12);  // "kestrun-" ... ".exe"
      return name;
    });

}  // namespace
}  // namespace kestrun
