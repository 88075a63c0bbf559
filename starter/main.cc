// Entry point of kestrun.exe, the full starter.
#include <windows.h>

#include <string>

#include "runtime/dll_search.h"
#include "runtime/text.h"
#include "starter/command_line.h"
#include "starter/sequence.h"

// The command line is read with the wide call and kept as UTF-8: WinMain's
// own argument is in the ANSI code page, which cannot hold every character
// an argument may have, and the start-up code that makes it drops bytes of
// 0x80 and above in front of the first argument.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  kestrun::restrict_dll_search_to_system_folder();
  std::string arguments = kestrun::narrow(kestrun::arguments_after_program_name(GetCommandLineW()));
  return kestrun::run_starter(&arguments[0]);
}
