#include "runtime/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "tests/support/test_support.h"

namespace kestrun {
namespace {

using testing::read_file;
using testing::split_crlf;
using testing::temp_folder;

std::tm calendar(int year, int month, int day, int hour, int minute, int second) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  return time;
}

TEST(LogPrefix, PadsEveryFieldButTheYear) {
  EXPECT_EQ(format_log_prefix(calendar(2027, 1, 1, 0, 0, 0), 0), "2027-01-01 00:00:00.000: ");
  EXPECT_EQ(format_log_prefix(calendar(2026, 3, 7, 9, 5, 2), 47), "2026-03-07 09:05:02.047: ");
  EXPECT_EQ(format_log_prefix(calendar(999, 12, 31, 23, 59, 59), 999), "999-12-31 23:59:59.999: ");
  EXPECT_EQ(format_log_prefix(calendar(10000, 1, 1, 0, 0, 0), 5), "10000-01-01 00:00:00.005: ");
}

TEST(LogPrefix, TruncatesMillisecondsOfOneClockReading) {
  // 2026-03-07 09:05:02 UTC in 100 ns ticks since 1970.
  const std::int64_t second = 1772874302LL * 10000000LL;
  const std::string whole = log_prefix(second);
  ASSERT_EQ(whole.substr(whole.size() - 6), ".000: ");

  const std::string at_47 = log_prefix(second + 470000);
  EXPECT_EQ(at_47.substr(0, at_47.size() - 6), whole.substr(0, whole.size() - 6));
  EXPECT_EQ(at_47.substr(at_47.size() - 6), ".047: ");

  // 999.9 ms past the second shows .999 of the same second, never .1000.
  const std::string at_999_9 = log_prefix(second + 9999999);
  EXPECT_EQ(at_999_9.substr(0, at_999_9.size() - 6), whole.substr(0, whole.size() - 6));
  EXPECT_EQ(at_999_9.substr(at_999_9.size() - 6), ".999: ");

  // Readings within one millisecond give the same prefix.
  EXPECT_EQ(log_prefix(second + 470000), log_prefix(second + 479999));
  EXPECT_NE(log_prefix(second + 479999), log_prefix(second + 480000));
}

TEST(LogPrefix, ShowsLocalTime) {
  // CTest runs this program with TZ=IST-5:30 (UTC+5:30), a form Wine and the
  // C runtime both read. A half-hour zone tells local time from UTC even
  // where tests otherwise run in UTC.
  TIME_ZONE_INFORMATION zone;
  GetTimeZoneInformation(&zone);
  ASSERT_EQ(zone.Bias, -330) << "run through CTest, which sets TZ=IST-5:30";
  // 2026-03-07 09:05:02.047 UTC.
  EXPECT_EQ(log_prefix(1772874302LL * 10000000LL + 470000), "2026-03-07 14:35:02.047: ");
}

class LogFile : public ::testing::Test {
 protected:
  void TearDown() override { starter_log.close(); }
  temp_folder folder_{"log"};
};

TEST_F(LogFile, WritesPrefixedCrLfLinesInCallOrder) {
  const auto file = folder_ / "starter.log";
  ASSERT_TRUE(starter_log.open(file.u8string()));
  log_line("starting...");
  log_line("");
  log_line("first\nsecond");
  log_line("carriage\rreturn");
  log_line_start() << "pieces " << 42 << ' ' << std::string("and a string") << std::endl;
  starter_log.close();

  const std::string bytes = read_file(file);
  const auto lines = split_crlf(bytes);
  ASSERT_EQ(lines.size(), 6u) << bytes;
  EXPECT_TRUE(testing::has_log_prefix(lines[0]));
  EXPECT_EQ(lines[0].substr(lines[0].size() - 13), ": starting...");
  // An empty text leaves just the prefix, ending in ": ".
  EXPECT_TRUE(testing::has_log_prefix(lines[1]));
  EXPECT_EQ(lines[1].substr(lines[1].size() - 2), ": ");
  // A line feed inside a message starts a physical line without a prefix.
  EXPECT_EQ(lines[2].substr(lines[2].size() - 7), ": first");
  EXPECT_EQ(lines[3], "second");
  // A carriage return is written unchanged.
  EXPECT_NE(bytes.find("carriage\rreturn\r\n"), std::string::npos);
  EXPECT_EQ(lines[5].substr(lines[5].size() - 24), ": pieces 42 and a string");
  // Nothing but the lines: no byte-order mark, no bare LF.
  EXPECT_EQ(bytes[0], '2');
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      EXPECT_EQ(bytes[i - 1], '\r') << "bare LF at " << i;
    }
  }
}

TEST_F(LogFile, EveryLineReachesTheFileAtOnceAndOthersMayReadAndWriteIt) {
  const auto file = folder_ / "starter.log";
  ASSERT_TRUE(starter_log.open(file.u8string()));
  log_line("one");
  // Another reader sees the line before the log is closed, while the file is
  // open for writing here.
  HANDLE reader =
      CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE) << GetLastError();
  CloseHandle(reader);
  EXPECT_NE(read_file(file).find(": one\r\n"), std::string::npos);
}

TEST_F(LogFile, OpeningEmptiesTheEarlierRunsLog) {
  const auto file = folder_ / "starter.log";
  testing::write_file(file, "old line of an earlier run\r\nand another\r\n");
  ASSERT_TRUE(starter_log.open(file.u8string()));
  log_line("new");
  starter_log.close();
  const auto lines = split_crlf(read_file(file));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 5), ": new");
}

TEST_F(LogFile, AFileThatCannotBeOpenedDropsEveryLineQuietly) {
  const auto file = folder_ / "starter.log";
  testing::write_file(file, "kept");
  HANDLE exclusive = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(starter_log.open(file.u8string()));
  log_line("dropped");
  log_line_start() << "also dropped" << std::endl;
  starter_log.close();
  CloseHandle(exclusive);
  EXPECT_EQ(read_file(file), "kept");
}

TEST_F(LogFile, LogDirectoryIsCreatedOnceAndAPlainFileInItsPlaceIsReported) {
  const auto directory = folder_ / "nested" / "log";
  create_log_directory(directory.u8string());
  create_log_directory(directory.u8string());  // existing folder: no error
  EXPECT_TRUE(std::filesystem::is_directory(directory));

  const auto plain = folder_ / "log";
  testing::write_file(plain, "a plain file");
  try {
    create_log_directory(plain.u8string());
    FAIL() << "no error for a plain file named log";
  } catch (const std::filesystem::filesystem_error& error) {
    EXPECT_NE(std::string(error.what()).find("create_directories"), std::string::npos)
        << error.what();
  }
  EXPECT_EQ(read_file(plain), "a plain file");
}

}  // namespace
}  // namespace kestrun
