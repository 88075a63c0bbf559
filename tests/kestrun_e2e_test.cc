// Runs the real kestrun.exe in throw-away installations (an application
// folder with the JVM folder beside it) with a stand-in Updater_Client.exe,
// started with exact command lines through CreateProcessW.
#include <gtest/gtest.h>

#include "runtime/process.h"
#include "tests/kestrun_installation.h"
#include "tests/support/test_support.h"

namespace kestrun {
namespace {

using testing::read_file;
using testing::start_record;
using testing::fs::path;
using strings = std::vector<std::string>;

class Kestrun : public testing::kestrun_installation_test {};

TEST_F(Kestrun, HealthyInstallationStartsTheUpdaterWithTheRemainingArguments) {
  EXPECT_EQ(run(L" a  b --clearOldUpdater c"), 0u);

  const std::string other = tools_entry();
  EXPECT_EQ(log(), (strings{
                       "starting...",
                       "Arguments: a  b --clearOldUpdater c",
                       "New Arguments: a b c ",
                       "Locking for updates of: Updater_Client.exe",
                       "Updader file already up to date: Updater_Client.exe",
                       "Locking for updates of: Updater_Client.jar",
                       "Updader file already up to date: Updater_Client.jar",
                       "Locking for updates of: Updater_Client.sh",
                       "Updader file already up to date: Updater_Client.sh",
                       "Renaming new JVMs...",
                       "Checking JVMs in : .\\..\\JVM\\group1",
                       "Renaming new DLLs...",
                       "Removing JDK/JRE from path.",
                       "Old value for Path: " + jdk_entry() + ";" + other,
                       "Removing JDK/JRE from Path: " + jdk_entry(),
                       "New value for Path: " + other + ";",
                       "Old value for PATH: " + other + ";",
                       "New value for PATH: " + other + ";",
                       "Old value for path: " + other + ";",
                       "New value for path: " + other + ";",
                       "Starting Updater_Client.exe a b c ",
                       "finished",
                   }));
  start_record record;
  ASSERT_TRUE(updater_record(record));
  EXPECT_EQ(record.command_line, "Updater_Client.exe a b c ");
  EXPECT_EQ(record.path_variable, other + ";");
  EXPECT_EQ(path(record.working_directory), app());
}

TEST_F(Kestrun, EmptyCommandLineStillGivesTheUpdaterItsTrailingBlank) {
  EXPECT_EQ(run(L""), 0u);
  const strings lines = log();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Arguments: ");
  EXPECT_EQ(lines[2], "New Arguments: ");
  EXPECT_EQ(lines[lines.size() - 2], "Starting Updater_Client.exe ");
  start_record record;
  ASSERT_TRUE(updater_record(record));
  EXPECT_EQ(record.command_line, "Updater_Client.exe ");
}

TEST_F(Kestrun, TwoPlainArgumentsArePassedOnWithoutANewArgumentsLine) {
  EXPECT_EQ(run(L" -s \"C:\\Program Files\\x\""), 0u);
  const strings lines = log();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Arguments: -s \"C:\\Program Files\\x\"");
  EXPECT_EQ(lines[2], "Locking for updates of: Updater_Client.exe");
  start_record record;
  ASSERT_TRUE(updater_record(record));
  EXPECT_EQ(record.command_line, "Updater_Client.exe -s \"C:\\Program Files\\x\" ");
}

TEST_F(Kestrun, PendingWorkIsDoneBeforeTheUpdaterStarts) {
  testing::write_file(app() / "core.jar", "old core");
  testing::write_file(app() / "core.rename-to-jar", "new core");
  testing::write_file(app() / "native.dll", "old native");
  testing::write_file(app() / "native.new.dll", "new native");
  testing::copy_program("updater_stub.exe", app(), "Updater_Client_2.exe");
  testing::set_write_time(app() / "Updater_Client.exe", 1700000000);
  testing::set_write_time(app() / "Updater_Client_2.exe", 1700000100);
  testing::write_file(jvm() / "group1" / "jre" / "release", "old runtime");
  testing::write_file(jvm() / "group1" / "jre.new" / "release", "new runtime");
  testing::write_file(jvm() / "group1" / "jre8.old" / "bin" / "java.exe", "older runtime");

  EXPECT_EQ(run(L" x"), 0u);

  EXPECT_EQ(read_file(app() / "core.jar"), "new core");
  EXPECT_FALSE(exists(app() / "core.rename-to-jar"));
  EXPECT_EQ(read_file(app() / "native.dll"), "new native");
  EXPECT_FALSE(exists(app() / "native.new.dll"));
  EXPECT_FALSE(exists(app() / "Updater_Client_2.exe"));
  EXPECT_EQ(read_file(jvm() / "group1" / "jre" / "release"), "new runtime");
  EXPECT_FALSE(exists(jvm() / "group1" / "jre.new"));
  EXPECT_FALSE(exists(jvm() / "group1" / "jre8.old"));
  start_record record;
  ASSERT_TRUE(updater_record(record));
  EXPECT_EQ(record.command_line, "Updater_Client.exe x ");
  EXPECT_TRUE(contains(log(), "Renaming new updater: Updater_Client_2.exe -> Updater_Client.exe"));
}

TEST_F(Kestrun, SwitchGivenTwiceClearsTwiceAndIsNotPassedOn) {
  for (const char* name : {"QuorvelAktualisierung.exe", "Temp.jar", "Updater.lock"}) {
    testing::write_file(app() / name, "obsolete");
  }
  EXPECT_EQ(run(L" --clearOldUpdater keep --clearOldUpdater"), 0u);
  const strings lines = log();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(strings(lines.begin() + 2, lines.begin() + 6),
            (strings{"File deleted: ./QuorvelAktualisierung.exe", "File deleted: ./Temp.jar",
                     "File deleted: ./Updater.lock", "New Arguments: keep "}));
  start_record record;
  ASSERT_TRUE(updater_record(record));
  EXPECT_EQ(record.command_line, "Updater_Client.exe keep ");
}

TEST_F(Kestrun, ALockedObsoleteFileIsDeletedOnceItIsFreed) {
  testing::write_file(app() / "Updater.jar", "obsolete");
  testing::held_file holder(app() / "Updater.jar", std::chrono::milliseconds(2500));
  ASSERT_TRUE(holder.held());

  EXPECT_EQ(run(L" --clearOldUpdater"), 0u);

  const strings lines = log();
  EXPECT_TRUE(contains(lines, "Could not delete file: ./Updater.jar"));
  EXPECT_TRUE(contains(lines, "Waiting a bit..."));
  EXPECT_TRUE(contains(lines, "File deleted: ./Updater.jar"));
  EXPECT_FALSE(exists(app() / "Updater.jar"));
  start_record record;
  EXPECT_TRUE(updater_record(record));
}

TEST_F(Kestrun, AFailedStepShowsTheLogInTheAssociatedProgramAndEndsWithOne) {
  associate_log_files();
  remove(app() / "Updater_Client.sh");

  EXPECT_EQ(run(L" a"), 1u);

  const strings lines = log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(strings(lines.end() - 2, lines.end()),
            (strings{"No updater file found with name: Updater_Client.sh",
                     "Failed to start the Updater - Open Log-File for the user..."}));
  start_record viewer;
  ASSERT_TRUE(viewer_record(viewer));
  // The viewer's path holds blanks and reaches it quoted.
  EXPECT_EQ(viewer.command_line, "\"" + viewer_path() + "\" ./log/starter.log");
  EXPECT_FALSE(exists(app() / "Updater_Client.exe.record.txt"));
}

TEST_F(Kestrun, AShell32PlantedBesideItIsNotLoadedAndTheLogIsStillShown) {
  associate_log_files();
  remove(app() / "Updater_Client.sh");
  testing::copy_program("planted\\shell32.dll", app(), "shell32.dll");
  // Under Wine, a planted shell32 is only ever a candidate when the
  // overrides prefer native DLLs (CTest sets them so).
  wchar_t overrides[1024] = {};
  ASSERT_LT(GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 1024), 1024u);
  ASSERT_NE(std::wstring(overrides).find(L"shell32=n,b"), std::wstring::npos) << overrides;

  const DWORD exit_code = run(L"");

  EXPECT_EQ(exit_code, 1u);
  start_record viewer;
  EXPECT_TRUE(viewer_record(viewer));
  EXPECT_FALSE(exists(app() / "planted-shell32-loaded"));
}

TEST_F(Kestrun, WithoutAssociationTheLogSaysSo) {
  remove_log_association();
  remove(app() / "Updater_Client.exe");

  EXPECT_EQ(run(L""), 1u);

  const strings lines = log();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(strings(lines.end() - 3, lines.end()),
            (strings{"No updater file found with name: Updater_Client.exe",
                     "Failed to start the Updater - Open Log-File for the user...",
                     "Could not find executable for the log file."}));
}

TEST_F(Kestrun, AnExceptionBeforeTheUpdaterStartIsAFailedRun) {
  associate_log_files();
  testing::fs::remove_all(jvm());

  EXPECT_EQ(run(L""), 1u);

  const strings lines = log();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "Renaming new JVMs...");
  // The error's own description names the JVM folder it could not list.
  EXPECT_NE(lines[lines.size() - 2].find("JVM"), std::string::npos) << lines[lines.size() - 2];
  EXPECT_EQ(lines.back(), "Failed to start the Updater - Open Log-File for the user...");
  start_record viewer;
  EXPECT_TRUE(viewer_record(viewer));
  EXPECT_FALSE(exists(app() / "Updater_Client.exe.record.txt"));
}

TEST_F(Kestrun, AnUpdaterThatCannotBeStartedIsLoggedAndTheRunFinishes) {
  remove(app() / "Updater_Client.exe");
  testing::fs::create_directory(app() / "Updater_Client.exe");

  EXPECT_EQ(run(L""), 0u);

  const std::string bytes = log_bytes();
  EXPECT_NE(bytes.find(": Error calling 'Updater_Client.exe' - "), std::string::npos) << bytes;
  EXPECT_EQ(log().back(), "finished");
}

TEST_F(Kestrun, APlainFileNamedLogStopsEverythingWithExitCodeOne) {
  testing::write_file(app() / "log", "a plain file");
  testing::write_file(app() / "core.rename-to-jar", "pending");

  EXPECT_EQ(run(L" a"), 1u);

  EXPECT_EQ(read_file(app() / "log"), "a plain file");
  EXPECT_TRUE(exists(app() / "core.rename-to-jar"));
  Sleep(500);
  EXPECT_FALSE(exists(app() / "Updater_Client.exe.record.txt"));
}

}  // namespace
}  // namespace kestrun
