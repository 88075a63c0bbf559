#include "starter/pending_renames.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/test_support.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;
using testing::read_file;
using testing::write_file;

class PendingRenames : public ::testing::Test {
 protected:
  bool exists(const testing::fs::path& name) { return testing::fs::exists(folder_ / name); }
  // The step's own lines, error reports left out.
  strings own_lines() { return testing::step_lines(log_.texts()); }

  testing::temp_folder folder_{"pending"};
  testing::log_capture log_;
  testing::scoped_current_directory in_folder_{folder_.path()};
};

TEST_F(PendingRenames, AFolderWithoutPendingFilesIsLeftAsItIs) {
  write_file(folder_ / "core.jar", "core");
  write_file(folder_ / "core.dll", "core");
  EXPECT_TRUE(rename_pending_jars("."));
  EXPECT_TRUE(rename_new_dlls("."));
  EXPECT_EQ(log_.bytes(), "");
}

TEST_F(PendingRenames, APendingJarTakesThePlaceOfItsJar) {
  write_file(folder_ / "core.jar", "old");
  write_file(folder_ / "core.rename-to-jar", "new");
  write_file(folder_ / "extra.rename-to-jar", "extra");
  EXPECT_TRUE(rename_pending_jars("."));
  EXPECT_EQ(read_file(folder_ / "core.jar"), "new");
  // A missing target counts as deleted.
  EXPECT_EQ(read_file(folder_ / "extra.jar"), "extra");
  EXPECT_FALSE(exists("core.rename-to-jar"));
  const strings texts = log_.texts();
  ASSERT_EQ(texts.size(), 6u);
  for (const std::string& name : {std::string("core"), std::string("extra")}) {
    const auto first = std::find(texts.begin(), texts.end(),
                                 "Renaming file: " + name + ".rename-to-jar -> " + name + ".jar");
    ASSERT_NE(first, texts.end());
    EXPECT_EQ(*(first + 1), "Old file deleted.");
    EXPECT_EQ(*(first + 2), "New file renamed.");
  }
}

TEST_F(PendingRenames, OnlyTheExactSuffixCounts) {
  for (const char* name : {"CORE.RENAME-TO-JAR", "core.Rename-To-Jar", "core.rename-to-jar.bak",
                           "core.NEW.DLL", "core.new.DLL", "core.new.dll.bak", "core.dll.new"}) {
    write_file(folder_ / name, name);
  }
  EXPECT_TRUE(rename_pending_jars("."));
  EXPECT_TRUE(rename_pending_dlls("."));
  EXPECT_EQ(log_.bytes(), "");

  write_file(folder_ / ".rename-to-jar", "bare jar");
  write_file(folder_ / ".new.dll", "bare dll");
  EXPECT_TRUE(rename_pending_jars("."));
  EXPECT_TRUE(rename_pending_dlls("."));
  EXPECT_EQ(read_file(folder_ / ".jar"), "bare jar");
  EXPECT_EQ(read_file(folder_ / ".dll"), "bare dll");
  EXPECT_EQ(own_lines(), (strings{"Renaming file: .rename-to-jar -> .jar", "Old file deleted.",
                                  "New file renamed.", "Renaming dll: .new.dll -> .dll",
                                  "Old Dll deleted.", "New Dll renamed."}));
}

TEST_F(PendingRenames, ATargetFolderWithContentsIsNeitherDeletedNorLost) {
  write_file(folder_ / "lib.jar" / "inside.class", "kept");
  write_file(folder_ / "lib.rename-to-jar" / "new.class", "new");
  EXPECT_FALSE(rename_pending_jars("."));
  EXPECT_EQ(own_lines(), (strings{"Renaming file: lib.rename-to-jar -> lib.jar",
                                  "Old file could not be deleted.", "Failed to rename new file"}));
  EXPECT_EQ(read_file(folder_ / "lib.jar" / "inside.class"), "kept");
  EXPECT_EQ(read_file(folder_ / "lib.rename-to-jar" / "new.class"), "new");
}

TEST_F(PendingRenames, APendingFolderIsRenamedLikeAFile) {
  write_file(folder_ / "lib.rename-to-jar" / "new.class", "new");
  EXPECT_TRUE(rename_pending_jars("."));
  EXPECT_EQ(read_file(folder_ / "lib.jar" / "new.class"), "new");
}

TEST_F(PendingRenames, AHeldJarFailsTheStepButTheOtherPendingFilesAreDone) {
  write_file(folder_ / "a.jar", "old a");
  write_file(folder_ / "a.rename-to-jar", "new a");
  write_file(folder_ / "b.jar", "old b");
  write_file(folder_ / "b.rename-to-jar", "new b");
  testing::held_file holder(folder_ / "a.jar", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());

  EXPECT_FALSE(rename_pending_jars("."));
  holder.release();

  const strings own = own_lines();
  EXPECT_NE(std::find(own.begin(), own.end(), "Old file could not be deleted."), own.end());
  EXPECT_NE(std::find(own.begin(), own.end(), "Failed to rename new file"), own.end());
  // Nothing lost: the held jar and its replacement are both still there.
  EXPECT_EQ(read_file(folder_ / "a.jar"), "old a");
  EXPECT_EQ(read_file(folder_ / "a.rename-to-jar"), "new a");
  EXPECT_EQ(read_file(folder_ / "b.jar"), "new b");
  EXPECT_FALSE(exists("b.rename-to-jar"));
}

TEST_F(PendingRenames, ADllHeldForAFewSecondsIsReplacedOnceFreed) {
  testing::fake_retry_clock clock;
  write_file(folder_ / "core.dll", "old");
  write_file(folder_ / "core.new.dll", "new");
  write_file(folder_ / "util.new.dll", "util");
  testing::held_file holder(folder_ / "core.dll", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());
  clock.set_on_sleep([&](size_t sleeps) {
    if (sleeps == 3) holder.release();
  });

  EXPECT_TRUE(rename_new_dlls("."));

  const strings own = own_lines();
  EXPECT_EQ(std::count(own.begin(), own.end(), "Waiting a bit..."), 3);
  EXPECT_EQ(std::count(own.begin(), own.end(), "Old Dll could not be deleted."), 3);
  // The DLL that was free is renamed in the first pass, and only then.
  EXPECT_EQ(std::count(own.begin(), own.end(), "Renaming dll: util.new.dll -> util.dll"), 1);
  EXPECT_EQ(own.back(), "New Dll renamed.");
  EXPECT_EQ(read_file(folder_ / "core.dll"), "new");
  EXPECT_EQ(read_file(folder_ / "util.dll"), "util");
}

TEST_F(PendingRenames, ADllHeldForTheWholeMinuteFailsAndLosesNothing) {
  testing::fake_retry_clock clock;
  write_file(folder_ / "core.dll", "old");
  write_file(folder_ / "core.new.dll", "new");
  testing::held_file holder(folder_ / "core.dll", std::chrono::seconds(60));
  ASSERT_TRUE(holder.held());

  EXPECT_FALSE(rename_new_dlls("."));
  holder.release();

  const strings own = own_lines();
  EXPECT_EQ(std::count(own.begin(), own.end(), "Renaming dll: core.new.dll -> core.dll"), 60);
  EXPECT_EQ(own.back(), "Waiting a bit...");
  EXPECT_EQ(read_file(folder_ / "core.dll"), "old");
  EXPECT_EQ(read_file(folder_ / "core.new.dll"), "new");
}

TEST_F(PendingRenames, NamesOutsideAsciiAreRenamed) {
  write_file(folder_ / L"\u00dcber\u4e2d.new.dll", "new");
  write_file(folder_ / L"\u00dcber\u4e2d.dll", "old");
  EXPECT_TRUE(rename_new_dlls("."));
  EXPECT_EQ(read_file(folder_ / L"\u00dcber\u4e2d.dll"), "new");
  EXPECT_FALSE(exists(L"\u00dcber\u4e2d.new.dll"));
  EXPECT_EQ(own_lines().front(),
            "Renaming dll: \xc3\x9c"
            "ber\xe4\xb8\xad.new.dll -> \xc3\x9c"
            "ber\xe4\xb8\xad.dll");
}

TEST_F(PendingRenames, AMissingFolderIsAnErrorNotARetry) {
  testing::fake_retry_clock clock;
  EXPECT_THROW(rename_new_dlls("no-such-folder"), std::filesystem::filesystem_error);
  EXPECT_TRUE(clock.sleeps().empty());
}

}  // namespace
}  // namespace kestrun
