// Measures kestrun.exe under the conditions a user's machine gives it and
// prints a table; every figure is the median of several runs.
//
//   happy path  kestrun.exe in a healthy installation with nothing pending,
//               next to a floor program that only starts the same updater
//   lock        what taking and giving back the installation lock costs a
//               run, against the whole happy-path run
//   scale       installations of 1,000 / 10,000 / 50,000 plain files, and one
//               with 500 pending jars and 500 pending DLLs, next to one plain
//               listing of the same folder
//   replacement what one pending jar or DLL, and one runtime swap, add to a
//               healthy run
//   holders     one lookup of the programs holding a path (the Restart
//               Manager, after a delete or rename that failed because the
//               path is in use), against the one-second wait of a retrying
//               step
//   path        the healthy installation with a Path of 3 entries and one of
//               25, none of them holding java.exe (fastest of 15 runs)
// (The CPU time of the minute-long wait is measured by scripts/bench.sh on
// the Linux side: Wine's GetProcessTimes for another process is unreliable.)
//
// Usage: kestrun_bench [--quick]   (--quick: fewer runs, no 50,000 files)
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/file_holders.h"
#include "runtime/installation_lock.h"

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

namespace {

fs::path bin_dir() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return fs::path(std::wstring(buffer, length)).parent_path();
}

void write_file(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

struct run_result {
  double milliseconds = 0;
  DWORD exit_code = 0;
};

run_result run(const fs::path& exe, const std::wstring& command_line, const fs::path& folder) {
  std::wstring writable = command_line;
  writable.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  run_result result;
  const auto start = clock_type::now();
  if (!CreateProcessW(exe.c_str(), &writable[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &process)) {
    result.exit_code = ~0u;
    return result;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  result.milliseconds =
      std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
  GetExitCodeProcess(process.hProcess, &result.exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// A healthy installation: the updater files, an empty JVM group beside it.
fs::path make_installation(const fs::path& root) {
  std::error_code ignored;
  fs::remove_all(root, ignored);
  const fs::path app = root / "app";
  fs::create_directories(app);
  fs::create_directories(root / "JVM" / "group1");
  fs::copy_file(bin_dir() / "kestrun.exe", app / "kestrun.exe");
  fs::copy_file(bin_dir() / "floor_starter.exe", app / "floor_starter.exe");
  fs::copy_file(bin_dir() / "updater_stub.exe", app / "Updater_Client.exe");
  write_file(app / "Updater_Client.jar", "jar");
  write_file(app / "Updater_Client.sh", "sh");
  return app;
}

double time_kestrun(const fs::path& app, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    times.push_back(run(app / "kestrun.exe", L"kestrun.exe", app).milliseconds);
  }
  return median(times);
}

double time_listing(const fs::path& folder, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = clock_type::now();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder / L"*").c_str(), &data);
    size_t count = 0;
    if (find != INVALID_HANDLE_VALUE) {
      do ++count;
      while (FindNextFileW(find, &data));
      FindClose(find);
    }
    times.push_back(std::chrono::duration<double, std::milli>(clock_type::now() - start).count());
  }
  return median(times);
}

// Milliseconds of one lookup of the programs holding path, made as a
// failed delete or rename makes it: the files to register, then the
// Restart Manager's session. Negative when the lookup failed.
double time_holder_lookup(const fs::path& path) {
  const auto start = clock_type::now();
  const kestrun::holder_lookup_result result =
      kestrun::restart_manager_holders(kestrun::files_to_look_up(path));
  const double ms = std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
  return result.error == 0 ? ms : -1;
}

void print_holder_row(const char* label, double ms) {
  std::printf("%-44s %10.3f %10.1f %7.2f%%\n", label, ms, 1000.0, ms / 10.0);
}

// A file held open without sharing, as a running program holds its DLL,
// and a runtime folder of more files than a lookup registers.
void time_holder_lookups(const fs::path& root, int runs) {
  const fs::path held = root / "held.dll";
  write_file(held, "held");
  HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const fs::path runtime = root / "jre";
  for (int i = 0; i < 1200; ++i) {
    write_file(runtime / ("lib" + std::to_string(i % 12)) / ("f" + std::to_string(i) + ".dll"),
               "x");
  }
  std::printf("%-44s %10s %10s %8s\n", "holders", "lookup", "retry wait", "share");
  print_holder_row("first lookup of a held file (loads the DLL)", time_holder_lookup(held));
  std::vector<double> file_times, folder_times;
  for (int i = 0; i < runs; ++i) {
    file_times.push_back(time_holder_lookup(held));
    folder_times.push_back(time_holder_lookup(runtime));
  }
  print_holder_row("a held file", median(file_times));
  print_holder_row("a runtime folder (1,000 of its 1,200 files)", median(folder_times));
  char label[64];
  std::snprintf(label, sizeof label, "%zu folder lookups (the most in a run)",
                kestrun::holder_lookups_per_run);
  print_holder_row(label, median(folder_times) * kestrun::holder_lookups_per_run);
  std::printf("\n");
  if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
}

// A Path of the given number of entries: the Windows folders, then folders
// of its own below root, none of which holds java.exe.
std::wstring path_of(const fs::path& root, int entries) {
  std::wstring value = L"C:\\windows\\system32;C:\\windows";
  for (int i = 2; i < entries; ++i) {
    const fs::path folder = root / ("tools" + std::to_string(i)) / "bin";
    fs::create_directories(folder);
    value += L";" + folder.wstring();
  }
  return value;
}

void add_plain_files(const fs::path& app, int count) {
  for (int i = 0; i < count; ++i) {
    const fs::path file = app / ("data" + std::to_string(i) + ".bin");
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  const int runs = quick ? 3 : 7;
  const fs::path root = fs::temp_directory_path() / "kestrun-bench";

  std::printf("kestrun benchmark (median of %d runs, milliseconds, under Wine)\n\n", runs);
  double healthy_ms = 0;

  // Happy path against the floor.
  {
    const fs::path app = make_installation(root / "happy");
    run(app / "kestrun.exe", L"kestrun.exe", app);  // warm the file cache
    std::vector<double> kestrun_times, floor_times;
    for (int i = 0; i < runs; ++i) {
      floor_times.push_back(run(app / "floor_starter.exe", L"floor_starter.exe", app).milliseconds);
      kestrun_times.push_back(run(app / "kestrun.exe", L"kestrun.exe", app).milliseconds);
    }
    const double kestrun_ms = median(kestrun_times), floor_ms = median(floor_times);
    healthy_ms = kestrun_ms;
    std::printf("%-44s %10s %10s %8s\n", "happy path", "kestrun", "floor", "ratio");
    std::printf("%-44s %10.1f %10.1f %8.2f\n\n", "healthy installation, nothing pending",
                kestrun_ms, floor_ms, kestrun_ms / floor_ms);

    // The lock of a free installation: one open and one close of the lock
    // file, timed over many rounds in this process.
    const int rounds = 2000;
    const std::string lock_file = (app / "log" / "starter.lock").u8string();
    const auto start = clock_type::now();
    for (int i = 0; i < rounds; ++i) {
      const kestrun::installation_lock lock(lock_file, std::chrono::milliseconds(0));
      if (lock.result() != kestrun::installation_lock::state::held) return 1;
    }
    const double lock_ms =
        std::chrono::duration<double, std::milli>(clock_type::now() - start).count() / rounds;
    std::printf("%-44s %10s %10s %8s\n", "lock", "per run", "happy", "share");
    std::printf("%-44s %10.3f %10.1f %7.2f%%\n\n", "installation lock taken and given back",
                lock_ms, kestrun_ms, 100.0 * lock_ms / kestrun_ms);
  }

  time_holder_lookups(root / "holders", runs);

  // Scale with the size of the installation.
  std::printf("%-44s %10s %10s %8s %10s\n", "scale", "kestrun", "listing", "ratio", "us/entry");
  for (const int files : {1000, 10000, 50000}) {
    if (quick && files > 10000) continue;
    const fs::path app = make_installation(root / ("scale" + std::to_string(files)));
    add_plain_files(app, files);
    run(app / "kestrun.exe", L"kestrun.exe", app);
    const double kestrun_ms = time_kestrun(app, runs);
    const double listing_ms = time_listing(app, runs);
    char label[64];
    std::snprintf(label, sizeof label, "%d plain files, nothing pending", files);
    std::printf("%-44s %10.1f %10.1f %8.2f %10.2f\n", label, kestrun_ms, listing_ms,
                kestrun_ms / listing_ms, kestrun_ms * 1000.0 / files);
  }
  {
    // Pending renames are done once; every run gets a fresh installation.
    std::vector<double> times;
    double listing_ms = 0;
    for (int i = 0; i < runs; ++i) {
      const fs::path app = make_installation(root / "pending");
      for (int k = 0; k < 500; ++k) {
        write_file(app / ("lib" + std::to_string(k) + ".jar"), "old");
        write_file(app / ("lib" + std::to_string(k) + ".rename-to-jar"), "new");
        write_file(app / ("native" + std::to_string(k) + ".dll"), "old");
        write_file(app / ("native" + std::to_string(k) + ".new.dll"), "new");
      }
      if (i == 0) listing_ms = time_listing(app, runs);
      times.push_back(run(app / "kestrun.exe", L"kestrun.exe", app).milliseconds);
    }
    const double kestrun_ms = median(times);
    std::printf("%-44s %10.1f %10.1f %8.2f %10.2f\n\n", "500 pending jars + 500 pending DLLs",
                kestrun_ms, listing_ms, kestrun_ms / listing_ms, kestrun_ms * 1000.0 / 2000);
    std::printf("%-44s %10s %10s %10s\n", "replacement", "kestrun", "healthy", "ms each");
    std::printf("%-44s %10.1f %10.1f %10.3f\n", "pending file (of 500 jars + 500 DLLs)", kestrun_ms,
                healthy_ms, (kestrun_ms - healthy_ms) / 1000);
  }
  {
    // Runtime swaps: 20 groups, each with an actual and a new runtime of 50
    // files in 5 folders.
    const int groups = 20;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
      // A folder of its own each time: the updater started by the run
      // before may still hold its program file.
      const fs::path swaps = root / ("swaps" + std::to_string(i));
      const fs::path app = make_installation(swaps);
      for (int k = 0; k < groups; ++k) {
        const fs::path group = swaps / "JVM" / ("group" + std::to_string(k + 2));
        for (int f = 0; f < 50; ++f) {
          const std::string file = "lib" + std::to_string(f % 5) + "/f" + std::to_string(f);
          write_file(group / "jdk" / file, "old");
          write_file(group / "jdk.new" / file, "new");
        }
      }
      times.push_back(run(app / "kestrun.exe", L"kestrun.exe", app).milliseconds);
    }
    const double kestrun_ms = median(times);
    std::printf("%-44s %10.1f %10.1f %10.3f\n\n", "runtime swap (of 20, 50 files each)", kestrun_ms,
                healthy_ms, (kestrun_ms - healthy_ms) / groups);
  }

  // The length of Path: every entry is looked at for java.exe. The
  // difference is a few milliseconds, less than what other work on the
  // machine adds to a run, so this row takes the fastest of 15 runs; the two
  // lengths take turns, so a drift of the machine's speed hits both alike.
  {
    const int path_runs = 15;
    const fs::path app = make_installation(root / "path");
    const std::wstring short_path = path_of(root / "path", 3);
    const std::wstring long_path = path_of(root / "path", 25);
    std::vector<double> short_times, long_times;
    for (int i = 0; i <= path_runs; ++i) {
      SetEnvironmentVariableW(L"Path", short_path.c_str());
      const double short_ms = run(app / "kestrun.exe", L"kestrun.exe", app).milliseconds;
      SetEnvironmentVariableW(L"Path", long_path.c_str());
      const double long_ms = run(app / "kestrun.exe", L"kestrun.exe", app).milliseconds;
      // The first round warms the file cache.
      if (i == 0) continue;
      short_times.push_back(short_ms);
      long_times.push_back(long_ms);
    }
    const double short_ms = *std::min_element(short_times.begin(), short_times.end());
    const double long_ms = *std::min_element(long_times.begin(), long_times.end());
    std::printf("%-44s %10s %10s %8s %10s\n", "path (fastest of 15 runs)", "3 entries", "25",
                "ratio", "us/entry");
    std::printf("%-44s %10.1f %10.1f %8.2f %10.1f\n\n", "healthy installation, no JDK on Path",
                short_ms, long_ms, long_ms / short_ms, (long_ms - short_ms) * 1000.0 / 22);
  }

  std::error_code ignored;
  fs::remove_all(root, ignored);
  return 0;
}
