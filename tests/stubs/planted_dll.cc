// A DLL as someone might plant it beside a program, under a system DLL's
// name or under a name of its own. It does nothing: a test tells it from the
// real one by the folder it was loaded from.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
