// A throw-away installation for end-to-end runs of kestrun.exe:
//
//   <root>\app\            kestrun.exe, Updater_Client.exe (the stand-in),
//                          Updater_Client.jar, Updater_Client.sh
//   <root>\JVM\group1\     an empty runtime group beside the application
//   <root>\jdk\bin\        a folder holding java.exe, first in Path
//   <root>\tools\          a folder without java.exe, second in Path
//   <root>\Log Viéwer 中\  the stand-in viewer, "log viewer.exe"
//   <root>\outside\        files no run may touch (checked after each test),
//                          with names a careless step might take for its own
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "starter/sequence.h"
#include "tests/support/test_support.h"

namespace kestrun::testing {

class kestrun_installation_test : public ::testing::Test {
 protected:
  kestrun_installation_test();
  ~kestrun_installation_test() override;
  // Checks that nothing outside the installation and the JVM folder changed.
  void TearDown() override;

  fs::path app() const { return root_ / "app"; }
  fs::path jvm() const { return root_ / "JVM"; }
  std::string jdk_entry() const;
  std::string tools_entry() const;
  fs::path viewer_folder() const;
  std::string viewer_path() const;

  // Runs the whole starter in this process, in app(), as kestrun.exe would
  // (for tests that build the starter's sources in).
  int run_starter_here(std::string command_line) {
    scoped_current_directory in_app(app());
    return run_starter(&command_line[0]);
  }

  // Starts kestrun.exe in app() with "kestrun.exe" + arguments as its whole
  // command line and returns its exit code.
  DWORD run(const std::wstring& arguments);

  std::string log_bytes() const;
  std::vector<std::string> log() const;
  // Waits (with a wide bound) until a run still going has logged line at
  // least times times: for tests that act at one point of a run.
  bool wait_for_log_line(const std::string& line, int times = 1) const;
  bool updater_record(start_record& record) const;
  bool viewer_record(start_record& record) const;

  // Makes "log viewer.exe" the program for .log files (HKEY_CLASSES_ROOT,
  // which FindExecutableA reads), or removes any .log association.
  void associate_log_files();
  void remove_log_association();

  static bool contains(const std::vector<std::string>& lines, const std::string& line);
  static bool exists(const fs::path& file);
  static void remove(const fs::path& file);

 private:
  temp_folder root_{"kestrun"};
  std::wstring saved_path_;
};

}  // namespace kestrun::testing
