// Entry point of kestrun.exe, the full starter.
#include <windows.h>

#include "starter/sequence.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  return kestrun::run_starter(command_line);
}
