// Runs of the whole starter in this process, on a throw-away installation
// that another run holds (a file_holder process keeps the lock file open
// without sharing) or that cannot be locked at all. The retry clock is
// faked, so the five minutes of waiting take no time.
#include "runtime/installation_lock.h"

#include <gtest/gtest.h>

#include "runtime/directory_entry.h"
#include "runtime/file_holders.h"
#include "starter/sequence.h"
#include "tests/kestrun_installation.h"

namespace kestrun {
namespace {

using strings = std::vector<std::string>;
using testing::write_file;

class InstallationLock : public testing::kestrun_installation_test {
 protected:
  testing::fake_retry_clock clock_;
};

// Stands in for the Restart Manager, which under Wine never names a holder.
std::vector<std::wstring> asked;
std::vector<file_holder> answer;
holder_lookup_result stand_in(const std::vector<std::wstring>& files) {
  asked = files;
  return {answer, 0};
}

TEST_F(InstallationLock, ARunThatWaitsTooLongTouchesNothingAndAddsToTheOtherRunsLog) {
  const std::string other_runs_log = "2026-12-10 01:00:00.000: starting...\r\n";
  write_file(app() / "log" / "starter.lock", "");
  write_file(app() / "native.new.dll", "new");
  testing::held_file other_run(app() / "log" / "starter.lock", std::chrono::seconds(30));
  ASSERT_TRUE(other_run.held());
  scoped_holder_lookup lookup(stand_in);
  const std::pair<std::vector<file_holder>, std::string> rows[] = {
      {{}, ""}, {{{"kestrun.exe", 4242}}, ", held by: kestrun.exe (process id 4242)"}};

  for (const auto& [holders, held_by] : rows) {
    SCOPED_TRACE(held_by);
    answer = holders;
    write_file(app() / "log" / "starter.log", other_runs_log);
    EXPECT_EQ(run_starter_here("a"), 1);

    const strings lines = log();
    ASSERT_GE(lines.size(), 3u) << log_bytes();
    EXPECT_EQ(log_bytes().substr(0, other_runs_log.size()), other_runs_log);
    EXPECT_EQ(strings(lines.begin(), lines.begin() + 3),
              (strings{"starting...",
                       "Another run of the starter kept this installation too long, nothing was "
                       "touched, waited ms: 300000" +
                           held_by,
                       "Failed to start the Updater - Open Log-File for the user..."}));
    EXPECT_EQ(asked, std::vector<std::wstring>{(app() / "log" / "starter.lock").wstring()});
    EXPECT_TRUE(exists(app() / "native.new.dll"));
    EXPECT_FALSE(exists(app() / "log" / "starter.previous.log"));
    EXPECT_FALSE(exists(app() / "Updater_Client.exe.starts.txt"));
  }
  other_run.release();
}

TEST_F(InstallationLock, AnInstallationThatCannotBeLockedIsStillBroughtIntoShape) {
  // A folder in the lock file's place cannot be opened as a file.
  testing::fs::create_directories(app() / "log" / "starter.lock");
  write_file(app() / "native.new.dll", "new");

  EXPECT_EQ(run_starter_here("a"), 0);

  const strings lines = log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1],
            "Could not lock the installation against other runs of the starter, going on "
            "without: " +
                windows_error_message(ERROR_ACCESS_DENIED));
  EXPECT_EQ(testing::read_file(app() / "native.dll"), "new");
  EXPECT_EQ(lines.back(), "finished");
}

}  // namespace
}  // namespace kestrun
