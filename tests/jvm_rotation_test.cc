#include "starter/jvm_rotation.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/test_support.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;
using testing::read_file;
using testing::write_file;
using testing::fs::path;

path made_folder(const path& folder) {
  testing::fs::create_directories(folder);
  return folder;
}

// <root>\app is the working directory; <root>\JVM holds the runtime groups.
class JvmRotation : public ::testing::Test {
 protected:
  path jvm() const { return root_ / "JVM"; }
  strings own_lines() { return testing::step_lines(log_.texts()); }

  testing::temp_folder root_{"jvm"};
  testing::log_capture log_;
  testing::scoped_current_directory in_app_{made_folder(root_ / "app")};
};

TEST_F(JvmRotation, EmptyGroupsAreOnlyChecked) {
  testing::fs::create_directories(jvm() / "group1");
  EXPECT_TRUE(rename_new_jvms("."));
  EXPECT_EQ(log_.texts(), (strings{"Checking JVMs in : .\\..\\JVM\\group1"}));
}

TEST_F(JvmRotation, ANewRuntimeReplacesTheActualOne) {
  write_file(jvm() / "g" / "jdk" / "release", "old");
  write_file(jvm() / "g" / "jdk" / "bin" / "java.exe", "old java");
  write_file(jvm() / "g" / "jdk.new" / "release", "new");
  EXPECT_TRUE(rename_new_jvms("."));
  EXPECT_EQ(log_.texts(),
            (strings{"Checking JVMs in : .\\..\\JVM\\g",
                     "Renaming JVM folder: .\\..\\JVM\\g\\jdk.new -> .\\..\\JVM\\g\\jdk",
                     "Actual JVM deleted: .\\..\\JVM\\g\\jdk",
                     "New JVM renamed: .\\..\\JVM\\g\\jdk.new -> .\\..\\JVM\\g\\jdk"}));
  EXPECT_EQ(read_file(jvm() / "g" / "jdk" / "release"), "new");
  EXPECT_FALSE(testing::fs::exists(jvm() / "g" / "jdk" / "bin"));
  EXPECT_FALSE(testing::fs::exists(jvm() / "g" / "jdk.new"));
}

TEST_F(JvmRotation, ANewRuntimeWithoutActualOneIsRenamed) {
  write_file(jvm() / "g" / "jre.new" / "release", "new");
  EXPECT_TRUE(rename_new_jvms("."));
  EXPECT_EQ(own_lines()[2], "Actual JVM deleted: .\\..\\JVM\\g\\jre");
  EXPECT_EQ(read_file(jvm() / "g" / "jre" / "release"), "new");
}

TEST_F(JvmRotation, OldRuntimesGoAndAStuckOneDoesNotFailTheStep) {
  write_file(jvm() / "g" / "jdk8.old" / "lib" / "rt.jar", "x");
  write_file(jvm() / "g" / "jdk7.old" / "bin" / "java.dll", "held");
  testing::held_file holder(jvm() / "g" / "jdk7.old" / "bin" / "java.dll",
                            std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());

  EXPECT_TRUE(rename_new_jvms("."));
  holder.release();

  const strings own = own_lines();
  EXPECT_NE(std::find(own.begin(), own.end(), "'Deleting old JVM: .\\..\\JVM\\g\\jdk8.old"),
            own.end());
  EXPECT_NE(std::find(own.begin(), own.end(), "Old JVM deleted: .\\..\\JVM\\g\\jdk8.old"),
            own.end());
  EXPECT_NE(
      std::find(own.begin(), own.end(), "Old JVM could not be deleted: .\\..\\JVM\\g\\jdk7.old"),
      own.end());
  EXPECT_FALSE(testing::fs::exists(jvm() / "g" / "jdk8.old"));
  EXPECT_EQ(read_file(jvm() / "g" / "jdk7.old" / "bin" / "java.dll"), "held");
}

TEST_F(JvmRotation, OtherNamesAndPlainFilesAreLeftAlone) {
  write_file(jvm() / "g" / "jdk.NEW" / "release", "a");
  write_file(jvm() / "g" / "jdk.Old" / "release", "b");
  write_file(jvm() / "g" / "jdk" / "release", "actual");
  EXPECT_TRUE(rename_new_jvms("."));
  EXPECT_EQ(log_.texts(), (strings{"Checking JVMs in : .\\..\\JVM\\g"}));
  EXPECT_EQ(read_file(jvm() / "g" / "jdk" / "release"), "actual");
  EXPECT_EQ(read_file(jvm() / "g" / "jdk.NEW" / "release"), "a");

  // A plain file with a runtime's name is no runtime folder. (Names differ
  // in case only across groups: the file system ignores case.)
  testing::fs::remove_all(jvm() / "g");
  write_file(jvm() / "h" / "jdk.new", "a plain file");
  write_file(jvm() / "h" / "jdk" / "release", "actual");
  EXPECT_TRUE(rename_new_jvms("."));
  EXPECT_EQ(read_file(jvm() / "h" / "jdk.new"), "a plain file");
  EXPECT_EQ(read_file(jvm() / "h" / "jdk" / "release"), "actual");
}

TEST_F(JvmRotation, AFolderNamedJustNewNeverTakesItsGroupWithIt) {
  write_file(jvm() / "g" / ".new" / "release", "nameless");
  write_file(jvm() / "g" / "jdk" / "release", "actual");
  EXPECT_TRUE(rename_new_jvms("."));
  EXPECT_EQ(log_.texts(), (strings{"Checking JVMs in : .\\..\\JVM\\g"}));
  EXPECT_EQ(read_file(jvm() / "g" / ".new" / "release"), "nameless");
  EXPECT_EQ(read_file(jvm() / "g" / "jdk" / "release"), "actual");
}

TEST_F(JvmRotation, AMissingOrUnlistableRootIsAnErrorNotARetry) {
  testing::fake_retry_clock clock;
  EXPECT_THROW(rename_new_jvms("."), std::filesystem::filesystem_error);
  testing::fs::create_directories(jvm());
  write_file(jvm() / "readme.txt", "a plain file in the JVM root");
  EXPECT_THROW(rename_new_jvms("."), std::filesystem::filesystem_error);
  EXPECT_TRUE(clock.sleeps().empty());
  EXPECT_EQ(read_file(jvm() / "readme.txt"), "a plain file in the JVM root");
}

TEST_F(JvmRotation, AHeldActualRuntimeIsRetriedUntilItIsFreed) {
  testing::fake_retry_clock clock;
  write_file(jvm() / "g" / "jdk" / "bin" / "java.dll", "old");
  write_file(jvm() / "g" / "jdk.new" / "bin" / "java.dll", "new");
  testing::held_file holder(jvm() / "g" / "jdk" / "bin" / "java.dll", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());
  clock.set_on_sleep([&](size_t sleeps) {
    if (sleeps == 4) holder.release();
  });

  EXPECT_TRUE(rename_new_jvms("."));

  const strings own = own_lines();
  EXPECT_EQ(
      std::count(own.begin(), own.end(), "Actual JVM could not be deleted: .\\..\\JVM\\g\\jdk"), 4);
  EXPECT_EQ(std::count(own.begin(), own.end(), "Waiting a bit..."), 4);
  EXPECT_EQ(own.back(), "New JVM renamed: .\\..\\JVM\\g\\jdk.new -> .\\..\\JVM\\g\\jdk");
  EXPECT_EQ(read_file(jvm() / "g" / "jdk" / "bin" / "java.dll"), "new");
}

TEST_F(JvmRotation, AnActualRuntimeHeldForTheWholeMinuteFailsTheStep) {
  testing::fake_retry_clock clock;
  write_file(jvm() / "g" / "jdk" / "bin" / "java.dll", "old");
  write_file(jvm() / "g" / "jdk.new" / "bin" / "java.dll", "new");
  testing::held_file holder(jvm() / "g" / "jdk" / "bin" / "java.dll", std::chrono::seconds(60));
  ASSERT_TRUE(holder.held());

  EXPECT_FALSE(rename_new_jvms("."));
  holder.release();

  const strings own = own_lines();
  EXPECT_EQ(
      std::count(own.begin(), own.end(), "Actual JVM could not be deleted: .\\..\\JVM\\g\\jdk"),
      60);
  EXPECT_EQ(own.back(), "Waiting a bit...");
  EXPECT_EQ(read_file(jvm() / "g" / "jdk.new" / "bin" / "java.dll"), "new");
}

TEST_F(JvmRotation, RuntimeFoldersWithNamesOutsideAscii) {
  write_file(jvm() / L"gr\u00fcn" / L"j\u00e4va\u4e2d.new" / "release", "new");
  write_file(jvm() / L"gr\u00fcn" / L"j\u00e4va\u4e2d" / "release", "old");
  write_file(jvm() / L"gr\u00fcn" / L"alt\u4e2d.old" / "release", "older");
  EXPECT_TRUE(rename_new_jvms("."));
  EXPECT_EQ(read_file(jvm() / L"gr\u00fcn" / L"j\u00e4va\u4e2d" / "release"), "new");
  EXPECT_FALSE(testing::fs::exists(jvm() / L"gr\u00fcn" / L"j\u00e4va\u4e2d.new"));
  EXPECT_FALSE(testing::fs::exists(jvm() / L"gr\u00fcn" / L"alt\u4e2d.old"));
}

}  // namespace
}  // namespace kestrun
