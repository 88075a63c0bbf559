#include "starter/replace_updater.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/directory_entry.h"
#include "tests/support/test_support.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;
using testing::read_file;
using testing::set_write_time;
using testing::write_file;

constexpr long long march_1 = 1772323200;  // 2026-03-01 00:00 UTC
constexpr long long day = 86400;

class ReplaceUpdater : public ::testing::Test {
 protected:
  void put(const std::string& name, const std::string& bytes, long long time) {
    write_file(folder_ / name, bytes);
    set_write_time(folder_ / name, time);
  }
  bool exists(const std::string& name) { return testing::fs::exists(folder_ / name); }

  testing::temp_folder folder_{"updater"};
  testing::log_capture log_;
  testing::scoped_current_directory in_folder_{folder_.path()};
};

TEST_F(ReplaceUpdater, PromotesTheNewestCopyAndRemovesTheOthers) {
  put("Updater_Client.exe", "march 1", march_1);
  put("Updater_Client_2.exe", "march 5", march_1 + 4 * day);
  put("Updater_Client_1.exe", "march 3", march_1 + 2 * day);

  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".exe"));

  EXPECT_EQ(log_.texts(),
            (strings{"Locking for updates of: Updater_Client.exe",
                     "Deleting old updater: Updater_Client.exe", "Old updater deleted.",
                     "Renaming new updater: Updater_Client_2.exe -> Updater_Client.exe",
                     "New updater renamed.", "Old updater file deleted: Updater_Client_1.exe"}));
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "march 5");
  EXPECT_FALSE(exists("Updater_Client_2.exe"));
  EXPECT_FALSE(exists("Updater_Client_1.exe"));
}

TEST_F(ReplaceUpdater, APlainFileThatIsNewestStaysAndOlderCopiesAreLeft) {
  put("Updater_Client.exe", "current", march_1 + day);
  put("Updater_Client_old.exe", "old", march_1);
  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".exe"));
  EXPECT_EQ(log_.texts(), (strings{"Locking for updates of: Updater_Client.exe",
                                   "Updader file already up to date: Updater_Client.exe"}));
  EXPECT_TRUE(exists("Updater_Client_old.exe"));
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "current");
}

TEST_F(ReplaceUpdater, AMissingPlainFileIsNoObstacle) {
  put("Updater_Client_2.jar", "new", march_1);
  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".jar"));
  EXPECT_EQ(log_.texts(),
            (strings{"Locking for updates of: Updater_Client.jar",
                     "Deleting old updater: Updater_Client.jar",
                     "Renaming new updater: Updater_Client_2.jar -> Updater_Client.jar",
                     "New updater renamed."}));
  EXPECT_EQ(read_file(folder_ / "Updater_Client.jar"), "new");
}

TEST_F(ReplaceUpdater, OfEquallyNewFilesTheFirstListedWins) {
  // Within the same second: 10:00:00.2 and 10:00:00.9 count as equally new.
  put("Updater_Client.sh", "plain", march_1);
  put("Updater_Client_2.sh", "copy", march_1);
  const auto listed = list_directory(L".");
  const std::string first = entry_name(listed.front());

  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".sh"));

  if (first == "Updater_Client.sh") {
    EXPECT_EQ(log_.texts().back(), "Updader file already up to date: Updater_Client.sh");
    EXPECT_EQ(read_file(folder_ / "Updater_Client.sh"), "plain");
    EXPECT_TRUE(exists("Updater_Client_2.sh"));
  } else {
    EXPECT_EQ(read_file(folder_ / "Updater_Client.sh"), "copy");
    EXPECT_FALSE(exists("Updater_Client_2.sh"));
  }
}

TEST_F(ReplaceUpdater, WithoutACandidateNothingChangesAndTheResultIsFalse) {
  put("updater_client_2.exe", "other case", march_1);
  put("Updater_Client.exe.bak", "other ending", march_1);
  EXPECT_FALSE(replace_updater(".", "Updater_Client", ".exe"));
  EXPECT_FALSE(replace_updater(".", "Updater_Client", ".sh"));
  EXPECT_EQ(log_.texts(), (strings{"Locking for updates of: Updater_Client.exe",
                                   "No updater file found with name: Updater_Client.exe",
                                   "Locking for updates of: Updater_Client.sh",
                                   "No updater file found with name: Updater_Client.sh"}));
  EXPECT_TRUE(exists("updater_client_2.exe"));
  EXPECT_TRUE(exists("Updater_Client.exe.bak"));
}

TEST_F(ReplaceUpdater, AFolderCandidateIsPromotedLikeAFile) {
  put("Updater_Client.jar", "old", march_1);
  write_file(folder_ / "Updater_Client_dir.jar" / "inside.txt", "inside");
  set_write_time(folder_ / "Updater_Client_dir.jar", march_1 + day);
  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".jar"));
  EXPECT_EQ(read_file(folder_ / "Updater_Client.jar" / "inside.txt"), "inside");
}

TEST_F(ReplaceUpdater, ACopyDatedBefore1970IsNeverTaken) {
  put("Updater_Client_1969.exe", "old", -5);
  EXPECT_FALSE(replace_updater(".", "Updater_Client", ".exe"));
  EXPECT_EQ(log_.texts().back(), "No updater file found with name: Updater_Client.exe");
  EXPECT_TRUE(exists("Updater_Client_1969.exe"));
}

TEST_F(ReplaceUpdater, AnOldFileHeldForGoodFailsAfterFiveAttemptsAndKeepsTheNewCopy) {
  testing::fake_retry_clock clock;
  put("Updater_Client.exe", "old", march_1);
  put("Updater_Client_2.exe", "new", march_1 + day);
  testing::held_file holder(folder_ / "Updater_Client.exe", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());

  EXPECT_FALSE(replace_updater(".", "Updater_Client", ".exe"));
  holder.release();

  strings own;
  int reports = 0;
  for (const std::string& text : log_.texts()) {
    if (text.rfind("Error deleting 'Updater_Client.exe'", 0) == 0) ++reports;
    if (text.find("<no prefix>") == std::string::npos && text.rfind("Error deleting", 0) != 0)
      own.push_back(text);
  }
  EXPECT_EQ(reports, 5);
  EXPECT_EQ(own,
            (strings{"Locking for updates of: Updater_Client.exe",
                     "Deleting old updater: Updater_Client.exe", "Retrying to delete old updater.",
                     "Retrying to delete old updater.", "Retrying to delete old updater.",
                     "Retrying to delete old updater.", "Failed to delete old updater."}));
  EXPECT_EQ(clock.sleeps(), (std::vector<unsigned long>{1000, 1000, 1000, 1000, 1000}));
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "old");
  EXPECT_EQ(read_file(folder_ / "Updater_Client_2.exe"), "new");
}

TEST_F(ReplaceUpdater, AnOldFileFreedAfterTwoAttemptsIsReplaced) {
  testing::fake_retry_clock clock;
  put("Updater_Client.exe", "old", march_1);
  put("Updater_Client_2.exe", "new", march_1 + day);
  testing::held_file holder(folder_ / "Updater_Client.exe", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());
  clock.set_on_sleep([&](size_t sleeps) {
    if (sleeps == 2) holder.release();
  });

  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".exe"));

  const strings texts = log_.texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Retrying to delete old updater."), 2);
  EXPECT_EQ(texts.back(), "New updater renamed.");
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "new");
}

TEST_F(ReplaceUpdater, AnOldCopyThatCannotBeRemovedLeavesTheResultTrue) {
  put("Updater_Client.jar", "old", march_1);
  put("Updater_Client_1.jar", "older copy", march_1 + day);
  put("Updater_Client_2.jar", "new", march_1 + 2 * day);
  testing::held_file holder(folder_ / "Updater_Client_1.jar", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());

  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".jar"));
  holder.release();

  EXPECT_EQ(log_.texts().back(), "Failed to delete old updater file: Updater_Client_1.jar");
  EXPECT_EQ(read_file(folder_ / "Updater_Client.jar"), "new");
  EXPECT_EQ(read_file(folder_ / "Updater_Client_1.jar"), "older copy");
}

TEST_F(ReplaceUpdater, NamesOutsideAsciiArePromoted) {
  put("Updater_Client.exe", "old", march_1);
  write_file(folder_ / L"Updater_Client_\u00dcber\u4e2d.exe", "new");
  set_write_time(folder_ / L"Updater_Client_\u00dcber\u4e2d.exe", march_1 + day);
  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".exe"));
  EXPECT_EQ(log_.texts()[3],
            "Renaming new updater: Updater_Client_\xc3\x9c"
            "ber\xe4\xb8\xad.exe -> "
            "Updater_Client.exe");
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "new");
}

}  // namespace
}  // namespace kestrun
