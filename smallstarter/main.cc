// Entry point of kestrun-s2, kestrun-offline and kestrun-normal.
#include <windows.h>

#include "runtime/dll_search.h"
#include "smallstarter/small_starter.h"

#ifndef KESTRUN_SMALL_STARTER_VARIANT
#error "the build selects the variant with KESTRUN_SMALL_STARTER_VARIANT"
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  kestrun::restrict_dll_search_to_system_folder();
  return kestrun::run_small_starter(kestrun::small_starter_variants[KESTRUN_SMALL_STARTER_VARIANT]);
}
