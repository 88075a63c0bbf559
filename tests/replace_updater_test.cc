#include "starter/replace_updater.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/directory_entry.h"
#include "runtime/text.h"
#include "tests/support/test_support.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;
using testing::read_file;
using testing::set_write_time;
using testing::step_lines;
using testing::write_file;

constexpr long long march_1 = 1772323200;  // 2026-03-01 00:00 UTC
constexpr long long day = 86400;

// Sets a last write time with a fraction of a second (set_write_time knows
// whole seconds only): unix_seconds plus hundred_ns ticks of 100 ns.
void set_write_ticks(const testing::fs::path& file, long long unix_seconds, long long hundred_ns) {
  HANDLE handle = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  const long long ticks = unix_seconds * 10000000LL + hundred_ns + 116444736000000000LL;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  EXPECT_TRUE(SetFileTime(handle, nullptr, nullptr, &time));
  CloseHandle(handle);
}

// The Windows error codes of the error reports, in log order.
strings report_codes(const strings& texts) {
  const std::string label = "<no prefix>code().value():    ";
  strings codes;
  for (const std::string& text : texts) {
    if (starts_with(text, label)) codes.push_back(text.substr(label.size()));
  }
  return codes;
}

// The first lines of the error reports, in log order.
strings report_heads(const strings& texts) {
  strings heads;
  for (const std::string& text : texts) {
    if (starts_with(text, "Error deleting '") || starts_with(text, "Error renaming '"))
      heads.push_back(text);
  }
  return heads;
}

// The names in the working directory, sorted.
strings names_here() {
  strings names;
  for (const directory_entry& entry : list_directory(L".")) names.push_back(entry_name(entry));
  std::sort(names.begin(), names.end());
  return names;
}

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
  EXPECT_EQ(names_here(), strings{"Updater_Client.exe"});
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "march 5");
}

TEST_F(ReplaceUpdater, APlainFileThatIsNewestStaysAndOlderCopiesAreLeft) {
  // Alone.
  put("Updater_Client.exe", "current", march_1 + day);
  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".exe"));
  EXPECT_EQ(log_.texts(), (strings{"Locking for updates of: Updater_Client.exe",
                                   "Updader file already up to date: Updater_Client.exe"}));
  EXPECT_EQ(names_here(), strings{"Updater_Client.exe"});

  // Beside an older copy, which is not cleaned up either.
  put("Updater_Client_old.exe", "old", march_1);
  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".exe"));
  EXPECT_EQ(log_.texts(), (strings{"Locking for updates of: Updater_Client.exe",
                                   "Updader file already up to date: Updater_Client.exe",
                                   "Locking for updates of: Updater_Client.exe",
                                   "Updader file already up to date: Updater_Client.exe"}));
  EXPECT_EQ(names_here(), (strings{"Updater_Client.exe", "Updater_Client_old.exe"}));
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "current");
}

TEST_F(ReplaceUpdater, AMissingPlainFileIsNoObstacle) {
  // The "Deleting" line is written all the same, but no delete is tried, so
  // there is no error report and no retry.
  testing::fake_retry_clock clock;
  put("Updater_Client_2.jar", "new", march_1);
  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".jar"));
  EXPECT_EQ(log_.texts(),
            (strings{"Locking for updates of: Updater_Client.jar",
                     "Deleting old updater: Updater_Client.jar",
                     "Renaming new updater: Updater_Client_2.jar -> Updater_Client.jar",
                     "New updater renamed."}));
  EXPECT_TRUE(clock.sleeps().empty());
  EXPECT_EQ(names_here(), strings{"Updater_Client.jar"});
  EXPECT_EQ(read_file(folder_ / "Updater_Client.jar"), "new");
}

TEST_F(ReplaceUpdater, OfEquallyNewFilesTheFirstListedWins) {
  put("Updater_Client.sh", "plain", march_1);
  put("Updater_Client_2.sh", "copy", march_1);
  strings listed;
  for (const directory_entry& entry : list_directory(L".")) listed.push_back(entry_name(entry));
  ASSERT_EQ(listed.size(), 2u);
  // Within the same second, and the one listed second written later in it:
  // ages count in whole seconds, so it still does not win.
  set_write_ticks(folder_ / listed[0], march_1, 2000000);
  set_write_ticks(folder_ / listed[1], march_1, 9000000);

  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".sh"));

  if (listed[0] == "Updater_Client.sh") {
    EXPECT_EQ(log_.texts(), (strings{"Locking for updates of: Updater_Client.sh",
                                     "Updader file already up to date: Updater_Client.sh"}));
    EXPECT_EQ(read_file(folder_ / "Updater_Client.sh"), "plain");
    EXPECT_EQ(read_file(folder_ / "Updater_Client_2.sh"), "copy");
  } else {
    EXPECT_EQ(log_.texts(),
              (strings{"Locking for updates of: Updater_Client.sh",
                       "Deleting old updater: Updater_Client.sh", "Old updater deleted.",
                       "Renaming new updater: Updater_Client_2.sh -> Updater_Client.sh",
                       "New updater renamed."}));
    EXPECT_EQ(names_here(), strings{"Updater_Client.sh"});
    EXPECT_EQ(read_file(folder_ / "Updater_Client.sh"), "copy");
  }
}

TEST_F(ReplaceUpdater, WithoutACandidateNothingChangesAndTheResultIsFalse) {
  // Names are compared byte for byte: another case of the stem or of the
  // ending, or anything after the ending, does not belong to the family.
  put("updater_client_2.exe", "other case", march_1);
  put("Updater_Client_2.EXE", "other case of the ending", march_1);
  put("Updater_Client.exe.bak", "other ending", march_1);
  put("Updater_Client.sh.old", "other ending", march_1);
  const strings before = names_here();

  EXPECT_FALSE(replace_updater(".", "Updater_Client", ".exe"));
  EXPECT_FALSE(replace_updater(".", "Updater_Client", ".sh"));

  EXPECT_EQ(log_.texts(), (strings{"Locking for updates of: Updater_Client.exe",
                                   "No updater file found with name: Updater_Client.exe",
                                   "Locking for updates of: Updater_Client.sh",
                                   "No updater file found with name: Updater_Client.sh"}));
  EXPECT_EQ(names_here(), before);
}

TEST_F(ReplaceUpdater, EachFamilyIsOnItsOwnAndAMissingOneFails) {
  // The three calls of a run: .exe and .jar succeed, the missing .sh family
  // fails, and no call touches another family's files.
  put("Updater_Client.exe", "old exe", march_1);
  put("Updater_Client_2.exe", "new exe", march_1 + day);
  put("Updater_Client.jar", "jar", march_1);
  put("Updater_Client_2.jar", "old jar copy", march_1 - day);

  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".exe"));
  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".jar"));
  EXPECT_FALSE(replace_updater(".", "Updater_Client", ".sh"));

  EXPECT_EQ(log_.texts(),
            (strings{"Locking for updates of: Updater_Client.exe",
                     "Deleting old updater: Updater_Client.exe", "Old updater deleted.",
                     "Renaming new updater: Updater_Client_2.exe -> Updater_Client.exe",
                     "New updater renamed.", "Locking for updates of: Updater_Client.jar",
                     "Updader file already up to date: Updater_Client.jar",
                     "Locking for updates of: Updater_Client.sh",
                     "No updater file found with name: Updater_Client.sh"}));
  EXPECT_EQ(names_here(),
            (strings{"Updater_Client.exe", "Updater_Client.jar", "Updater_Client_2.jar"}));
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "new exe");
}

TEST_F(ReplaceUpdater, AFolderCandidateIsPromotedLikeAFile) {
  put("Updater_Client.jar", "old", march_1);
  write_file(folder_ / "Updater_Client_dir.jar" / "inside.txt", "inside");
  set_write_time(folder_ / "Updater_Client_dir.jar", march_1 + day);

  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".jar"));

  EXPECT_EQ(log_.texts(),
            (strings{"Locking for updates of: Updater_Client.jar",
                     "Deleting old updater: Updater_Client.jar", "Old updater deleted.",
                     "Renaming new updater: Updater_Client_dir.jar -> Updater_Client.jar",
                     "New updater renamed."}));
  EXPECT_EQ(names_here(), strings{"Updater_Client.jar"});
  EXPECT_TRUE(testing::fs::is_directory(folder_ / "Updater_Client.jar"));
  EXPECT_EQ(read_file(folder_ / "Updater_Client.jar" / "inside.txt"), "inside");
}

TEST_F(ReplaceUpdater, ACopyDatedBefore1970IsNeverTaken) {
  // Even the plain file does not count when it is dated before 1970.
  put("Updater_Client.exe", "plain", -5);
  put("Updater_Client_1969.exe", "old", -86400);
  EXPECT_FALSE(replace_updater(".", "Updater_Client", ".exe"));
  EXPECT_EQ(log_.texts(), (strings{"Locking for updates of: Updater_Client.exe",
                                   "No updater file found with name: Updater_Client.exe"}));
  EXPECT_EQ(names_here(), (strings{"Updater_Client.exe", "Updater_Client_1969.exe"}));

  // Half a second before 1970 is second 0 (the fraction is cut off toward
  // zero), which is newer than nothing.
  write_file(folder_ / "Updater_Client_0.exe", "second 0");
  set_write_ticks(folder_ / "Updater_Client_0.exe", 0, -5000000);
  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".exe"));
  EXPECT_EQ(log_.texts(),
            (strings{"Locking for updates of: Updater_Client.exe",
                     "No updater file found with name: Updater_Client.exe",
                     "Locking for updates of: Updater_Client.exe",
                     "Deleting old updater: Updater_Client.exe", "Old updater deleted.",
                     "Renaming new updater: Updater_Client_0.exe -> Updater_Client.exe",
                     "New updater renamed.", "Old updater file deleted: Updater_Client_1969.exe"}));
  EXPECT_EQ(names_here(), strings{"Updater_Client.exe"});
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "second 0");
}

TEST_F(ReplaceUpdater, AnOldFileHeldForGoodFailsAfterFiveAttemptsAndKeepsTheNewCopy) {
  testing::fake_retry_clock clock;
  put("Updater_Client.exe", "old", march_1);
  put("Updater_Client_2.exe", "new", march_1 + day);
  testing::held_file holder(folder_ / "Updater_Client.exe", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());

  EXPECT_FALSE(replace_updater(".", "Updater_Client", ".exe"));
  holder.release();

  const strings texts = log_.texts();
  EXPECT_EQ(report_heads(texts), strings(5, "Error deleting 'Updater_Client.exe'"));
  EXPECT_EQ(report_codes(texts), strings(5, "32"));
  EXPECT_EQ(step_lines(texts),
            (strings{"Locking for updates of: Updater_Client.exe",
                     "Deleting old updater: Updater_Client.exe", "Retrying to delete old updater.",
                     "Retrying to delete old updater.", "Retrying to delete old updater.",
                     "Retrying to delete old updater.", "Failed to delete old updater."}));
  // A wait follows every failed attempt, the fifth included.
  EXPECT_EQ(clock.sleeps(), (std::vector<unsigned long>{1000, 1000, 1000, 1000, 1000}));
  EXPECT_EQ(names_here(), (strings{"Updater_Client.exe", "Updater_Client_2.exe"}));
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "old");
  EXPECT_EQ(read_file(folder_ / "Updater_Client_2.exe"), "new");
}

TEST_F(ReplaceUpdater, AnOldFileFreedAfterTwoAttemptsIsReplaced) {
  testing::fake_retry_clock clock;
  put("Updater_Client.exe", "old", march_1);
  put("Updater_Client_2.exe", "new", march_1 + day);
  put("Updater_Client_1.exe", "older copy", march_1 - day);
  testing::held_file holder(folder_ / "Updater_Client.exe", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());
  clock.set_on_sleep([&](size_t sleeps) {
    if (sleeps == 2) holder.release();
  });

  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".exe"));

  const strings texts = log_.texts();
  EXPECT_EQ(report_heads(texts), strings(2, "Error deleting 'Updater_Client.exe'"));
  EXPECT_EQ(step_lines(texts),
            (strings{"Locking for updates of: Updater_Client.exe",
                     "Deleting old updater: Updater_Client.exe", "Retrying to delete old updater.",
                     "Retrying to delete old updater.", "Old updater deleted.",
                     "Renaming new updater: Updater_Client_2.exe -> Updater_Client.exe",
                     "New updater renamed.", "Old updater file deleted: Updater_Client_1.exe"}));
  EXPECT_EQ(clock.sleeps(), (std::vector<unsigned long>{1000, 1000}));
  EXPECT_EQ(names_here(), strings{"Updater_Client.exe"});
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "new");
}

TEST_F(ReplaceUpdater, AFailedRenamePutsTheOldUpdaterBack) {
  // The new copy is held open, so it cannot be moved; the old one, moved
  // aside to make way, is moved back.
  put("Updater_Client.exe", "old", march_1);
  put("Updater_Client_2.exe", "new", march_1 + day);
  testing::held_file holder(folder_ / "Updater_Client_2.exe", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());

  EXPECT_FALSE(replace_updater(".", "Updater_Client", ".exe"));
  holder.release();

  const strings texts = log_.texts();
  EXPECT_EQ(report_heads(texts),
            strings{"Error renaming 'Updater_Client_2.exe' to 'Updater_Client.exe'"});
  EXPECT_EQ(step_lines(texts),
            (strings{"Locking for updates of: Updater_Client.exe",
                     "Deleting old updater: Updater_Client.exe", "Old updater deleted.",
                     "Renaming new updater: Updater_Client_2.exe -> Updater_Client.exe",
                     "Failed to rename new updater.",
                     "Put the old copy back, the new one did not take its place: "
                     "./Updater_Client.exe"}));
  EXPECT_EQ(names_here(), (strings{"Updater_Client.exe", "Updater_Client_2.exe"}));
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "old");
}

TEST_F(ReplaceUpdater, AnOldCopyThatCannotBeRemovedLeavesTheResultTrue) {
  put("Updater_Client.jar", "old", march_1);
  put("Updater_Client_1.jar", "older copy", march_1 + day);
  put("Updater_Client_2.jar", "new", march_1 + 2 * day);
  put("Updater_Client_0.jar", "oldest copy", march_1 - day);
  testing::held_file holder(folder_ / "Updater_Client_1.jar", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());

  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".jar"));
  holder.release();

  // The clean-up goes on past the failure; its lines follow listing order.
  const strings texts = log_.texts();
  EXPECT_EQ(report_heads(texts), strings{"Error deleting 'Updater_Client_1.jar'"});
  strings steps = step_lines(texts);
  ASSERT_EQ(steps.size(), 7u);
  EXPECT_EQ(strings(steps.begin(), steps.begin() + 5),
            (strings{"Locking for updates of: Updater_Client.jar",
                     "Deleting old updater: Updater_Client.jar", "Old updater deleted.",
                     "Renaming new updater: Updater_Client_2.jar -> Updater_Client.jar",
                     "New updater renamed."}));
  std::sort(steps.begin() + 5, steps.end());
  EXPECT_EQ(strings(steps.begin() + 5, steps.end()),
            (strings{"Failed to delete old updater file: Updater_Client_1.jar",
                     "Old updater file deleted: Updater_Client_0.jar"}));
  EXPECT_EQ(names_here(), (strings{"Updater_Client.jar", "Updater_Client_1.jar"}));
  EXPECT_EQ(read_file(folder_ / "Updater_Client.jar"), "new");
  EXPECT_EQ(read_file(folder_ / "Updater_Client_1.jar"), "older copy");
}

TEST_F(ReplaceUpdater, NamesOutsideAsciiArePromoted) {
  put("Updater_Client.exe", "old", march_1);
  write_file(folder_ / L"Updater_Client_\u00dcber\u4e2d.exe", "new");
  set_write_time(folder_ / L"Updater_Client_\u00dcber\u4e2d.exe", march_1 + day);
  write_file(folder_ / L"Updater_Client_\u00e4lter.exe", "older");
  set_write_time(folder_ / L"Updater_Client_\u00e4lter.exe", march_1 - day);

  EXPECT_TRUE(replace_updater(".", "Updater_Client", ".exe"));

  EXPECT_EQ(log_.texts(),
            (strings{"Locking for updates of: Updater_Client.exe",
                     "Deleting old updater: Updater_Client.exe", "Old updater deleted.",
                     "Renaming new updater: Updater_Client_\xc3\x9c"
                     "ber\xe4\xb8\xad.exe -> Updater_Client.exe",
                     "New updater renamed.",
                     "Old updater file deleted: Updater_Client_\xc3\xa4lter.exe"}));
  EXPECT_EQ(names_here(), strings{"Updater_Client.exe"});
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "new");
}

TEST_F(ReplaceUpdater, TheNewNameCountsFromTheWorkingDirectory) {
  // With another folder than ".", the old file and the leftovers are looked
  // for in that folder, but the rename to the bare name moves the newest
  // copy into the working directory.
  put("sub/Updater_Client.exe", "old", march_1);
  put("sub/Updater_Client_2.exe", "new", march_1 + 2 * day);
  put("sub/Updater_Client_1.exe", "older copy", march_1 + day);

  EXPECT_TRUE(replace_updater("sub", "Updater_Client", ".exe"));

  EXPECT_EQ(log_.texts(),
            (strings{"Locking for updates of: Updater_Client.exe",
                     "Deleting old updater: Updater_Client.exe", "Old updater deleted.",
                     "Renaming new updater: Updater_Client_2.exe -> Updater_Client.exe",
                     "New updater renamed.", "Old updater file deleted: Updater_Client_1.exe"}));
  EXPECT_EQ(names_here(), (strings{"Updater_Client.exe", "sub"}));
  EXPECT_EQ(read_file(folder_ / "Updater_Client.exe"), "new");
  EXPECT_TRUE(testing::fs::is_empty(folder_ / "sub"));
}

TEST_F(ReplaceUpdater, AFolderThatCannotBeListedIsThrownOut) {
  EXPECT_THROW(replace_updater("missing", "Updater_Client", ".exe"),
               std::filesystem::filesystem_error);
  EXPECT_EQ(log_.texts(), strings{"Locking for updates of: Updater_Client.exe"});
}

}  // namespace
}  // namespace kestrun
