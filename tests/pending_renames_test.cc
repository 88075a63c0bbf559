#include "starter/pending_renames.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/directory_entry.h"
#include "runtime/text.h"
#include "tests/support/test_support.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;
using testing::read_file;
using testing::write_file;

constexpr char no_prefix[] = "<no prefix>";

// The log with each error report cut down to its first line, so the order
// of the step's lines and the reports can be compared as a whole.
strings outline(const strings& texts) {
  strings lines;
  for (const std::string& text : texts) {
    if (!starts_with(text, no_prefix)) lines.push_back(text);
  }
  return lines;
}

// The Windows error codes of the error reports, in log order.
strings report_codes(const strings& texts) {
  const std::string label = std::string(no_prefix) + "code().value():    ";
  strings codes;
  for (const std::string& text : texts) {
    if (starts_with(text, label)) codes.push_back(text.substr(label.size()));
  }
  return codes;
}

long count(const strings& lines, const std::string& line) {
  return static_cast<long>(std::count(lines.begin(), lines.end(), line));
}

// The names in the working directory that end in suffix, in the order the
// file system lists them, which is the order a pass meets them.
strings pending_in_listing_order(const std::string& suffix) {
  strings names;
  for (const directory_entry& entry : list_directory(L".")) {
    const std::string name = entry_name(entry);
    if (ends_with(name, suffix)) names.push_back(name);
  }
  return names;
}

strings renamed_jar(const std::string& name) {
  return {"Renaming file: " + name + ".rename-to-jar -> " + name + ".jar", "Old file deleted.",
          "New file renamed."};
}

strings renamed_dll(const std::string& name) {
  return {"Renaming dll: " + name + ".new.dll -> " + name + ".dll", "Old Dll deleted.",
          "New Dll renamed."};
}

// The outline of a DLL pass over name whose old DLL is held by another
// process: the delete fails, the rename is tried and fails as well, since
// the held file cannot be replaced.
strings held_dll(const std::string& name) {
  return {"Renaming dll: " + name + ".new.dll -> " + name + ".dll",
          "Error deleting '" + name + ".dll'", "Old Dll could not be deleted.",
          "Error renaming '" + name + ".new.dll' to '" + name + ".dll'",
          "Failed to rename new dll"};
}

strings operator+(strings first, const strings& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

class PendingRenames : public ::testing::Test {
 protected:
  bool exists(const testing::fs::path& name) { return testing::fs::exists(folder_ / name); }

  testing::temp_folder folder_{"pending"};
  testing::log_capture log_;
  testing::scoped_current_directory in_folder_{folder_.path()};
};

TEST_F(PendingRenames, NothingPendingMeansNothingLoggedAndTrue) {
  write_file(folder_ / "core.jar", "core jar");
  write_file(folder_ / "core.dll", "core dll");
  write_file(folder_ / "lib" / "inside.class", "inside");
  testing::fake_retry_clock clock;
  EXPECT_TRUE(rename_pending_jars("."));
  EXPECT_TRUE(rename_pending_dlls("."));
  EXPECT_TRUE(rename_new_dlls("."));
  EXPECT_EQ(log_.bytes(), "");
  EXPECT_TRUE(clock.sleeps().empty());
  EXPECT_EQ(read_file(folder_ / "core.jar"), "core jar");
  EXPECT_EQ(read_file(folder_ / "core.dll"), "core dll");
  EXPECT_EQ(read_file(folder_ / "lib" / "inside.class"), "inside");
}

TEST_F(PendingRenames, APendingJarTakesThePlaceOfItsJarOrOfNothing) {
  write_file(folder_ / "core.jar", "old core");
  write_file(folder_ / "core.rename-to-jar", "new core");
  EXPECT_TRUE(rename_pending_jars("."));
  EXPECT_EQ(log_.texts(), renamed_jar("core"));
  EXPECT_EQ(read_file(folder_ / "core.jar"), "new core");
  EXPECT_FALSE(exists("core.rename-to-jar"));

  // Deleting a jar that is not there counts as deleted.
  write_file(folder_ / "extra.rename-to-jar", "extra");
  EXPECT_TRUE(rename_pending_jars("."));
  EXPECT_EQ(log_.texts(), renamed_jar("core") + renamed_jar("extra"));
  EXPECT_EQ(read_file(folder_ / "extra.jar"), "extra");
  EXPECT_FALSE(exists("extra.rename-to-jar"));
  EXPECT_EQ(read_file(folder_ / "core.jar"), "new core");
}

TEST_F(PendingRenames, OnlyTheExactSuffixCounts) {
  // Names that differ in case only are one file to Windows, so each
  // variant gets a stem of its own.
  const strings not_pending{"CORE.RENAME-TO-JAR", "util.Rename-To-Jar", "core.rename-to-jar.bak",
                            "main.rename-to-ja",  "core.NEW.DLL",       "util.new.DLL",
                            "core.new.dll.bak",   "core.dll.new",       "main.newdll"};
  for (const std::string& name : not_pending) write_file(folder_ / name, name);
  testing::fake_retry_clock clock;
  EXPECT_TRUE(rename_pending_jars("."));
  EXPECT_TRUE(rename_new_dlls("."));
  EXPECT_EQ(log_.bytes(), "");
  for (const std::string& name : not_pending) EXPECT_EQ(read_file(folder_ / name), name);
  for (const char* target : {"core.jar", "util.jar", "core.dll", "util.dll", ".jar", ".dll"}) {
    EXPECT_FALSE(exists(target)) << target;
  }

  // The suffix alone is a whole pending name; what is left is the bare
  // target suffix.
  write_file(folder_ / ".rename-to-jar", "bare jar");
  write_file(folder_ / ".new.dll", "bare dll");
  EXPECT_TRUE(rename_pending_jars("."));
  EXPECT_TRUE(rename_new_dlls("."));
  EXPECT_EQ(read_file(folder_ / ".jar"), "bare jar");
  EXPECT_EQ(read_file(folder_ / ".dll"), "bare dll");
  EXPECT_FALSE(exists(".rename-to-jar"));
  EXPECT_FALSE(exists(".new.dll"));
  EXPECT_EQ(log_.texts(), (strings{"Renaming file: .rename-to-jar -> .jar", "Old file deleted.",
                                   "New file renamed.", "Renaming dll: .new.dll -> .dll",
                                   "Old Dll deleted.", "New Dll renamed."}));
  EXPECT_TRUE(clock.sleeps().empty());
}

TEST_F(PendingRenames, APendingFolderIsRenamedLikeAFile) {
  write_file(folder_ / "lib.rename-to-jar" / "new.class", "new");
  EXPECT_TRUE(rename_pending_jars("."));
  EXPECT_EQ(log_.texts(), renamed_jar("lib"));
  EXPECT_EQ(read_file(folder_ / "lib.jar" / "new.class"), "new");
  EXPECT_FALSE(exists("lib.rename-to-jar"));
}

TEST_F(PendingRenames, ATargetFolderWithContentsIsNeitherDeletedNorLost) {
  write_file(folder_ / "lib.jar" / "inside.class", "kept");
  write_file(folder_ / "lib.rename-to-jar" / "new.class", "new");
  EXPECT_FALSE(rename_pending_jars("."));

  const strings texts = log_.texts();
  EXPECT_EQ(outline(texts), (strings{"Renaming file: lib.rename-to-jar -> lib.jar",
                                     "Error deleting 'lib.jar'", "Old file could not be deleted.",
                                     "Error renaming 'lib.rename-to-jar' to 'lib.jar'",
                                     "Failed to rename new file"}));
  // Two whole seven-line reports; the delete was refused because the folder
  // is not empty (no recursion for jars).
  EXPECT_EQ(texts.size(), 5u + 2 * 6u);
  const strings codes = report_codes(texts);
  ASSERT_EQ(codes.size(), 2u);
  EXPECT_EQ(codes[0], "145");
  EXPECT_EQ(read_file(folder_ / "lib.jar" / "inside.class"), "kept");
  EXPECT_EQ(read_file(folder_ / "lib.rename-to-jar" / "new.class"), "new");
}

TEST_F(PendingRenames, AJarHeldByAnotherProgramFailsTheStepAndLosesNothing) {
  write_file(folder_ / "core.jar", "old core");
  write_file(folder_ / "core.rename-to-jar", "new core");
  testing::held_file holder(folder_ / "core.jar", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());

  EXPECT_FALSE(rename_pending_jars("."));
  holder.release();

  const strings texts = log_.texts();
  // The delete failed with a sharing violation, and the rename was still
  // tried: a held file cannot be replaced either.
  EXPECT_EQ(outline(texts), (strings{"Renaming file: core.rename-to-jar -> core.jar",
                                     "Error deleting 'core.jar'", "Old file could not be deleted.",
                                     "Error renaming 'core.rename-to-jar' to 'core.jar'",
                                     "Failed to rename new file"}));
  const strings codes = report_codes(texts);
  ASSERT_EQ(codes.size(), 2u);
  EXPECT_EQ(codes[0], "32");
  EXPECT_EQ(read_file(folder_ / "core.jar"), "old core");
  EXPECT_EQ(read_file(folder_ / "core.rename-to-jar"), "new core");

  // The pending jar held instead: the old one, moved aside, is moved back.
  testing::held_file pending(folder_ / "core.rename-to-jar", std::chrono::seconds(30));
  ASSERT_TRUE(pending.held());
  EXPECT_FALSE(rename_pending_jars("."));
  pending.release();
  EXPECT_EQ(outline(log_.texts()).back(),
            "Put the old copy back, the new one did not take its place: core.jar");
  EXPECT_EQ(read_file(folder_ / "core.jar"), "old core");
}

TEST_F(PendingRenames, AFailedDeleteOfTheOldFileFailsThePassEvenWhenTheRenameReplacesIt) {
  // Wine refuses to replace a file it refuses to delete, so the old file's
  // status is made to say "folder": its delete fails (error 267) while the
  // rename still replaces it.
  testing::scoped_entry_status_hook old_file_looks_like_a_folder([](directory_entry& entry) {
    if (entry_name(entry) == "core.jar" || entry_name(entry) == "core.dll") {
      entry.attributes |= FILE_ATTRIBUTE_DIRECTORY;
    }
  });
  struct pass_case {
    bool (*pass)(std::string);
    const char* old_name;
    const char* pending_name;
  };
  for (const pass_case& row : {pass_case{&rename_pending_jars, "core.jar", "core.rename-to-jar"},
                               pass_case{&rename_pending_dlls, "core.dll", "core.new.dll"}}) {
    write_file(folder_ / row.old_name, "old");
    write_file(folder_ / row.pending_name, "new");
    EXPECT_FALSE(row.pass(".")) << row.old_name;
    EXPECT_EQ(read_file(folder_ / row.old_name), "new");
  }
  EXPECT_EQ(report_codes(log_.texts()), (strings{"267", "267"}));
}

TEST_F(PendingRenames, AFailureOnTheFirstPendingJarDoesNotStopTheSecond) {
  for (const char* name : {"a", "b"}) {
    write_file(folder_ / (std::string(name) + ".jar"), std::string("old ") + name);
    write_file(folder_ / (std::string(name) + ".rename-to-jar"), std::string("new ") + name);
  }
  const strings order = pending_in_listing_order(".rename-to-jar");
  ASSERT_EQ(order.size(), 2u);
  // The pass meets first and then second; first's old jar is held.
  const std::string first = order[0].substr(0, 1);
  const std::string second = order[1].substr(0, 1);
  testing::held_file holder(folder_ / (first + ".jar"), std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());

  EXPECT_FALSE(rename_pending_jars("."));
  holder.release();

  EXPECT_EQ(outline(log_.texts()),
            (strings{"Renaming file: " + first + ".rename-to-jar -> " + first + ".jar",
                     "Error deleting '" + first + ".jar'", "Old file could not be deleted.",
                     "Error renaming '" + first + ".rename-to-jar' to '" + first + ".jar'",
                     "Failed to rename new file"} +
             renamed_jar(second)));
  EXPECT_EQ(read_file(folder_ / (first + ".jar")), "old " + first);
  EXPECT_EQ(read_file(folder_ / (first + ".rename-to-jar")), "new " + first);
  EXPECT_EQ(read_file(folder_ / (second + ".jar")), "new " + second);
  EXPECT_FALSE(exists(second + ".rename-to-jar"));
}

TEST_F(PendingRenames, ADllHeldForAFewSecondsIsReplacedOnceFreed) {
  testing::fake_retry_clock clock;
  write_file(folder_ / "core.dll", "old core");
  write_file(folder_ / "core.new.dll", "new core");
  write_file(folder_ / "util.new.dll", "util");
  const strings order = pending_in_listing_order(".new.dll");
  ASSERT_EQ(order.size(), 2u);
  testing::held_file holder(folder_ / "core.dll", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());
  clock.set_on_sleep([&](size_t sleeps) {
    if (sleeps == 3) holder.release();
  });

  EXPECT_TRUE(rename_new_dlls("."));

  // The free DLL goes in the first pass, wherever the listing puts it; the
  // held one fails its delete and rename in three passes, each followed by
  // a wait, and goes in the fourth, once freed.
  const strings waiting{"Waiting a bit..."};
  const strings first_pass = order[0] == "core.new.dll" ? held_dll("core") + renamed_dll("util")
                                                        : renamed_dll("util") + held_dll("core");
  EXPECT_EQ(outline(log_.texts()), first_pass + waiting + held_dll("core") + waiting +
                                       held_dll("core") + waiting + renamed_dll("core"));
  EXPECT_EQ(clock.sleeps(), (std::vector<unsigned long>{1000, 1000, 1000}));
  EXPECT_EQ(report_codes(log_.texts())[0], "32");
  EXPECT_EQ(read_file(folder_ / "core.dll"), "new core");
  EXPECT_EQ(read_file(folder_ / "util.dll"), "util");
  EXPECT_FALSE(exists("core.new.dll"));
  EXPECT_FALSE(exists("util.new.dll"));
}

TEST_F(PendingRenames, ADllHeldForTheWholeMinuteFailsAndLosesNothing) {
  testing::fake_retry_clock clock;
  write_file(folder_ / "core.dll", "old core");
  write_file(folder_ / "core.new.dll", "new core");
  testing::held_file holder(folder_ / "core.dll", std::chrono::seconds(60));
  ASSERT_TRUE(holder.held());

  EXPECT_FALSE(rename_new_dlls("."));
  holder.release();

  // Sixty passes, each with its wait, the last one included.
  const strings own = testing::step_lines(log_.texts());
  EXPECT_EQ(count(own, "Renaming dll: core.new.dll -> core.dll"), 60);
  EXPECT_EQ(count(own, "Old Dll could not be deleted."), 60);
  EXPECT_EQ(count(own, "Failed to rename new dll"), 60);
  EXPECT_EQ(count(own, "Waiting a bit..."), 60);
  EXPECT_EQ(own.size(), 4u * 60u);
  EXPECT_EQ(own.back(), "Waiting a bit...");
  EXPECT_EQ(clock.sleeps().size(), 60u);
  EXPECT_EQ(read_file(folder_ / "core.dll"), "old core");
  EXPECT_EQ(read_file(folder_ / "core.new.dll"), "new core");
}

TEST_F(PendingRenames, NamesOutsideAsciiAreRenamed) {
  testing::fake_retry_clock clock;
  write_file(folder_ / L"\u00dcber\u4e2d.new.dll", "new");
  write_file(folder_ / L"\u00dcber\u4e2d.dll", "old");
  write_file(folder_ / L"\u00e4\u00f6\u00fc.rename-to-jar", "jar");
  EXPECT_TRUE(rename_pending_jars("."));
  EXPECT_TRUE(rename_new_dlls("."));
  EXPECT_EQ(read_file(folder_ / L"\u00dcber\u4e2d.dll"), "new");
  EXPECT_EQ(read_file(folder_ / L"\u00e4\u00f6\u00fc.jar"), "jar");
  EXPECT_FALSE(exists(L"\u00dcber\u4e2d.new.dll"));
  EXPECT_FALSE(exists(L"\u00e4\u00f6\u00fc.rename-to-jar"));
  // The log carries the names as UTF-8.
  EXPECT_EQ(log_.texts(), renamed_jar("\xc3\xa4\xc3\xb6\xc3\xbc") + renamed_dll("\xc3\x9c"
                                                                                "ber\xe4\xb8\xad"));
}

TEST_F(PendingRenames, AMissingFolderIsAnErrorNotARetry) {
  testing::fake_retry_clock clock;
  EXPECT_THROW(rename_pending_jars("no-such-folder"), std::filesystem::filesystem_error);
  EXPECT_THROW(rename_new_dlls("no-such-folder"), std::filesystem::filesystem_error);
  EXPECT_TRUE(clock.sleeps().empty());
  EXPECT_EQ(log_.bytes(), "");
}

}  // namespace
}  // namespace kestrun
