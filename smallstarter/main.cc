// Entry point of kestrun-s2, kestrun-offline and kestrun-normal.
#include <windows.h>

#include "smallstarter/small_starter.h"

#ifndef KESTRUN_SMALL_STARTER_VARIANT
#error "the build selects the variant with KESTRUN_SMALL_STARTER_VARIANT"
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return kestrun::run_small_starter(kestrun::small_starter_variants[KESTRUN_SMALL_STARTER_VARIANT]);
}
