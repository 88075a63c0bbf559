// The timing of the retrying steps: an overall limit of 60 seconds measured
// on the system clock and tested before each pass, and one-second waits
// measured on the steady clock that sleep rather than spin.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace kestrun {

// 60 seconds in the system clock's 100-nanosecond ticks.
inline constexpr std::int64_t retry_limit_ticks = 600000000;
// Longest single Sleep call while waiting (one day).
inline constexpr unsigned long longest_sleep_milliseconds = 86400000;

// The clocks and the sleep the retrying steps use. The program uses the
// real ones; tests put in their own so a minute of retries takes no time.
struct retry_timing {
  std::int64_t (*system_ticks)();
  std::chrono::steady_clock::time_point (*steady_now)();
  void (*sleep_milliseconds)(unsigned long milliseconds);
};

const retry_timing& real_retry_timing();
const retry_timing& current_retry_timing();
// Replaces the timing until the returned guard goes.
class scoped_retry_timing {
 public:
  explicit scoped_retry_timing(const retry_timing& timing);
  ~scoped_retry_timing();
  scoped_retry_timing(const scoped_retry_timing&) = delete;
  scoped_retry_timing& operator=(const scoped_retry_timing&) = delete;

 private:
  const retry_timing* previous_;
};

// A system-clock reading taken when a retrying step begins.
std::int64_t retry_start();

// True while fewer than 60 seconds have passed since start by a fresh
// reading of the system clock. A clock set back stretches the minute.
bool within_retry_limit(std::int64_t start);

// Waits one second on the steady clock: the deadline is now plus one second
// (saturating at the clock's end), and until the clock reaches it, Sleep is
// called with the time left in milliseconds, rounded up.
void wait_one_second();

// Runs pass until it returns true or the minute is over. After every failed
// pass: the line "Waiting a bit..." and a one-second wait, also after the
// last one. Returns whether a pass succeeded.
bool retry_for_a_minute(const std::function<bool()>& pass);

}  // namespace kestrun
