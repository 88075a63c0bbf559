#include "runtime/process.h"

#include <gtest/gtest.h>

#include "runtime/log.h"
#include "tests/support/test_support.h"

namespace kestrun {
namespace {

TEST(CommandLine, JoinsNameAndArgumentsWithOneBlank) {
  EXPECT_EQ(command_line_for("Updater.exe", std::nullopt), "Updater.exe");
  EXPECT_EQ(command_line_for("Updater.exe", std::string()), "Updater.exe ");
  EXPECT_EQ(command_line_for("Updater.exe", std::string("-s2")), "Updater.exe -s2");
  EXPECT_EQ(command_line_for("Updater_Client.exe", std::string("a  \"b c\" ")),
            "Updater_Client.exe a  \"b c\" ");
}

TEST(CommandLine, QuotesANameWithBlanksUnlessItIsQuotedAlready) {
  EXPECT_EQ(command_line_for("C:\\Program Files\\Viewer\\view.exe", std::string("./log/x.log")),
            "\"C:\\Program Files\\Viewer\\view.exe\" ./log/x.log");
  EXPECT_EQ(command_line_for("\"C:\\Program Files\\v.exe\"", std::nullopt),
            "\"C:\\Program Files\\v.exe\"");
}

TEST(ErrorText, IsEmptyForErrorZeroAndKeepsTheSystemsLineEnd) {
  SetLastError(0);
  EXPECT_EQ(last_error_text(), "");
  SetLastError(ERROR_FILE_NOT_FOUND);
  const std::string text = last_error_text();
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_EQ(error_text(ERROR_FILE_NOT_FOUND), text);
}

TEST(StartProcess, AMissingProgramLeavesOneErrorLineWithTheSystemText) {
  testing::temp_folder folder("process");
  const auto log = folder / "starter.log";
  ASSERT_TRUE(starter_log.open(log.u8string()));
  const std::string missing = (folder / "no such updater.exe").u8string();
  start_process(missing, std::string("-x"));
  starter_log.close();

  const std::string bytes = testing::read_file(log);
  const auto texts = testing::log_texts(bytes);
  ASSERT_GE(texts.size(), 1u) << bytes;
  std::string expected_text = error_text(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(expected_text.empty());
  EXPECT_EQ(texts[0], "Error calling '" + missing + "' - " +
                          expected_text.substr(0, expected_text.size() - 2) + "\r");
  // The system text's own CR LF comes before the line's line end.
  EXPECT_EQ(bytes.substr(bytes.size() - 5), "\r\r\n\r\n");
}

}  // namespace
}  // namespace kestrun
