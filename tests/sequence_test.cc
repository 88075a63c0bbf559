// The main sequence run in this process on a throw-away installation, with
// the retry clock faked so a step's minute of retries takes no time.
#include "starter/sequence.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/directory_entry.h"
#include "tests/kestrun_installation.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;
using testing::write_file;

class Sequence : public testing::kestrun_installation_test {
 protected:
  testing::fake_retry_clock clock_;
};

TEST_F(Sequence, AJvmStepThatFailsForGoodEndsTheRunBeforeTheDllsAndTheUpdater) {
  write_file(jvm() / "group1" / "jdk" / "bin" / "java.dll", "old");
  write_file(jvm() / "group1" / "jdk.new" / "release", "new");
  write_file(app() / "native.new.dll", "new");
  // Held itself, the actual runtime cannot be moved out of the way.
  testing::held_file holder(jvm() / "group1" / "jdk", std::chrono::seconds(30));
  ASSERT_TRUE(holder.held());

  EXPECT_EQ(run_starter_here("a"), 1);

  const strings lines = log();
  const auto failed = std::find(lines.begin(), lines.end(), "Renaming new JVMs failed");
  ASSERT_NE(failed, lines.end()) << log_bytes();
  EXPECT_EQ(*(failed - 1), "Waiting a bit...");
  ASSERT_NE(failed + 1, lines.end());
  EXPECT_EQ(*(failed + 1), "Failed to start the Updater - Open Log-File for the user...");
  EXPECT_FALSE(contains(lines, "Renaming new DLLs..."));
  EXPECT_TRUE(exists(app() / "native.new.dll"));
  EXPECT_FALSE(exists(app() / "Updater_Client.exe.starts.txt"));
  holder.release();
}

TEST_F(Sequence, APreviousLogThatCannotBeKeptIsEmptiedAsBeforeAndTheRunGoesOn) {
  write_file(app() / "log" / "starter.log", "2026-12-10 01:00:00.000: starting...\r\n");
  write_file(app() / "log" / "starter.previous.log", "older");
  // A viewer that keeps the older log open without sharing.
  HANDLE viewer = CreateFileW((app() / "log" / "starter.previous.log").c_str(), GENERIC_READ, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(viewer, INVALID_HANDLE_VALUE) << GetLastError();

  EXPECT_EQ(run_starter_here("a"), 0);
  CloseHandle(viewer);

  const strings lines = log();
  ASSERT_GE(lines.size(), 3u) << log_bytes();
  EXPECT_EQ(strings(lines.begin(), lines.begin() + 3),
            (strings{"starting...",
                     "Could not keep the previous run's log as ./log/starter.previous.log: " +
                         windows_error_message(ERROR_SHARING_VIOLATION),
                     "Arguments: a"}));
  EXPECT_EQ(lines.back(), "finished");
  EXPECT_EQ(testing::read_file(app() / "log" / "starter.previous.log"), "older");
}

}  // namespace
}  // namespace kestrun
