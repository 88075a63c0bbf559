#include "starter/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrun {
namespace {

struct taken {
  std::string new_arguments;
  int switches = 0;
  bool changed = false;
};

taken take(std::string command_line) {
  taken result;
  const auto length = static_cast<std::int32_t>(command_line.size());
  std::vector<char> writable(command_line.begin(), command_line.end());
  writable.push_back('\0');
  result.new_arguments = take_new_arguments(writable.data(), [&] { ++result.switches; });
  result.changed = arguments_changed(length, result.new_arguments);
  return result;
}

TEST(CommandLine, PassesTokensOnWithOneTrailingBlankEach) {
  const taken plain = take("a b");
  EXPECT_EQ(plain.new_arguments, "a b ");
  EXPECT_FALSE(plain.changed);  // one blank between, none at the end: no line

  const taken empty = take("");
  EXPECT_EQ(empty.new_arguments, "");
  EXPECT_TRUE(empty.changed);

  EXPECT_TRUE(take("a  b").changed);  // the two blanks became one
  EXPECT_EQ(take("a  b").new_arguments, "a b ");
  EXPECT_TRUE(take("a b ").changed);
  EXPECT_TRUE(take(" a").changed);
  EXPECT_EQ(take("   ").new_arguments, "");
}

TEST(CommandLine, SplitsAtBlanksOnly) {
  // Tabs, quotes and backslashes are ordinary characters; a quoted argument
  // with single blanks reaches the updater unchanged, runs of blanks in it
  // shrink to one.
  EXPECT_EQ(take("a\tb \"c d\" e\\f").new_arguments, "a\tb \"c d\" e\\f ");
  EXPECT_FALSE(take("a\tb \"c d\" e\\f").changed);
  EXPECT_EQ(take("\"c  d\"").new_arguments, "\"c d\" ");
}

TEST(CommandLine, TakesOutTheSwitchWhereverItStands) {
  const taken switched = take("a  b --clearOldUpdater c");
  EXPECT_EQ(switched.new_arguments, "a b c ");
  EXPECT_EQ(switched.switches, 1);
  EXPECT_TRUE(switched.changed);

  const taken alone = take("--clearOldUpdater");
  EXPECT_EQ(alone.new_arguments, "");
  EXPECT_EQ(alone.switches, 1);

  const taken twice = take("--clearOldUpdater x --clearOldUpdater");
  EXPECT_EQ(twice.new_arguments, "x ");
  EXPECT_EQ(twice.switches, 2);
  EXPECT_TRUE(twice.changed);
}

TEST(CommandLine, PassesOnLookAlikesOfTheSwitch) {
  const taken look_alikes =
      take("--clearoldupdater --clearOldUpdaterX \"--clearOldUpdater\" -clearOldUpdater");
  EXPECT_EQ(look_alikes.switches, 0);
  EXPECT_EQ(look_alikes.new_arguments,
            "--clearoldupdater --clearOldUpdaterX \"--clearOldUpdater\" -clearOldUpdater ");
  EXPECT_FALSE(look_alikes.changed);
}

TEST(CommandLine, SkipsTheProgramNameAndTheWhiteSpaceAfterIt) {
  const std::vector<std::pair<std::wstring, std::wstring>> rows = {
      {L"kestrun.exe \u00c4rger b", L"\u00c4rger b"},
      {L"kestrun.exe\t \u4e2d\u6587", L"\u4e2d\u6587"},
      {L"\"C:\\Program Files\\k\u00e9strun.exe\" a \"b c\"", L"a \"b c\""},
      {L"\"k s.exe\"\u00fc", L"\u00fc"},
      {L"kestrun.exe\x01\x1f\x20\u00a0x", L"\u00a0x"},  // up to code 32 only
      {L"kestrun.exe", L""},
      {L"\"unclosed name", L""},
  };
  for (const auto& [command_line, arguments] : rows) {
    EXPECT_EQ(std::wstring(arguments_after_program_name(command_line.c_str())), arguments);
  }
}

}  // namespace
}  // namespace kestrun
