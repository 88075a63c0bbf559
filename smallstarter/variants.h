// The three builds of the small starter. Each build picks its row with
// KESTRUN_SMALL_STARTER_VARIANT (set by the build), so nothing at run time
// chooses the variant.
#pragma once

namespace kestrun {

struct small_starter_variant {
  const char* name;
  const char* log_file;
  // Where the previous run's log is kept before log_file is emptied.
  const char* previous_log_file;
  // The argument given to Updater.exe; nullptr for none at all (not even a
  // trailing blank on its command line).
  const char* updater_argument;
};

inline constexpr small_starter_variant small_starter_variants[] = {
    {"s2", "./log/starter-s2.log", "./log/starter-s2.previous.log", "-s2"},
    {"offline", "./log/starter-offline.log", "./log/starter-offline.previous.log", "-offline"},
    {"normal", "./log/starter-normal.log", "./log/starter-normal.previous.log", nullptr},
};

inline constexpr char small_starter_log_directory[] = "./log";
inline constexpr char small_starter_updater[] = "Updater.exe";

}  // namespace kestrun
