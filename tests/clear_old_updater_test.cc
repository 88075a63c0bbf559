#include "starter/clear_old_updater.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/test_support.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;
using testing::write_file;

class ClearOldUpdater : public ::testing::Test {
 protected:
  strings own_lines() { return testing::step_lines(log_.texts()); }

  testing::temp_folder folder_{"obsolete"};
  testing::log_capture log_;
  testing::scoped_current_directory in_folder_{folder_.path()};
  testing::fake_retry_clock clock_;
};

TEST_F(ClearOldUpdater, NothingToRemoveMeansNothingLogged) {
  write_file(folder_ / "Updater_Client.jar", "the current updater stays");
  clear_old_updater(".");
  EXPECT_EQ(log_.bytes(), "");
  EXPECT_TRUE(clock_.sleeps().empty());
  EXPECT_TRUE(testing::fs::exists(folder_ / "Updater_Client.jar"));
}

TEST_F(ClearOldUpdater, RemovesTheSevenFilesInTableOrder) {
  // Written in another order than the table's.
  for (auto name = std::rbegin(obsolete_files); name != std::rend(obsolete_files); ++name) {
    write_file(folder_ / *name, "old");
  }
  clear_old_updater(".");
  EXPECT_EQ(log_.texts(),
            (strings{"File deleted: ./QuorvelAktualisierung.exe",
                     "File deleted: ./QuorvelAktualisierungUnbeaufsichtigt.exe",
                     "File deleted: ./Temp.jar", "File deleted: ./Updater.jar",
                     "File deleted: ./UpdaterImpl.jar", "File deleted: ./UpdaterImplNew.jar",
                     "File deleted: ./Updater.lock"}));
  EXPECT_TRUE(clock_.sleeps().empty());
  EXPECT_TRUE(testing::fs::is_empty(folder_.path()));
}

TEST_F(ClearOldUpdater, AHeldFileIsRetriedInLaterPassesUntilItIsFreed) {
  write_file(folder_ / "Temp.jar", "old");
  write_file(folder_ / "Updater.jar", "held");
  write_file(folder_ / "Updater.lock", "old");
  testing::held_file holder(folder_ / "Updater.jar", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());
  // Free after 2.5 seconds of waiting: the third pass finds it free.
  clock_.set_on_sleep([&](size_t sleeps) {
    if (sleeps == 2) holder.release();
  });

  clear_old_updater(".");

  EXPECT_EQ(own_lines(),
            (strings{"File deleted: ./Temp.jar", "Could not delete file: ./Updater.jar",
                     "Waiting a bit...", "File deleted: ./Updater.lock",
                     "Could not delete file: ./Updater.jar", "Waiting a bit...",
                     "File deleted: ./Updater.jar"}));
  EXPECT_EQ(clock_.sleeps().size(), 2u);
  EXPECT_FALSE(testing::fs::exists(folder_ / "Updater.jar"));
}

TEST_F(ClearOldUpdater, AFileThatNeverFreesIsGivenUpAfterAMinute) {
  write_file(folder_ / "UpdaterImpl.jar", "held");
  testing::held_file holder(folder_ / "UpdaterImpl.jar", std::chrono::seconds(60));
  ASSERT_TRUE(holder.held());

  clear_old_updater(".");
  holder.release();

  const strings own = own_lines();
  EXPECT_EQ(std::count(own.begin(), own.end(), "Could not delete file: ./UpdaterImpl.jar"), 60);
  EXPECT_EQ(own.back(), "Waiting a bit...");
  EXPECT_EQ(testing::read_file(folder_ / "UpdaterImpl.jar"), "held");
}

TEST_F(ClearOldUpdater, AFolderWithAnObsoleteNameKeepsItsContents) {
  write_file(folder_ / "Updater.lock" / "user data.txt", "keep me");
  clear_old_updater(".");
  const strings own = own_lines();
  EXPECT_EQ(std::count(own.begin(), own.end(), "Could not delete file: ./Updater.lock"), 60);
  EXPECT_EQ(testing::read_file(folder_ / "Updater.lock" / "user data.txt"), "keep me");
}

TEST_F(ClearOldUpdater, ASecondRunFindsNothingLeft) {
  write_file(folder_ / "Updater.lock", "old");
  clear_old_updater(".");
  clear_old_updater(".");
  EXPECT_EQ(log_.texts(), (strings{"File deleted: ./Updater.lock"}));
}

}  // namespace
}  // namespace kestrun
