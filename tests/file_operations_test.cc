#include "runtime/file_operations.h"

#include <gtest/gtest.h>

#include "runtime/directory_entry.h"
#include "runtime/file_holders.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "tests/support/test_support.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;
using testing::read_file;
using testing::write_file;

class FileOperations : public ::testing::Test {
 protected:
  testing::temp_folder folder_{"ops"};
  testing::log_capture log_;
  testing::scoped_current_directory in_folder_{folder_.path()};
};

// The seven lines of a report; only the first carries a time stamp.
void expect_report(const std::string& log_bytes, const std::string& first_line,
                   const std::string& quoted_path1, const std::string& quoted_path2,
                   const std::vector<int>& codes) {
  const strings lines = testing::split_crlf(log_bytes);
  ASSERT_EQ(lines.size(), 7u) << log_bytes;
  EXPECT_TRUE(testing::has_log_prefix(lines[0]));
  EXPECT_EQ(testing::log_texts(log_bytes)[0], first_line);
  for (size_t i = 1; i < 7; ++i) EXPECT_FALSE(testing::has_log_prefix(lines[i])) << lines[i];
  EXPECT_EQ(lines[1].substr(0, 9), "what():  ");
  EXPECT_EQ(lines[2], "path1(): " + quoted_path1);
  EXPECT_EQ(lines[3], "path2(): " + quoted_path2);
  ASSERT_EQ(lines[4].substr(0, 19), "code().value():    ");
  const int code = std::stoi(lines[4].substr(19));
  EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << lines[4];
  std::string system_text = error_text(static_cast<unsigned long>(code));
  ASSERT_FALSE(system_text.empty());
  // The report shows the system's own text for the code, not errno wording.
  EXPECT_EQ(lines[5].substr(0, 19), "code().message():  ");
  EXPECT_NE(system_text.find(lines[5].substr(19)), std::string::npos) << lines[5];
  EXPECT_EQ(lines[6], "code().category(): system");
}

TEST_F(FileOperations, DeletingWhatIsNotThereSucceedsSilently) {
  EXPECT_TRUE(delete_entry(make_entry(L"missing.dll")));
  EXPECT_TRUE(delete_entry(make_entry(L"no\\such\\folder"), true));
  EXPECT_EQ(log_.bytes(), "");
}

TEST_F(FileOperations, AFolderWithContentsIsNotRemovedWithoutRecursion) {
  write_file(folder_ / "lib" / "a.jar", "a");
  EXPECT_FALSE(delete_entry(make_entry(L".\\lib")));
  expect_report(log_.bytes(), "Error deleting 'lib'", "\".\\\\lib\"", "\"\"", {145});
  EXPECT_EQ(read_file(folder_ / "lib" / "a.jar"), "a");
}

TEST_F(FileOperations, RecursiveDeleteRemovesTheWholeTree) {
  write_file(folder_ / "jdk.old" / "bin" / "java.exe", "x");
  write_file(folder_ / "jdk.old" / "lib" / "deep" / "deeper" / "rt.jar", "x");
  write_file(folder_ / "jdk" / "keep.txt", "kept");
  EXPECT_TRUE(delete_entry(make_entry(L"jdk.old"), true));
  EXPECT_FALSE(testing::fs::exists(folder_ / "jdk.old"));
  EXPECT_EQ(read_file(folder_ / "jdk" / "keep.txt"), "kept");
  EXPECT_EQ(log_.bytes(), "");
}

TEST_F(FileOperations, AFileHeldByAnotherProcessIsReportedWithTheWindowsCode) {
  write_file(folder_ / "core.dll", "old");
  testing::held_file holder(folder_ / "core.dll", std::chrono::seconds(20));
  ASSERT_TRUE(holder.held());
  // The Restart Manager itself looks for the holder; Wine's finds none, so
  // the report stays the whole of the log.
  scoped_holder_lookup real_lookup(restart_manager_holders);

  EXPECT_FALSE(delete_entry(make_entry(L".\\core.dll")));
  expect_report(log_.bytes(), "Error deleting 'core.dll'", "\".\\\\core.dll\"", "\"\"", {32, 5});
  EXPECT_NE(GetModuleHandleW(L"rstrtmgr.dll"), nullptr);
  EXPECT_EQ(log_.texts()[1].find("Input/output error"), std::string::npos);
  holder.release();
  EXPECT_EQ(read_file(folder_ / "core.dll"), "old");
}

TEST_F(FileOperations, ARenameOntoAHeldFileReportsBothPathsAndTheRealCode) {
  write_file(folder_ / "x.dll", "old");
  write_file(folder_ / "x.new.dll", "new");
  testing::held_file holder(folder_ / "x.dll", std::chrono::seconds(20));
  ASSERT_TRUE(holder.held());

  EXPECT_FALSE(rename_entry(make_entry(L".\\x.new.dll"), "x.dll"));
  expect_report(log_.bytes(), "Error renaming 'x.new.dll' to 'x.dll'", "\".\\\\x.new.dll\"",
                "\"x.dll\"", {32, 5});
  holder.release();
  EXPECT_EQ(read_file(folder_ / "x.dll"), "old");
  EXPECT_EQ(read_file(folder_ / "x.new.dll"), "new");
}

TEST_F(FileOperations, RenameReplacesAnExistingFileAndReportsAMissingSource) {
  write_file(folder_ / "core.jar", "old");
  write_file(folder_ / "core.rename-to-jar", "new");
  EXPECT_TRUE(rename_entry(make_entry(L".\\core.rename-to-jar"), "core.jar"));
  EXPECT_EQ(read_file(folder_ / "core.jar"), "new");
  EXPECT_EQ(log_.bytes(), "");

  EXPECT_FALSE(rename_entry(make_entry(L".\\gone.new.dll"), "gone.dll"));
  expect_report(log_.bytes(), "Error renaming 'gone.new.dll' to 'gone.dll'",
                "\".\\\\gone.new.dll\"", "\"gone.dll\"", {2});
}

TEST_F(FileOperations, NamesOutsideAsciiSurviveRenameAndDelete) {
  const std::wstring pending = L"\u00dcber\u4e2d.new.dll";
  write_file(folder_ / pending, "new");
  write_file(folder_ / L"J\u00e4v\u00e4\u4e2d.old" / L"\u00e9.txt", "x");

  const auto entries = list_directory(L".");
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry_name(entry));
  EXPECT_NE(std::find(names.begin(), names.end(),
                      "\xc3\x9c"
                      "ber\xe4\xb8\xad.new.dll"),
            names.end());

  EXPECT_TRUE(rename_entry(make_entry(L".\\" + pending),
                           "\xc3\x9c"
                           "ber\xe4\xb8\xad.dll"));
  EXPECT_EQ(read_file(folder_ / L"\u00dcber\u4e2d.dll"), "new");
  EXPECT_TRUE(delete_entry(make_entry(L"J\u00e4v\u00e4\u4e2d.old"), true));
  EXPECT_FALSE(testing::fs::exists(folder_ / L"J\u00e4v\u00e4\u4e2d.old"));
  EXPECT_EQ(log_.bytes(), "");
}

TEST_F(FileOperations, AReadOnlyOldFileIsStillReplaced) {
  write_file(folder_ / "old.dll", "old");
  SetFileAttributesW((folder_ / "old.dll").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(delete_entry(make_entry(L"old.dll")));
  EXPECT_FALSE(testing::fs::exists(folder_ / "old.dll"));
  EXPECT_EQ(log_.bytes(), "");
}

TEST_F(FileOperations, AReadOnlyFileThatStillCannotBeDeletedStaysReadOnly) {
  // A DLL some program has loaded (mapped as an image) cannot be deleted,
  // read-only or not; the attribute cleared for the second try is put back.
  const testing::fs::path dll = folder_ / "loaded.dll";
  testing::fs::copy_file(testing::bin_dir() / "file_holder.exe", dll);
  HANDLE file = CreateFileW(dll.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  HANDLE image = CreateFileMappingW(file, nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr);
  CloseHandle(file);
  ASSERT_NE(image, nullptr) << GetLastError();
  void* view = MapViewOfFile(image, FILE_MAP_READ, 0, 0, 0);
  ASSERT_NE(view, nullptr) << GetLastError();
  ASSERT_TRUE(SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_READONLY));

  EXPECT_FALSE(delete_entry(make_entry(L"loaded.dll")));
  const DWORD attributes = GetFileAttributesW(dll.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << GetLastError();
  EXPECT_NE(attributes & FILE_ATTRIBUTE_READONLY, 0u);
  expect_report(log_.bytes(), "Error deleting 'loaded.dll'", "\"loaded.dll\"", "\"\"", {5});

  UnmapViewOfFile(view);
  CloseHandle(image);
  SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileOperations, ARecursiveDeleteDoesNotDescendIntoALink) {
  // Wine cannot make a junction, so the folder "link" is marked as one
  // where its status is read. Its target's contents stay. "placeholder" is
  // marked as a cloud file's folder, which holds its own contents: it goes.
  write_file(folder_ / "jdk.old" / "link" / "target.txt", "not the runtime's");
  write_file(folder_ / "jre.old" / "placeholder" / "cached.txt", "the runtime's");
  testing::scoped_entry_status_hook mark_link([](directory_entry& entry) {
    const std::string name = entry_name(entry);
    if (name != "link" && name != "placeholder") return;
    entry.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    entry.reparse_tag = name == "link" ? IO_REPARSE_TAG_MOUNT_POINT : IO_REPARSE_TAG_CLOUD_1;
  });
  delete_entry(make_entry(L"jdk.old"), true);
  EXPECT_EQ(read_file(folder_ / "jdk.old" / "link" / "target.txt"), "not the runtime's");
  EXPECT_TRUE(delete_entry(make_entry(L"jre.old"), true));
  EXPECT_FALSE(testing::fs::exists(folder_ / "jre.old"));
}

TEST_F(FileOperations, AFailedRecursiveDeleteKeepsWhatItCouldNotRemove) {
  write_file(folder_ / "jdk" / "a.txt", "a");
  write_file(folder_ / "jdk" / "bin" / "java.dll", "held");
  testing::held_file holder(folder_ / "jdk" / "bin" / "java.dll", std::chrono::seconds(20));
  ASSERT_TRUE(holder.held());

  EXPECT_FALSE(
      delete_entry(make_entry(L".\\..\\" + folder_.path().filename().wstring() + L"\\jdk"), true));
  const strings texts = log_.texts();
  ASSERT_EQ(texts.size(), 7u);
  EXPECT_EQ(texts[0], "Error deleting 'jdk'");
  // The path in the form the caller gave it, not the internal "\\?\" one.
  std::string given = ".\\\\..\\\\" + folder_.path().filename().u8string() + "\\\\jdk";
  EXPECT_EQ(texts[2], "<no prefix>path1(): \"" + given + "\\\\bin\\\\java.dll\"");
  holder.release();
  EXPECT_EQ(read_file(folder_ / "jdk" / "bin" / "java.dll"), "held");
}

TEST(DirectoryEntries, NotFoundErrorsMeanAbsence) {
  testing::temp_folder folder{"entries"};
  EXPECT_FALSE(make_entry(folder / "missing.jar").exists);
  EXPECT_FALSE(make_entry(folder / "no" / "such" / "parent.jar").exists);
  EXPECT_FALSE(make_entry(L"\"C:\\quoted\"\\java.exe").exists);
  EXPECT_FALSE(path_exists(L"\"C:\\quoted\"\\java.exe"));
  write_file(folder / "there.jar", "x");
  const directory_entry there = make_entry(folder / "there.jar");
  EXPECT_TRUE(there.exists);
  EXPECT_FALSE(there.is_directory());
  EXPECT_TRUE(make_entry(folder.path()).is_directory());
}

TEST(DirectoryEntries, AFolderThatCannotBeListedThrowsInTheSystemCategory) {
  testing::temp_folder folder{"entries"};
  try {
    list_directory(folder / "missing");
    FAIL() << "no error";
  } catch (const std::filesystem::filesystem_error& error) {
    EXPECT_EQ(error.code().category(), std::system_category());
    EXPECT_TRUE(is_not_found_error(static_cast<unsigned long>(error.code().value())));
  }
  write_file(folder / "plain", "x");
  try {
    list_directory(folder / "plain");
    FAIL() << "no error for a plain file";
  } catch (const std::filesystem::filesystem_error& error) {
    EXPECT_EQ(error.code().value(), ERROR_DIRECTORY);  // 267, not 87 as Wine says
  }
}

TEST(DirectoryEntries, OnlyTheseCodesMeanAbsence) {
  for (const unsigned long code : {2ul, 3ul, 53ul, 123ul}) {
    EXPECT_TRUE(is_not_found_error(code)) << code;
  }
  // Access denied, sharing violation, network name not found or not there,
  // invalid parameter, not a folder: something is there or cannot be told.
  for (const unsigned long code : {0ul, 5ul, 32ul, 66ul, 67ul, 87ul, 267ul}) {
    EXPECT_FALSE(is_not_found_error(code)) << code;
  }
}

TEST(DirectoryEntries, WholeSecondsSince1970AreTruncated) {
  directory_entry entry;
  const std::int64_t epoch = 116444736000000000LL;
  entry.last_write_filetime = epoch + 15 * 10000000LL + 9999999;
  EXPECT_EQ(last_write_unix_seconds(entry), 15);
  entry.last_write_filetime = epoch - 10000000LL;
  EXPECT_LT(last_write_unix_seconds(entry), 0);
}

TEST(DirectoryEntries, LinksAreRemovedNotDescendedInto) {
  // Wine cannot make junctions or symbolic links, so the decision is shown
  // on entries as a listing reports them.
  directory_entry junction;
  junction.exists = true;
  junction.attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  junction.reparse_tag = IO_REPARSE_TAG_MOUNT_POINT;
  EXPECT_TRUE(is_link_to_remove_not_descend(junction));
  directory_entry file_link = junction;
  file_link.attributes = FILE_ATTRIBUTE_REPARSE_POINT;
  file_link.reparse_tag = IO_REPARSE_TAG_SYMLINK;
  EXPECT_TRUE(is_link_to_remove_not_descend(file_link));
  directory_entry folder = junction;
  folder.attributes = FILE_ATTRIBUTE_DIRECTORY;
  EXPECT_FALSE(is_link_to_remove_not_descend(folder));
  // A deduplicated file is a reparse point of its own contents.
  directory_entry deduplicated = file_link;
  deduplicated.reparse_tag = IO_REPARSE_TAG_DEDUP;
  EXPECT_FALSE(is_link_to_remove_not_descend(deduplicated));
}

TEST(QuotedPath, DoublesBackslashesAndEscapesQuotes) {
  EXPECT_EQ(quoted_path(L".\\a\"b\\c"), "\".\\\\a\\\"b\\\\c\"");
  EXPECT_EQ(quoted_path(L""), "\"\"");
}

}  // namespace
}  // namespace kestrun
