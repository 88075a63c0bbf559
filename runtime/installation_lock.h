// One run of the full starter at a time in an installation. Two starts at
// once (a double click, a shortcut beside an autostart entry) would
// otherwise rename and delete the same files under each other's hands.
//
// A run holds a file inside the installation open without sharing for as
// long as it works on it. A later run's open of that file fails with a
// sharing violation until the holder ends, however either reached the
// folder (another drive letter, a junction, a UNC path, other letter case,
// another user's session), which a kernel object named after the path
// could not tell. Windows closes the handle of a process that ends in any
// way, killed included, so no stale lock outlives its run. The file itself
// stays and means nothing on its own.
#pragma once

#include <chrono>
#include <string>

namespace kestrun {

// The longest wait for another run. A run may retry the obsolete files, the
// runtimes and the DLLs for a minute each and the updater files for some
// seconds more; five minutes is well beyond that, and a run stuck for longer
// is not waited for.
inline constexpr std::chrono::minutes installation_wait_limit{5};
// How often a waiting run tries again: a freed installation is taken
// within this time.
inline constexpr std::chrono::milliseconds installation_poll_interval{100};

class installation_lock {
 public:
  enum class state {
    // This run holds the installation.
    held,
    // Another run held it for the whole wait; this run must not touch it.
    timed_out,
    // The lock file could not be opened for another reason than a holder
    // (a read-only installation, no rights): nothing can be held, and the
    // run goes on as it would without the lock. error() tells why.
    unavailable,
  };

  // Opens lock_file without sharing, trying again every poll interval while
  // another process holds it, for at most limit. The waiting writes nothing
  // and reads the clocks and sleeps of the retry timing (runtime/retry.h).
  installation_lock(const std::string& lock_file, std::chrono::milliseconds limit);
  ~installation_lock();
  installation_lock(const installation_lock&) = delete;
  installation_lock& operator=(const installation_lock&) = delete;

  state result() const { return state_; }
  // How long the run waited for another one (zero when it was free).
  std::chrono::milliseconds waited() const { return waited_; }
  // The Windows error that made the lock unavailable.
  unsigned long error() const { return error_; }

 private:
  void* handle_;
  state state_ = state::unavailable;
  std::chrono::milliseconds waited_{0};
  unsigned long error_ = 0;
};

}  // namespace kestrun
