#include "runtime/installation_lock.h"

#include <windows.h>

#include "runtime/retry.h"
#include "runtime/text.h"

namespace kestrun {

installation_lock::installation_lock(const std::string& lock_file, std::chrono::milliseconds limit)
    : handle_(INVALID_HANDLE_VALUE) {
  const retry_timing& timing = current_retry_timing();
  const auto start = timing.steady_now();
  const std::wstring name = widen(lock_file);
  bool blocked = false;
  for (;;) {
    // Share mode 0: while this handle is open, every other open of the file
    // that asks for data access fails with ERROR_SHARING_VIOLATION. Read
    // access is enough to hold it, so a read-only lock file serves as well.
    handle_ = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(timing.steady_now() - start);
    if (handle_ != INVALID_HANDLE_VALUE) {
      state_ = state::held;
      if (blocked) waited_ = elapsed;
      return;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION) {
      state_ = state::unavailable;
      error_ = error;
      return;
    }
    if (elapsed >= limit) {
      state_ = state::timed_out;
      waited_ = elapsed;
      return;
    }
    blocked = true;
    timing.sleep_milliseconds(static_cast<unsigned long>(installation_poll_interval.count()));
  }
}

installation_lock::~installation_lock() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

}  // namespace kestrun
