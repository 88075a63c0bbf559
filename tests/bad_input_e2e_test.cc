// kestrun.exe against what an earlier update, another program or a user
// may have left behind: every case ends with a clear log line (or the
// step's own line), nothing lost, and nothing outside the installation and
// the JVM folder touched (checked by the fixture after each test).
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/kestrun_installation.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;
using testing::read_file;
using testing::start_record;
using testing::write_file;

class BadInput : public testing::kestrun_installation_test {
 protected:
  std::string last_line_before_failure() {
    const strings lines = log();
    const auto failure = std::find(lines.begin(), lines.end(),
                                   "Failed to start the Updater - Open Log-File for the user...");
    if (failure == lines.end() || failure == lines.begin()) return "<no failure path>";
    return *(failure - 1);
  }
};

TEST_F(BadInput, ACommandLineOf32000CharactersIsPassedOnWhole) {
  std::wstring arguments;
  while (arguments.size() < 32000) arguments += L" arg" + std::to_wstring(arguments.size());
  EXPECT_EQ(run(arguments), 0u);
  start_record record;
  ASSERT_TRUE(updater_record(record));
  const std::string narrow_arguments(arguments.begin() + 1, arguments.end());
  EXPECT_TRUE(record.command_line == "Updater_Client.exe " + narrow_arguments + " ");
  EXPECT_TRUE(contains(log(), "Arguments: " + narrow_arguments));
}

TEST_F(BadInput, AHugeOddPathLosesOnlyItsJdk) {
  std::string kept;
  const std::string long_entry = "C:\\" + std::string(300, 'l');
  for (int i = 0; i < 1000; ++i) {
    std::string entry;
    // Padded so that the whole value passes 32,000 characters.
    const std::string folder = std::to_string(i) + (i < 300 ? "\\packages1" : "\\packages");
    switch (i % 4) {
      case 0:
        entry = "\"C:\\Program Files\\quoted " + folder + "\"";
        break;
      case 1:
        entry = "C:\\tools\\slash" + folder + "/";
        break;
      case 2:
        entry = "C:\\tools\\backslash" + folder + "\\";
        break;
      default:
        entry = "D:\\some\\where\\" + folder;
        break;
    }
    kept += entry + ";";
  }
  kept += long_entry + ";" + tools_entry() + ";";
  const std::string value = jdk_entry() + ";" + kept;
  ASSERT_GT(value.size(), 32000u);
  ASSERT_LT(value.size(), 32767u);  // the most an environment variable holds
  SetEnvironmentVariableA("Path", value.c_str());

  EXPECT_EQ(run(L" a"), 0u);

  start_record record;
  ASSERT_TRUE(updater_record(record));
  EXPECT_TRUE(record.path_variable == kept) << record.path_variable.substr(0, 200);
  EXPECT_TRUE(contains(log(), "Removing JDK/JRE from Path: " + jdk_entry()));
}

TEST_F(BadInput, ALogHeldWithoutSharingCostsOnlyTheLog) {
  write_file(app() / "log" / "starter.log", "held by another program");
  testing::held_file holder(app() / "log" / "starter.log", std::chrono::seconds(60));
  ASSERT_TRUE(holder.held());

  EXPECT_EQ(run(L" a"), 0u);
  holder.release();

  start_record record;
  ASSERT_TRUE(updater_record(record));
  EXPECT_EQ(record.command_line, "Updater_Client.exe a ");
  EXPECT_EQ(read_file(app() / "log" / "starter.log"), "held by another program");
}

TEST_F(BadInput, APlainFileForTheJvmFolderIsReportedAndKept) {
  testing::fs::remove_all(jvm());
  write_file(jvm(), "a file where the JVM folder should be");
  EXPECT_EQ(run(L""), 1u);
  EXPECT_NE(last_line_before_failure().find("JVM"), std::string::npos)
      << last_line_before_failure();
  EXPECT_EQ(read_file(jvm()), "a file where the JVM folder should be");
}

TEST_F(BadInput, APlainFileForAGroupFolderIsReportedAndKept) {
  write_file(jvm() / "readme.txt", "a file where a group folder should be");
  EXPECT_EQ(run(L""), 1u);
  EXPECT_NE(last_line_before_failure().find("readme.txt"), std::string::npos)
      << last_line_before_failure();
  EXPECT_EQ(read_file(jvm() / "readme.txt"), "a file where a group folder should be");
}

TEST_F(BadInput, APendingJarWhoseTargetIsAFolderWithContentsLosesNothing) {
  write_file(app() / "core.jar" / "user.txt", "inside the folder");
  write_file(app() / "core.rename-to-jar", "new core");
  EXPECT_EQ(run(L""), 0u);
  const strings lines = log();
  EXPECT_TRUE(contains(lines, "Old file could not be deleted."));
  EXPECT_TRUE(contains(lines, "Failed to rename new file"));
  EXPECT_EQ(read_file(app() / "core.jar" / "user.txt"), "inside the folder");
  EXPECT_EQ(read_file(app() / "core.rename-to-jar"), "new core");
}

TEST_F(BadInput, AnOldRuntimeAHundredFoldersDeepIsRemovedWhole) {
  testing::fs::path deep = jvm() / "group1" / "jdk8.old";
  for (int i = 0; i < 100; ++i) deep /= "level" + std::to_string(i);
  // Deeper than the 260 characters of an ordinary Windows path.
  ASSERT_GT(deep.wstring().size(), 600u);
  const std::wstring extended = L"\\\\?\\" + deep.wstring();
  ASSERT_TRUE(testing::fs::create_directories(extended));
  write_file(extended + L"\\release", "deep");

  EXPECT_EQ(run(L""), 0u);

  EXPECT_TRUE(contains(log(), "Old JVM deleted: .\\..\\JVM\\group1\\jdk8.old"));
  EXPECT_FALSE(exists(jvm() / "group1" / "jdk8.old"));
}

TEST_F(BadInput, NamesAtTheEdgeOfMaxPathAreRenamed) {
  // The pending DLL's full path is 259 characters, the longest an ordinary
  // path may be; its target is four shorter.
  const size_t folder_length = app().wstring().size() + 1;
  ASSERT_LT(folder_length + 20, 259u);
  const std::string stem(259 - folder_length - 8, 'n');
  write_file(app() / (stem + ".new.dll"), "new");
  write_file(app() / (stem + ".dll"), "old");
  EXPECT_EQ(run(L""), 0u);
  EXPECT_EQ(read_file(app() / (stem + ".dll")), "new");
  EXPECT_FALSE(exists(app() / (stem + ".new.dll")));
}

TEST_F(BadInput, AReadOnlyOldDllIsReplaced) {
  write_file(app() / "native.dll", "old");
  write_file(app() / "native.new.dll", "new");
  SetFileAttributesW((app() / "native.dll").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(run(L""), 0u);
  EXPECT_EQ(read_file(app() / "native.dll"), "new");
  EXPECT_TRUE(contains(log(), "Old Dll deleted."));
}

TEST_F(BadInput, ARunKilledHalfWayLeavesEveryCompletedLine) {
  write_file(app() / "native.dll", "old");
  write_file(app() / "native.new.dll", "new");
  testing::held_file holder(app() / "native.dll", std::chrono::seconds(60));
  ASSERT_TRUE(holder.held());

  // Killed while it waits for the DLL.
  testing::started_program kestrun(app() / "kestrun.exe", L"kestrun.exe a", app());
  ASSERT_TRUE(wait_for_log_line("Waiting a bit...", 2)) << log_bytes();
  kestrun.kill();
  holder.release();

  const std::string bytes = log_bytes();
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  const strings lines = log();
  EXPECT_EQ(lines.front(), "starting...");
  EXPECT_TRUE(contains(lines, "Renaming new DLLs..."));
  EXPECT_GE(std::count(lines.begin(), lines.end(), "Waiting a bit..."), 2);
  EXPECT_EQ(read_file(app() / "native.dll"), "old");
  EXPECT_EQ(read_file(app() / "native.new.dll"), "new");
}

}  // namespace
}  // namespace kestrun
