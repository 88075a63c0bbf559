#include "runtime/retry.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/log.h"
#include "tests/support/test_support.h"

namespace kestrun {
namespace {

TEST(WaitOneSecond, SleepsTheSecondAwayInsteadOfSpinning) {
  testing::fake_retry_clock clock;
  wait_one_second();
  EXPECT_EQ(clock.sleeps(), (std::vector<unsigned long>{1000}));
}

TEST(WaitOneSecond, WaitsForRealOnTheSteadyClock) {
  const auto start = std::chrono::steady_clock::now();
  wait_one_second();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(999));
}

TEST(RetryForAMinute, GivesUpAfterAboutSixtyPassesWithAWaitAfterEach) {
  testing::log_capture log;
  testing::fake_retry_clock clock;
  int passes = 0;
  EXPECT_FALSE(retry_for_a_minute([&] {
    ++passes;
    return false;
  }));
  EXPECT_EQ(passes, 60);
  EXPECT_EQ(clock.sleeps().size(), 60u);
  const auto texts = log.texts();
  EXPECT_EQ(texts.size(), 60u);
  EXPECT_TRUE(std::all_of(texts.begin(), texts.end(),
                          [](const std::string& text) { return text == "Waiting a bit..."; }));
}

TEST(RetryForAMinute, StopsAtTheFirstPassThatSucceeds) {
  testing::log_capture log;
  testing::fake_retry_clock clock;
  int passes = 0;
  EXPECT_TRUE(retry_for_a_minute([&] { return ++passes == 3; }));
  EXPECT_EQ(passes, 3);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{"Waiting a bit...", "Waiting a bit..."}));
}

TEST(RetryForAMinute, ALongPassStillCountsAgainstTheMinute) {
  testing::log_capture log;
  testing::fake_retry_clock clock;
  int passes = 0;
  // Each pass itself takes 20 seconds: three passes start within the
  // minute (at 0, 21 and 42 seconds), the fourth would start at 63.
  EXPECT_FALSE(retry_for_a_minute([&] {
    ++passes;
    clock.shift_system_clock(20LL * 10000000LL);
    return false;
  }));
  EXPECT_EQ(passes, 3);
  // The last pass ends past the minute and still gets its wait.
  EXPECT_EQ(log.texts(), std::vector<std::string>(3, "Waiting a bit..."));
  EXPECT_EQ(clock.sleeps(), (std::vector<unsigned long>{1000, 1000, 1000}));
}

TEST(RetryForAMinute, AClockSetBackStretchesTheMinute) {
  testing::fake_retry_clock clock;
  int passes = 0;
  EXPECT_FALSE(retry_for_a_minute([&] {
    if (++passes == 10) clock.shift_system_clock(-30LL * 10000000LL);
    return false;
  }));
  EXPECT_EQ(passes, 90);
}

}  // namespace
}  // namespace kestrun
