// Entry point of kestrun.exe, the full starter.
#include <windows.h>

#include "runtime/dll_search.h"
#include "starter/sequence.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  kestrun::restrict_dll_search_to_system_folder();
  return kestrun::run_starter(command_line);
}
