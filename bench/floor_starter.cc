// The floor for the happy-path benchmark: a program that does nothing but
// start Updater_Client.exe with CreateProcessA and end, as a starter with
// no work to do at all would.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char command_line[] = "Updater_Client.exe ";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessA("Updater_Client.exe", command_line, nullptr, nullptr, FALSE, 0, nullptr,
                     nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return 0;
}
