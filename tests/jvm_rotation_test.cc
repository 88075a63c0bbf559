#include "starter/jvm_rotation.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/text.h"
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

// The log with each error report cut down to its first line.
strings outline(const strings& texts) {
  strings lines;
  for (const std::string& text : texts) {
    if (!starts_with(text, "<no prefix>")) lines.push_back(text);
  }
  return lines;
}

long count(const strings& lines, const std::string& line) {
  return static_cast<long>(std::count(lines.begin(), lines.end(), line));
}

bool contains(const strings& lines, const std::string& line) { return count(lines, line) > 0; }

strings operator+(strings first, const strings& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// The lines of a new runtime ".\..\JVM\<group>\<name>.new" taking the place
// of "<name>" (paths with backslashes, as logged).
strings installed(const std::string& group, const std::string& name) {
  const std::string actual = ".\\..\\JVM\\" + group + "\\" + name;
  const std::string fresh = actual + ".new";
  return {"Renaming JVM folder: " + fresh + " -> " + actual, "Actual JVM deleted: " + actual,
          "New JVM renamed: " + fresh + " -> " + actual};
}

// The outline of a pass in which the actual runtime "<name>" could not be
// moved out of the way (it is held), followed by the retry's wait.
strings actual_held(const std::string& group, const std::string& name) {
  const std::string actual = ".\\..\\JVM\\" + group + "\\" + name;
  return {"Checking JVMs in : .\\..\\JVM\\" + group,
          "Renaming JVM folder: " + actual + ".new -> " + actual, "Error deleting '" + name + "'",
          "Actual JVM could not be deleted: " + actual, "Waiting a bit..."};
}

// <root>\app is the working directory; <root>\JVM holds the runtime groups.
class JvmRotation : public ::testing::Test {
 protected:
  path jvm() const { return root_ / "JVM"; }
  strings own_lines() { return testing::step_lines(log_.texts()); }

  testing::temp_folder root_{"jvm"};
  testing::log_capture log_;
  testing::scoped_current_directory in_app_{made_folder(root_ / "app")};
  testing::fake_retry_clock clock_;
};

TEST_F(JvmRotation, EmptyGroupsAreOnlyChecked) {
  testing::fs::create_directories(jvm() / "group1");
  testing::fs::create_directories(jvm() / "group2");
  testing::fs::create_directories(jvm() / "group3");
  EXPECT_TRUE(rename_new_jvms("."));
  strings texts = log_.texts();
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (strings{"Checking JVMs in : .\\..\\JVM\\group1",
                            "Checking JVMs in : .\\..\\JVM\\group2",
                            "Checking JVMs in : .\\..\\JVM\\group3"}));
  EXPECT_TRUE(clock_.sleeps().empty());

  // An empty JVM root: nothing to check at all.
  for (const char* group : {"group1", "group2", "group3"}) testing::fs::remove(jvm() / group);
  EXPECT_TRUE(rename_new_jvms("."));
  EXPECT_EQ(log_.texts().size(), 3u);
}

TEST_F(JvmRotation, ANewRuntimeReplacesTheActualOne) {
  write_file(jvm() / "g" / "jdk" / "release", "old");
  write_file(jvm() / "g" / "jdk" / "bin" / "java.exe", "old java");
  write_file(jvm() / "g" / "jdk.new" / "release", "new");
  write_file(jvm() / "g" / "jdk.new" / "lib" / "modules", "new modules");
  EXPECT_TRUE(rename_new_jvms("."));
  EXPECT_EQ(log_.texts(), strings{"Checking JVMs in : .\\..\\JVM\\g"} + installed("g", "jdk"));
  EXPECT_EQ(read_file(jvm() / "g" / "jdk" / "release"), "new");
  EXPECT_EQ(read_file(jvm() / "g" / "jdk" / "lib" / "modules"), "new modules");
  EXPECT_FALSE(testing::fs::exists(jvm() / "g" / "jdk" / "bin"));
  EXPECT_FALSE(testing::fs::exists(jvm() / "g" / "jdk.new"));
  EXPECT_TRUE(clock_.sleeps().empty());
}

TEST_F(JvmRotation, ANewRuntimeWithoutActualOneIsRenamed) {
  write_file(jvm() / "g" / "jre.new" / "release", "new");
  EXPECT_TRUE(rename_new_jvms("."));
  // Deleting a runtime that is not there counts as deleted.
  EXPECT_EQ(log_.texts(), strings{"Checking JVMs in : .\\..\\JVM\\g"} + installed("g", "jre"));
  EXPECT_EQ(read_file(jvm() / "g" / "jre" / "release"), "new");
  EXPECT_FALSE(testing::fs::exists(jvm() / "g" / "jre.new"));
}

TEST_F(JvmRotation, OldRuntimesGoAndAStuckOneDoesNotFailTheStep) {
  write_file(jvm() / "g" / "jdk8.old" / "lib" / "rt.jar", "x");
  write_file(jvm() / "g" / "jdk8.old" / "release", "8");
  write_file(jvm() / "g" / "jdk7.old" / "bin" / "java.dll", "held");
  write_file(jvm() / "g" / "jdk11" / "release", "actual");
  testing::held_file holder(jvm() / "g" / "jdk7.old" / "bin" / "java.dll",
                            std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());

  EXPECT_TRUE(rename_new_jvms("."));
  holder.release();

  const strings own = own_lines();
  EXPECT_EQ(own.size(), 5u);
  EXPECT_EQ(own.front(), "Checking JVMs in : .\\..\\JVM\\g");
  for (const char* line :
       {"'Deleting old JVM: .\\..\\JVM\\g\\jdk8.old", "Old JVM deleted: .\\..\\JVM\\g\\jdk8.old",
        "'Deleting old JVM: .\\..\\JVM\\g\\jdk7.old",
        "Old JVM could not be deleted: .\\..\\JVM\\g\\jdk7.old"}) {
    EXPECT_TRUE(contains(own, line)) << line;
  }
  // A stuck old runtime is no reason to wait and retry.
  EXPECT_FALSE(contains(own, "Waiting a bit..."));
  EXPECT_TRUE(clock_.sleeps().empty());
  EXPECT_TRUE(contains(log_.texts(), "Error deleting 'jdk7.old'"));
  EXPECT_FALSE(testing::fs::exists(jvm() / "g" / "jdk8.old"));
  EXPECT_EQ(read_file(jvm() / "g" / "jdk7.old" / "bin" / "java.dll"), "held");
  EXPECT_EQ(read_file(jvm() / "g" / "jdk11" / "release"), "actual");
}

TEST_F(JvmRotation, OtherNamesAndPlainFilesAreLeftAlone) {
  write_file(jvm() / "g" / "jdk.NEW" / "release", "a");
  write_file(jvm() / "g" / "jdk.Old" / "release", "b");
  write_file(jvm() / "g" / "jdk.new.bak" / "release", "c");
  write_file(jvm() / "g" / "jdk" / "release", "actual");
  EXPECT_TRUE(rename_new_jvms("."));
  EXPECT_EQ(log_.texts(), (strings{"Checking JVMs in : .\\..\\JVM\\g"}));
  EXPECT_EQ(read_file(jvm() / "g" / "jdk" / "release"), "actual");
  EXPECT_EQ(read_file(jvm() / "g" / "jdk.NEW" / "release"), "a");
  EXPECT_EQ(read_file(jvm() / "g" / "jdk.Old" / "release"), "b");
  EXPECT_EQ(read_file(jvm() / "g" / "jdk.new.bak" / "release"), "c");

  // Plain files with a runtime's name are no runtime folders. (Names that
  // differ in case only go in another group: the file system ignores case.)
  write_file(jvm() / "h" / "jdk.new", "a plain file");
  write_file(jvm() / "h" / "jre.old", "another plain file");
  write_file(jvm() / "h" / "jdk" / "release", "actual");
  EXPECT_TRUE(rename_new_jvms("."));
  EXPECT_EQ(own_lines().size(), 3u);
  EXPECT_TRUE(contains(own_lines(), "Checking JVMs in : .\\..\\JVM\\h"));
  EXPECT_EQ(read_file(jvm() / "h" / "jdk.new"), "a plain file");
  EXPECT_EQ(read_file(jvm() / "h" / "jre.old"), "another plain file");
  EXPECT_EQ(read_file(jvm() / "h" / "jdk" / "release"), "actual");
}

TEST_F(JvmRotation, RuntimeNamesThatResolveOutsideTheirGroupTakeNothingWithThem) {
  // Cut off ".new", these names leave ".", "..", " " and "": to Windows the
  // group, the JVM root, the group again. Each lies in a group of its own
  // beside an actual runtime that must survive; "jdk..new" leaves "jdk.",
  // which is "jdk", and is a new runtime like any other.
  const strings odd_names = {".new", "..new", "...new", " .new"};
  for (size_t i = 0; i < odd_names.size(); ++i) {
    const path group = jvm() / ("g" + std::to_string(i));
    write_file(group / odd_names[i] / "release", "odd new");
    write_file(group / "jdk" / "release", "actual");
  }
  write_file(jvm() / "h" / "jdk..new" / "release", "new");
  write_file(jvm() / "h" / "jdk" / "release", "actual");

  EXPECT_TRUE(rename_new_jvms("."));

  for (size_t i = 0; i < odd_names.size(); ++i) {
    const path group = jvm() / ("g" + std::to_string(i));
    EXPECT_EQ(read_file(group / odd_names[i] / "release"), "odd new") << odd_names[i];
    EXPECT_EQ(read_file(group / "jdk" / "release"), "actual") << odd_names[i];
    EXPECT_TRUE(contains(log_.texts(),
                         "New JVM left alone, its name leaves no runtime folder of its own: "
                         ".\\..\\JVM\\g" +
                             std::to_string(i) + "\\" + odd_names[i]));
  }
  EXPECT_EQ(read_file(jvm() / "h" / "jdk" / "release"), "new");
  EXPECT_FALSE(testing::fs::exists(jvm() / "h" / "jdk..new"));
  EXPECT_TRUE(clock_.sleeps().empty());

  // A folder named just ".old" is an old runtime: it goes, and only it.
  write_file(jvm() / "g0" / ".old" / "lib" / "rt.jar", "nameless old");
  EXPECT_TRUE(rename_new_jvms("."));
  EXPECT_TRUE(contains(log_.texts(), "Old JVM deleted: .\\..\\JVM\\g0\\.old"));
  EXPECT_FALSE(testing::fs::exists(jvm() / "g0" / ".old"));
  EXPECT_EQ(read_file(jvm() / "g0" / ".new" / "release"), "odd new");
  EXPECT_EQ(read_file(jvm() / "g0" / "jdk" / "release"), "actual");
}

TEST_F(JvmRotation, AMissingOrUnlistableRootIsAnErrorNotARetry) {
  EXPECT_THROW(rename_new_jvms("."), std::filesystem::filesystem_error);
  EXPECT_EQ(log_.bytes(), "");

  testing::fs::create_directories(jvm());
  write_file(jvm() / "readme.txt", "a plain file in the JVM root");
  EXPECT_THROW(rename_new_jvms("."), std::filesystem::filesystem_error);
  // The plain file is taken for a group folder and checked before its
  // listing fails.
  EXPECT_EQ(log_.texts(), (strings{"Checking JVMs in : .\\..\\JVM\\readme.txt"}));
  EXPECT_TRUE(clock_.sleeps().empty());
  EXPECT_EQ(read_file(jvm() / "readme.txt"), "a plain file in the JVM root");
}

TEST_F(JvmRotation, AHeldActualRuntimeIsRetriedUntilItIsFreed) {
  write_file(jvm() / "g" / "jdk" / "bin" / "java.dll", "old");
  write_file(jvm() / "g" / "jdk.new" / "bin" / "java.dll", "new");
  // Windows refuses to move a folder with a file open inside; Wine refuses
  // only when the folder itself is held.
  testing::held_file holder(jvm() / "g" / "jdk", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());
  clock_.set_on_sleep([&](size_t sleeps) {
    if (sleeps == 4) holder.release();
  });

  EXPECT_TRUE(rename_new_jvms("."));

  const strings held = actual_held("g", "jdk");
  EXPECT_EQ(outline(log_.texts()), held + held + held + held +
                                       strings{"Checking JVMs in : .\\..\\JVM\\g"} +
                                       installed("g", "jdk"));
  EXPECT_EQ(clock_.sleeps(), (std::vector<unsigned long>{1000, 1000, 1000, 1000}));
  EXPECT_EQ(read_file(jvm() / "g" / "jdk" / "bin" / "java.dll"), "new");
  EXPECT_FALSE(testing::fs::exists(jvm() / "g" / "jdk.new"));
}

TEST_F(JvmRotation, AnActualRuntimeHeldForTheWholeMinuteFailsTheStep) {
  write_file(jvm() / "g" / "jdk" / "bin" / "java.dll", "old");
  write_file(jvm() / "g" / "jdk.new" / "bin" / "java.dll", "new");
  testing::held_file holder(jvm() / "g" / "jdk", std::chrono::seconds(60));
  ASSERT_TRUE(holder.held());

  EXPECT_FALSE(rename_new_jvms("."));
  holder.release();

  const strings own = own_lines();
  EXPECT_EQ(count(own, "Checking JVMs in : .\\..\\JVM\\g"), 60);
  EXPECT_EQ(count(own, "Actual JVM could not be deleted: .\\..\\JVM\\g\\jdk"), 60);
  EXPECT_EQ(count(own, "Waiting a bit..."), 60);
  EXPECT_EQ(own.size(), 4u * 60u);
  EXPECT_EQ(own.back(), "Waiting a bit...");
  EXPECT_EQ(clock_.sleeps().size(), 60u);
  // Nothing renamed: both runtimes are whole and in their places.
  EXPECT_EQ(read_file(jvm() / "g" / "jdk.new" / "bin" / "java.dll"), "new");
  EXPECT_EQ(read_file(jvm() / "g" / "jdk" / "bin" / "java.dll"), "old");
}

TEST_F(JvmRotation, ANewRuntimeThatCannotBeRenamedIsRenamedInALaterPass) {
  write_file(jvm() / "g" / "jdk" / "release", "old");
  write_file(jvm() / "g" / "jdk.new" / "release", "new");
  // Held open itself, the new runtime's folder cannot be moved.
  testing::held_file holder(jvm() / "g" / "jdk.new", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());
  clock_.set_on_sleep([&](size_t sleeps) {
    if (sleeps == 2) holder.release();
  });

  EXPECT_TRUE(rename_new_jvms("."));

  // Each failed pass moves the actual runtime aside, fails to rename, and
  // moves it back.
  const strings failed_rename{
      "Checking JVMs in : .\\..\\JVM\\g",
      "Renaming JVM folder: .\\..\\JVM\\g\\jdk.new -> .\\..\\JVM\\g\\jdk",
      "Actual JVM deleted: .\\..\\JVM\\g\\jdk",
      "Error renaming 'jdk.new' to '.\\..\\JVM\\g\\jdk'",
      "Failed to rename new JVM: .\\..\\JVM\\g\\jdk.new -> .\\..\\JVM\\g\\jdk",
      "Put the old copy back, the new one did not take its place: .\\..\\JVM\\g\\jdk",
      "Waiting a bit..."};
  EXPECT_EQ(outline(log_.texts()), failed_rename + failed_rename +
                                       strings{"Checking JVMs in : .\\..\\JVM\\g"} +
                                       installed("g", "jdk"));
  EXPECT_EQ(read_file(jvm() / "g" / "jdk" / "release"), "new");
  EXPECT_FALSE(testing::fs::exists(jvm() / "g" / "jdk.new"));
}

TEST_F(JvmRotation, RuntimeFoldersWithNamesOutsideAscii) {
  const std::wstring group = L"gr\u00fcn";
  write_file(jvm() / group / L"j\u00e4va\u4e2d.new" / "release", "new");
  write_file(jvm() / group / L"j\u00e4va\u4e2d" / "release", "old");
  EXPECT_TRUE(rename_new_jvms("."));
  // Logged as UTF-8.
  const std::string group_u8 = "gr\xc3\xbcn";
  EXPECT_EQ(log_.texts(), strings{"Checking JVMs in : .\\..\\JVM\\" + group_u8} +
                              installed(group_u8, "j\xc3\xa4va\xe4\xb8\xad"));
  EXPECT_EQ(read_file(jvm() / group / L"j\u00e4va\u4e2d" / "release"), "new");
  EXPECT_FALSE(testing::fs::exists(jvm() / group / L"j\u00e4va\u4e2d.new"));

  write_file(jvm() / group / L"alt\u4e2d.old" / "release", "older");
  EXPECT_TRUE(rename_new_jvms("."));
  EXPECT_TRUE(
      contains(log_.texts(), "Old JVM deleted: .\\..\\JVM\\" + group_u8 + "\\alt\xe4\xb8\xad.old"));
  EXPECT_FALSE(testing::fs::exists(jvm() / group / L"alt\u4e2d.old"));
  EXPECT_EQ(read_file(jvm() / group / L"j\u00e4va\u4e2d" / "release"), "new");
}

}  // namespace
}  // namespace kestrun
