#include "starter/clear_old_updater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/directory_entry.h"
#include "tests/support/test_support.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;
using testing::write_file;

// The four lines a file that could not be deleted leaves in one pass: the
// first line of delete_entry's report, the Windows error from that report,
// and the step's own two lines.
strings not_deleted(const std::string& name, int windows_error) {
  return {"Error deleting '" + name + "'", "code().value():    " + std::to_string(windows_error),
          "Could not delete file: ./" + name, "Waiting a bit..."};
}

void append(strings& lines, const strings& more) {
  lines.insert(lines.end(), more.begin(), more.end());
}

class ClearOldUpdater : public ::testing::Test {
 protected:
  // The step's own lines.
  strings own_lines() { return testing::step_lines(log_.texts()); }

  // All lines, each error report cut down to its first line and the Windows
  // error code it names.
  strings lines() {
    const std::string unprefixed = "<no prefix>";
    const std::string code = unprefixed + "code().value():";
    strings kept;
    for (const std::string& text : log_.texts()) {
      if (text.compare(0, code.size(), code) == 0) {
        kept.push_back(text.substr(unprefixed.size()));
      } else if (text.compare(0, unprefixed.size(), unprefixed) != 0) {
        kept.push_back(text);
      }
    }
    return kept;
  }

  void write_all_obsolete_files() {
    // Written in another order than the table's.
    for (auto name = std::rbegin(obsolete_files); name != std::rend(obsolete_files); ++name) {
      write_file(folder_ / *name, "old");
    }
  }

  testing::temp_folder folder_{"obsolete"};
  testing::log_capture log_;
  testing::scoped_current_directory in_folder_{folder_.path()};
  testing::fake_retry_clock clock_;
};

TEST_F(ClearOldUpdater, NothingToRemoveMeansNothingLogged) {
  write_file(folder_ / "Updater_Client.jar", "the current updater stays");
  write_file(folder_ / "Temp.jar.bak", "not on the list");
  clear_old_updater(".");
  EXPECT_EQ(log_.bytes(), "");
  EXPECT_TRUE(clock_.sleeps().empty());
  EXPECT_TRUE(testing::fs::exists(folder_ / "Updater_Client.jar"));
  EXPECT_TRUE(testing::fs::exists(folder_ / "Temp.jar.bak"));
}

TEST_F(ClearOldUpdater, RemovesTheSevenFilesInTableOrder) {
  write_all_obsolete_files();
  write_file(folder_ / "Updater_Client.exe", "the current updater stays");
  clear_old_updater(".");
  EXPECT_EQ(log_.texts(),
            (strings{"File deleted: ./QuorvelAktualisierung.exe",
                     "File deleted: ./QuorvelAktualisierungUnbeaufsichtigt.exe",
                     "File deleted: ./Temp.jar", "File deleted: ./Updater.jar",
                     "File deleted: ./UpdaterImpl.jar", "File deleted: ./UpdaterImplNew.jar",
                     "File deleted: ./Updater.lock"}));
  EXPECT_TRUE(clock_.sleeps().empty());
  EXPECT_EQ(std::distance(testing::fs::directory_iterator(folder_.path()),
                          testing::fs::directory_iterator()),
            1);
  EXPECT_TRUE(testing::fs::exists(folder_ / "Updater_Client.exe"));
}

TEST_F(ClearOldUpdater, TheLogShowsTheDirectoryAsGivenJoinedWithASlash) {
  const testing::fs::path install = folder_ / L"Inst\u00e4llation";
  write_file(install / "Temp.jar", "old");
  write_file(install / "Updater.lock", "old");
  const std::string directory = narrow_path(install);
  clear_old_updater(directory);
  EXPECT_EQ(log_.texts(), (strings{"File deleted: " + directory + "/Temp.jar",
                                   "File deleted: " + directory + "/Updater.lock"}));
  EXPECT_TRUE(testing::fs::is_empty(install));
}

TEST_F(ClearOldUpdater, AHeldFileIsRetriedInLaterPassesUntilItIsFreed) {
  write_all_obsolete_files();
  testing::held_file holder(folder_ / "Updater.jar", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());
  // Freed once 2.5 seconds have been waited: during the third wait.
  unsigned long waited = 0;
  clock_.set_on_sleep([&](size_t) {
    waited += clock_.sleeps().back();
    if (waited >= 2500) holder.release();
  });

  clear_old_updater(".");

  // First pass: the others go, Updater.jar fails and is waited for where it
  // stands in the list. Second and third pass: only Updater.jar. Fourth
  // pass: it goes, and with nothing failed the operation ends.
  strings expected = {"File deleted: ./QuorvelAktualisierung.exe",
                      "File deleted: ./QuorvelAktualisierungUnbeaufsichtigt.exe",
                      "File deleted: ./Temp.jar"};
  append(expected, not_deleted("Updater.jar", 32));
  append(expected, {"File deleted: ./UpdaterImpl.jar", "File deleted: ./UpdaterImplNew.jar",
                    "File deleted: ./Updater.lock"});
  append(expected, not_deleted("Updater.jar", 32));
  append(expected, not_deleted("Updater.jar", 32));
  expected.push_back("File deleted: ./Updater.jar");
  EXPECT_EQ(lines(), expected);
  EXPECT_EQ(clock_.sleeps(), (std::vector<unsigned long>{1000, 1000, 1000}));
  EXPECT_TRUE(testing::fs::is_empty(folder_.path()));
}

TEST_F(ClearOldUpdater, EachFailedFileIsWaitedForInsideThePass) {
  write_file(folder_ / "Temp.jar", "held");
  write_file(folder_ / "UpdaterImplNew.jar", "held");
  testing::held_file temp(folder_ / "Temp.jar", std::chrono::seconds(30));
  testing::held_file impl(folder_ / "UpdaterImplNew.jar", std::chrono::seconds(30));
  ASSERT_TRUE(temp.held());
  ASSERT_TRUE(impl.held());
  // Both are freed at the end of the first pass's second wait.
  clock_.set_on_sleep([&](size_t sleeps) {
    if (sleeps == 2) {
      temp.release();
      impl.release();
    }
  });

  clear_old_updater(".");

  strings expected = not_deleted("Temp.jar", 32);
  append(expected, not_deleted("UpdaterImplNew.jar", 32));
  append(expected, {"File deleted: ./Temp.jar", "File deleted: ./UpdaterImplNew.jar"});
  EXPECT_EQ(lines(), expected);
  EXPECT_EQ(clock_.sleeps().size(), 2u);
}

TEST_F(ClearOldUpdater, AFileThatNeverFreesIsGivenUpAfterAMinute) {
  write_file(folder_ / "Temp.jar", "old");
  write_file(folder_ / "UpdaterImpl.jar", "held");
  testing::held_file holder(folder_ / "UpdaterImpl.jar", std::chrono::seconds(60));
  ASSERT_TRUE(holder.held());

  clear_old_updater(".");
  holder.release();

  // Passes begin at 0, 1, ..., 59 seconds; the one due at 60 is not made.
  strings expected = {"File deleted: ./Temp.jar"};
  for (int pass = 0; pass < 60; ++pass) append(expected, not_deleted("UpdaterImpl.jar", 32));
  EXPECT_EQ(lines(), expected);
  EXPECT_EQ(clock_.sleeps(), std::vector<unsigned long>(60, 1000));
  EXPECT_EQ(testing::read_file(folder_ / "UpdaterImpl.jar"), "held");
}

TEST_F(ClearOldUpdater, TheMinuteIsTestedOnlyBeforeAPass) {
  write_file(folder_ / "QuorvelAktualisierung.exe", "held");
  write_file(folder_ / "Updater.lock", "held");
  testing::held_file exe(folder_ / "QuorvelAktualisierung.exe", std::chrono::seconds(30));
  testing::held_file lock(folder_ / "Updater.lock", std::chrono::seconds(30));
  ASSERT_TRUE(exe.held());
  ASSERT_TRUE(lock.held());
  // During the first wait the system clock jumps past the minute: the pass
  // still treats the rest of the list, and no further pass begins.
  clock_.set_on_sleep([&](size_t sleeps) {
    if (sleeps == 1) clock_.shift_system_clock(60LL * 10000000);
  });

  clear_old_updater(".");
  exe.release();
  lock.release();

  strings expected = not_deleted("QuorvelAktualisierung.exe", 32);
  append(expected, not_deleted("Updater.lock", 32));
  EXPECT_EQ(lines(), expected);
  EXPECT_EQ(clock_.sleeps().size(), 2u);
}

TEST_F(ClearOldUpdater, AFolderWithAnObsoleteNameKeepsItsContents) {
  // Not removed recursively: a non-empty folder fails like a held file,
  // for the whole minute, and what is inside survives.
  write_file(folder_ / "Updater.lock" / "user data.txt", "keep me");
  clear_old_updater(".");
  strings expected;
  for (int pass = 0; pass < 60; ++pass) append(expected, not_deleted("Updater.lock", 145));
  EXPECT_EQ(lines(), expected);
  EXPECT_EQ(clock_.sleeps().size(), 60u);
  EXPECT_EQ(testing::read_file(folder_ / "Updater.lock" / "user data.txt"), "keep me");
}

TEST_F(ClearOldUpdater, AnEmptyFolderWithAnObsoleteNameGoes) {
  testing::fs::create_directories(folder_ / "Temp.jar");
  clear_old_updater(".");
  EXPECT_EQ(log_.texts(), (strings{"File deleted: ./Temp.jar"}));
  EXPECT_FALSE(testing::fs::exists(folder_ / "Temp.jar"));
}

TEST_F(ClearOldUpdater, ASecondRunFindsNothingLeft) {
  write_file(folder_ / "Updater.lock", "old");
  clear_old_updater(".");
  clear_old_updater(".");
  EXPECT_EQ(log_.texts(), (strings{"File deleted: ./Updater.lock"}));
  EXPECT_TRUE(clock_.sleeps().empty());
}

TEST_F(ClearOldUpdater, ASecondRunHasAMinuteOfItsOwn) {
  write_file(folder_ / "Updater.jar", "held");
  testing::held_file holder(folder_ / "Updater.jar", std::chrono::seconds(60));
  ASSERT_TRUE(holder.held());

  clear_old_updater(".");
  const std::size_t first_run_sleeps = clock_.sleeps().size();
  clear_old_updater(".");
  holder.release();

  EXPECT_EQ(first_run_sleeps, 60u);
  EXPECT_EQ(clock_.sleeps().size(), 120u);
  const strings own = own_lines();
  EXPECT_EQ(std::count(own.begin(), own.end(), "Could not delete file: ./Updater.jar"), 120);
}

TEST_F(ClearOldUpdater, AStatusThatCannotBeReadLeavesTheOperation) {
  // Windows cannot reach the share and says so with another error than
  // "not found" (under Wine: 66, bad device type).
  EXPECT_THROW(clear_old_updater("\\\\nohost\\share"), std::filesystem::filesystem_error);
  EXPECT_EQ(log_.bytes(), "");
  EXPECT_TRUE(clock_.sleeps().empty());
}

}  // namespace
}  // namespace kestrun
