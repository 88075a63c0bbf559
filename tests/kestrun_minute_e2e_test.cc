// The one end-to-end run that waits out a real minute: an old DLL held open
// by another program for longer than the DLL step retries.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/kestrun_installation.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;

class KestrunMinute : public testing::kestrun_installation_test {};

TEST_F(KestrunMinute, ADllHeldForLongerThanAMinuteFailsTheRunAndLosesNothing) {
  testing::write_file(app() / "native.dll", "old native");
  testing::write_file(app() / "native.new.dll", "new native");
  testing::held_file holder(app() / "native.dll", std::chrono::seconds(75));
  ASSERT_TRUE(holder.held());

  EXPECT_EQ(run(L" a"), 1u);
  holder.release();

  const strings lines = log();
  const auto failed = std::find(lines.begin(), lines.end(), "Renaming new DLLs failed");
  ASSERT_NE(failed, lines.end());
  ASSERT_NE(failed + 1, lines.end());
  EXPECT_EQ(*(failed + 1), "Failed to start the Updater - Open Log-File for the user...");
  EXPECT_EQ(*(failed - 1), "Waiting a bit...");
  const auto passes = std::count(lines.begin(), lines.end(), "Old Dll could not be deleted.");
  EXPECT_GE(passes, 50);
  EXPECT_LE(passes, 61);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Waiting a bit..."), passes);
  // Nothing lost: the old DLL is still there, the new one still pending.
  EXPECT_EQ(testing::read_file(app() / "native.dll"), "old native");
  EXPECT_EQ(testing::read_file(app() / "native.new.dll"), "new native");
  EXPECT_FALSE(exists(app() / "Updater_Client.exe.record.txt"));
}

}  // namespace
}  // namespace kestrun
