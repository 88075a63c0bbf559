// Runs the real kestrun.exe in throw-away installations (an application
// folder with the JVM folder beside it) with a stand-in Updater_Client.exe,
// started with exact command lines through CreateProcessW.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "runtime/directory_entry.h"
#include "runtime/process.h"
#include "runtime/text.h"
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
  testing::held_file holder(app() / "Updater.jar", std::chrono::seconds(60));
  ASSERT_TRUE(holder.held());

  testing::started_program kestrun(app() / "kestrun.exe", L"kestrun.exe --clearOldUpdater", app());
  ASSERT_TRUE(wait_for_log_line("Waiting a bit...")) << log_bytes();
  holder.release();
  EXPECT_EQ(kestrun.exit_code(), 0u);

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
  // A startable updater beside the starter's own program and on Path does
  // not count: the updater is the one in the working directory.
  testing::temp_folder elsewhere{"elsewhere"};
  testing::copy_program("kestrun.exe", elsewhere.path());
  testing::copy_program("updater_stub.exe", elsewhere.path(), "Updater_Client.exe");
  const std::wstring path = elsewhere.path().wstring() + L";" + widen(tools_entry());
  SetEnvironmentVariableW(L"Path", path.c_str());

  EXPECT_EQ(testing::run_program(elsewhere / "kestrun.exe", L"kestrun.exe", app()), 0u);

  const std::string bytes = log_bytes();
  EXPECT_NE(bytes.find(": Error calling 'Updater_Client.exe' - "), std::string::npos) << bytes;
  EXPECT_EQ(log().back(), "finished");
  Sleep(500);
  EXPECT_FALSE(exists(app() / "Updater_Client.exe.starts.txt"));
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

// Arguments reach the log and the updater character for character: text
// outside ASCII, outside any one ANSI code page, and right after the
// program name, where the runtime's own start-up code drops such bytes.
TEST_F(Kestrun, ArgumentsOutsideAsciiReachTheLogAndTheUpdaterExactly) {
  struct row {
    std::wstring arguments;
    std::string logged;
    std::string new_arguments;  // empty: no "New Arguments: " line
  };
  const std::vector<row> rows = {
      {L" \u00c4rger b", u8"\u00c4rger b", ""},
      {L" \"C:\\Temp\\\u00d6lm\u00fchle\" x", u8"\"C:\\Temp\\\u00d6lm\u00fchle\" x", ""},
      {L" \u4e2d\u6587 --clearOldUpdater \u00fc", u8"\u4e2d\u6587 --clearOldUpdater \u00fc",
       u8"\u4e2d\u6587 \u00fc "},
      {L"\t\u00e9t\u00e9 c", u8"\u00e9t\u00e9 c", ""},
      {L" \u00fc\u00f6\u00e4\u4e2d", u8"\u00fc\u00f6\u00e4\u4e2d", ""},
  };
  for (const row& row : rows) {
    SCOPED_TRACE(row.logged);
    remove(app() / "Updater_Client.exe.record.txt");
    EXPECT_EQ(run(row.arguments), 0u);
    const std::string passed_on = row.new_arguments.empty() ? row.logged + " " : row.new_arguments;
    const strings lines = log();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Arguments: " + row.logged);
    EXPECT_EQ(lines[2], row.new_arguments.empty() ? "Locking for updates of: Updater_Client.exe"
                                                  : "New Arguments: " + row.new_arguments);
    EXPECT_TRUE(contains(lines, "Starting Updater_Client.exe " + passed_on));
    start_record record;
    ASSERT_TRUE(updater_record(record));
    EXPECT_EQ(record.command_line, "Updater_Client.exe " + passed_on);
  }
}

// The tests run in a Russian locale (set by the build): Cyrillic system
// texts, and an ANSI code page with no "\u00e9" or "\u0153" in it.
TEST_F(Kestrun, TheWholeLogIsUtf8WhateverLanguageItsTextsAreIn) {
  const std::string sharing_text = windows_error_message(ERROR_SHARING_VIOLATION);
  ASSERT_TRUE(std::any_of(sharing_text.begin(), sharing_text.end(),
                          [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
      << "the system texts are not in a language outside ASCII: " << sharing_text;
  testing::write_file(app() / L"c\u0153ur.dll", "old");
  testing::write_file(app() / L"c\u0153ur.new.dll", "new");
  testing::write_file(app() / "Updater.jar", "obsolete");
  testing::held_file holder(app() / "Updater.jar", std::chrono::seconds(60));
  ASSERT_TRUE(holder.held());
  remove(app() / "Updater_Client.exe");
  testing::fs::create_directory(app() / "Updater_Client.exe");

  testing::started_program kestrun(app() / "kestrun.exe", L"kestrun.exe \u00e9 --clearOldUpdater",
                                   app());
  ASSERT_TRUE(wait_for_log_line("Waiting a bit...")) << log_bytes();
  holder.release();
  EXPECT_EQ(kestrun.exit_code(), 0u);

  const std::string bytes = log_bytes();
  EXPECT_NE(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                static_cast<int>(bytes.size()), nullptr, 0),
            0)
      << bytes;
  EXPECT_EQ(bytes.rfind(": starting...\r\n", 40), 23u) << bytes.substr(0, 40);
  for (const std::string& text : {std::string(u8"Arguments: \u00e9 --clearOldUpdater"),
                                  std::string(u8"Renaming dll: c\u0153ur.new.dll -> c\u0153ur.dll"),
                                  "code().message():  " + sharing_text,
                                  "what():  filesystem error: remove: " + sharing_text}) {
    EXPECT_NE(bytes.find(text), std::string::npos) << text << "\n" << bytes;
  }
  // The system's text of the failed start, in Cyrillic.
  const std::string error_calling = ": Error calling 'Updater_Client.exe' - ";
  const size_t start_error = bytes.find(error_calling);
  ASSERT_NE(start_error, std::string::npos) << bytes;
  EXPECT_GE(static_cast<unsigned char>(bytes[start_error + error_calling.size()]), 0x80) << bytes;
}

// Two or three starts at once (a double click, a shortcut and an autostart
// entry) take turns: every pending file ends up new, none is lost.
TEST_F(Kestrun, RunsStartedTogetherTakeTurnsAndLoseNothing) {
  const int pending = 200;
  for (int i = 0; i < pending; ++i) {
    const std::string name = "lib" + std::to_string(i);
    testing::write_file(app() / (name + ".jar"), "old");
    testing::write_file(app() / (name + ".rename-to-jar"), "new");
    testing::write_file(app() / (name + ".dll"), "old");
    testing::write_file(app() / (name + ".new.dll"), "new");
  }
  testing::copy_program("updater_stub.exe", app(), "Updater_Client_2.exe");
  testing::set_write_time(app() / "Updater_Client.exe", 1700000000);
  testing::set_write_time(app() / "Updater_Client_2.exe", 1700000100);
  testing::write_file(jvm() / "group1" / "jdk" / "release", "old runtime");
  testing::write_file(jvm() / "group1" / "jdk.new" / "release", "new runtime");
  testing::write_file(jvm() / "group1" / "jdk8.old" / "release", "older runtime");

  std::vector<std::unique_ptr<testing::started_program>> runs;
  for (int i = 0; i < 3; ++i) {
    runs.push_back(
        std::make_unique<testing::started_program>(app() / "kestrun.exe", L"kestrun.exe a", app()));
  }
  for (auto& run : runs) EXPECT_EQ(run->exit_code(), 0u);

  for (int i = 0; i < pending; ++i) {
    const std::string name = "lib" + std::to_string(i);
    EXPECT_EQ(read_file(app() / (name + ".jar")), "new") << name;
    EXPECT_EQ(read_file(app() / (name + ".dll")), "new") << name;
    EXPECT_FALSE(exists(app() / (name + ".rename-to-jar")) || exists(app() / (name + ".new.dll")));
  }
  EXPECT_EQ(read_file(jvm() / "group1" / "jdk" / "release"), "new runtime");
  EXPECT_FALSE(exists(jvm() / "group1" / "jdk.new") || exists(jvm() / "group1" / "jdk8.old"));
  EXPECT_FALSE(exists(app() / "Updater_Client_2.exe"));
  // Each run started the updater.
  EXPECT_TRUE(testing::wait_until(
      [&] { return read_file(app() / "Updater_Client.exe.starts.txt").size() >= 24; }));
  EXPECT_EQ(read_file(app() / "Updater_Client.exe.starts.txt"), "started\nstarted\nstarted\n");
  // The log is the last run's, whole.
  const strings lines = log();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "starting..."), 1) << log_bytes();
  EXPECT_EQ(lines.back(), "finished");
  EXPECT_EQ(
      std::count_if(lines.begin(), lines.end(),
                    [](const std::string& line) { return line.rfind("<no prefix>", 0) == 0; }),
      0)
      << log_bytes();
}

using files = std::vector<std::pair<std::string, std::string>>;  // name, bytes

// Writes the files below folder, each written 100 seconds after the one
// before it.
void write_in_order(const path& folder, const files& list) {
  long long time = 1700000000;
  for (const auto& [name, bytes] : list) {
    testing::write_file(folder / name, bytes);
    testing::set_write_time(folder / name, time += 100);
  }
}

// Names in folder that a swap moves aside.
strings aside_copies(const path& folder) {
  strings names;
  for (const auto& entry : testing::fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().u8string();
    if (name.find(".aside-") != std::string::npos) names.push_back(name);
  }
  return names;
}

// Another program holds one file or folder while kestrun.exe runs. Whatever
// a step was to replace is there and whole afterwards, the old one or the
// new one, and a replacement that did not happen is still pending.
TEST_F(Kestrun, AHeldFileOrFolderNeverLeavesAReplacedOneMissingOrPartlyDeleted) {
  struct row {
    std::string target, pending, held;
    bool freed_at_first_wait;
    DWORD exit_code;
    bool replaced;
  };
  const std::string g = "..\\JVM\\group1\\";
  // Wine lets a folder with a file open inside be moved (Windows does not):
  // with a file in the runtime held, the new runtime goes in, and the old one
  // stays aside until a later run.
  const row rows[] = {
      {"core.jar", "core.rename-to-jar", "core.rename-to-jar", false, 0, false},
      {g + "jdk\\lib\\modules", g + "jdk.new\\lib\\modules", g + "jdk\\lib\\modules", false, 0,
       true},
      {g + "jre\\release", g + "jre.new\\release", g + "jre", true, 0, true},
      {"core.dll", "core.new.dll", "core.new.dll", true, 0, true},
      {"Updater_Client.jar", "Updater_Client_2.jar", "Updater_Client_2.jar", false, 1, false},
  };
  for (const row& row : rows) {
    write_in_order(app(), {{row.target, "old"}, {row.pending, "new"}});
    remove(app() / "log" / "starter.log");
    testing::held_file holder(app() / row.held, std::chrono::seconds(60));
    ASSERT_TRUE(holder.held());
    testing::started_program kestrun(app() / "kestrun.exe", L"kestrun.exe", app());
    if (row.freed_at_first_wait) {
      ASSERT_TRUE(wait_for_log_line("Waiting a bit...")) << log_bytes();
      holder.release();
    }
    EXPECT_EQ(kestrun.exit_code(), row.exit_code) << row.held;
    holder.release();
    EXPECT_EQ(read_file(app() / row.target), row.replaced ? "new" : "old") << row.held;
    EXPECT_EQ(exists(app() / row.pending), !row.replaced) << row.held;
  }
  // The runtime left aside while a file in it was held went in a later run.
  EXPECT_EQ(aside_copies(jvm() / "group1"), strings{});
  EXPECT_EQ(aside_copies(app()), strings{});
}

// A run killed between the renames of a swap leaves the old copy aside,
// with the original missing (core, Updater_Client, jdk) or already replaced
// (util, jre). The next run puts the newest copy back where the original is
// missing, and then replaces it. base has nothing pending any more: its
// newest copy is put back and the other one goes.
TEST_F(Kestrun, ARunKilledInTheMiddleOfASwapIsCompletedByTheNextRun) {
  const std::string g = "..\\JVM\\group1\\";
  // A copy aside, holding "old", and the file beside it, holding "new".
  const std::pair<std::string, std::string> states[] = {
      {"core.jar.aside-1.old", "core.rename-to-jar"},
      {"core.dll.aside-1.old", "core.new.dll"},
      {"Updater_Client.jar.aside-1.old", "Updater_Client_2.jar"},
      {g + "jdk.aside-1.old\\release", g + "jdk.new\\release"},
      {"util.jar.aside-1.old", "util.jar"},
      {"util.dll.aside-3.old", "util.dll"},
      {g + "jre.aside-1.old\\release", g + "jre\\release"},
      {"base.jar.aside-2.old", "base.jar.aside-1.old"}};
  files before;
  for (const auto& [aside, beside] : states)
    before.insert(before.end(), {{aside, "old"}, {beside, "new"}});
  remove(app() / "Updater_Client.jar");
  write_in_order(app(), before);

  EXPECT_EQ(run(L""), 0u) << log_bytes();

  for (const char* name : {"core.jar", "core.dll", "Updater_Client.jar", "util.jar", "util.dll"}) {
    EXPECT_EQ(read_file(app() / name), "new") << name;
  }
  EXPECT_EQ(read_file(jvm() / "group1" / "jdk" / "release"), "new");
  EXPECT_EQ(read_file(jvm() / "group1" / "jre" / "release"), "new");
  EXPECT_EQ(read_file(app() / "base.jar"), "old");
  EXPECT_EQ(aside_copies(jvm() / "group1"), strings{});
  EXPECT_EQ(aside_copies(app()), strings{});
}

// Two starts at once: the second waits for the first to end, then keeps
// the first run's whole log as the previous one before it empties the log.
TEST_F(Kestrun, ARunThatWaitedKeepsTheWholeLogOfTheRunBefore) {
  testing::write_file(app() / "native.dll", "old");
  testing::write_file(app() / "native.new.dll", "new");
  testing::held_file holder(app() / "native.dll", std::chrono::seconds(60));
  ASSERT_TRUE(holder.held());

  testing::started_program first(app() / "kestrun.exe", L"kestrun.exe first", app());
  ASSERT_TRUE(wait_for_log_line("Waiting a bit...")) << log_bytes();
  testing::started_program second(app() / "kestrun.exe", L"kestrun.exe second", app());
  EXPECT_TRUE(second.running(std::chrono::milliseconds(1500)));
  holder.release();
  EXPECT_EQ(first.exit_code(), 0u);
  EXPECT_EQ(second.exit_code(), 0u);

  const std::string previous_bytes = read_file(app() / "log" / "starter.previous.log");
  const strings previous = testing::log_texts(previous_bytes);
  ASSERT_GE(previous.size(), 2u) << previous_bytes;
  EXPECT_EQ(strings(previous.begin(), previous.begin() + 2),
            (strings{"starting...", "Arguments: first"}));
  EXPECT_EQ(std::count(previous.begin(), previous.end(), "starting..."), 1) << previous_bytes;
  EXPECT_EQ(previous.back(), "finished");
  const strings lines = log();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1].rfind("Waited for another run of the starter", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "Arguments: second");
}

// The same installation through another drive letter (T: maps C:) is held
// by the run that got there first; a run that is killed frees it at once.
TEST_F(Kestrun, AnotherDriveLetterIsTheSameInstallationAndAKilledRunFreesIt) {
  const path other_app = L"T:" + app().wstring().substr(2);
  ASSERT_TRUE(exists(other_app / "kestrun.exe")) << "T: does not map C: in this Wine prefix";
  testing::write_file(app() / "native.dll", "old");
  testing::write_file(app() / "native.new.dll", "new");
  testing::held_file holder(app() / "native.dll", std::chrono::seconds(60));
  ASSERT_TRUE(holder.held());

  testing::started_program first(app() / "kestrun.exe", L"kestrun.exe", app());
  ASSERT_TRUE(wait_for_log_line("Waiting a bit...")) << log_bytes();
  testing::started_program second(other_app / "kestrun.exe", L"kestrun.exe", other_app);

  // The second run waits, and leaves the first run's log alone meanwhile.
  EXPECT_TRUE(second.running(std::chrono::milliseconds(1500)));
  EXPECT_EQ(log().front(), "starting...");
  EXPECT_TRUE(contains(log(), "Renaming new DLLs..."));

  first.kill();
  holder.release();
  EXPECT_EQ(second.exit_code(), 0u);
  const strings lines = log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1].rfind("Waited for another run of the starter in this installation to end, "
                           "ms: ",
                           0),
            0u)
      << lines[1];
  EXPECT_EQ(read_file(app() / "native.dll"), "new");
}

}  // namespace
}  // namespace kestrun
