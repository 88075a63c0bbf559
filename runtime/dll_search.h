// Keeps the installation folder out of the DLL search.
#pragma once

namespace kestrun {

// Makes the system folder the only place from which this process loads DLLs
// by bare name (LoadLibrary, delay loads, the DLLs system DLLs load later).
// The starters run in a folder an updater writes into, often one a user can
// write into as well: a DLL dropped there under a system DLL's name (shell32,
// version, ...) would otherwise be found before the real one. Call it first
// thing in WinMain, before anything can load a DLL.
void restrict_dll_search_to_system_folder();

// Loads a system DLL (a bare name such as L"shell32.dll") from the system
// folder and from nowhere else, whatever the process's search order is.
// Returns its module handle (an HMODULE), or nullptr when it cannot be
// loaded. The DLL stays loaded for the rest of the run.
void* load_system_dll(const wchar_t* name);

}  // namespace kestrun
