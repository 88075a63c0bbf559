#include "runtime/retry.h"

#include <windows.h>

#include "runtime/log.h"

namespace kestrun {

namespace {

std::chrono::steady_clock::time_point real_steady_now() { return std::chrono::steady_clock::now(); }

void real_sleep(unsigned long milliseconds) { Sleep(milliseconds); }

const retry_timing real_timing{&system_clock_ticks, &real_steady_now, &real_sleep};
const retry_timing* active_timing = &real_timing;

}  // namespace

const retry_timing& real_retry_timing() { return real_timing; }
const retry_timing& current_retry_timing() { return *active_timing; }

scoped_retry_timing::scoped_retry_timing(const retry_timing& timing) : previous_(active_timing) {
  active_timing = &timing;
}

scoped_retry_timing::~scoped_retry_timing() { active_timing = previous_; }

std::int64_t retry_start() { return active_timing->system_ticks(); }

bool within_retry_limit(std::int64_t start) {
  return active_timing->system_ticks() - start < retry_limit_ticks;
}

void wait_one_second() {
  using clock = std::chrono::steady_clock;
  const clock::time_point now = active_timing->steady_now();
  const clock::duration one_second = std::chrono::seconds(1);
  const clock::time_point deadline =
      now > clock::time_point::max() - one_second ? clock::time_point::max() : now + one_second;
  for (clock::time_point current = now; current < deadline; current = active_timing->steady_now()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - current).count();
    const unsigned long milliseconds = left > static_cast<long long>(longest_sleep_milliseconds)
                                           ? longest_sleep_milliseconds
                                           : static_cast<unsigned long>(left);
    active_timing->sleep_milliseconds(milliseconds);
  }
}

bool retry_for_a_minute(const std::function<bool()>& pass) {
  const std::int64_t start = retry_start();
  while (within_retry_limit(start)) {
    if (pass()) return true;
    log_line("Waiting a bit...");
    wait_one_second();
  }
  return false;
}

}  // namespace kestrun
