// How the programs load DLLs, with DLLs planted beside this test program
// (the build puts it in a folder of its own with them): rstrtmgr.dll under
// the system DLL's name, and kestrun_planted.dll, which is nowhere else.
#include "runtime/dll_search.h"

#include <gtest/gtest.h>

#include "runtime/file_holders.h"
#include "tests/support/test_support.h"

namespace kestrun {
namespace {

// Runs first: the restriction of the next test holds for the rest of the
// process, and under it even a careless load by bare name would find the
// system's DLL.
TEST(SystemDll, RstrtmgrIsLoadedAtTheFirstLookupAndFromTheSystemFolder) {
  ASSERT_TRUE(testing::fs::exists(testing::bin_dir() / "rstrtmgr.dll"));
  // Under Wine, a planted DLL is only ever a candidate when the overrides
  // prefer native DLLs (CTest sets them so).
  wchar_t overrides[1024] = {};
  ASSERT_LT(GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 1024), 1024u);
  ASSERT_NE(std::wstring(overrides).find(L"rstrtmgr=n,b"), std::wstring::npos) << overrides;
  EXPECT_EQ(GetModuleHandleW(L"rstrtmgr.dll"), nullptr);

  // This program's own file, which this process holds.
  EXPECT_EQ(restart_manager_holders({(testing::bin_dir() / "dll_search_test.exe").wstring()}).error,
            0u);

  ASSERT_NE(GetModuleHandleW(L"rstrtmgr.dll"), nullptr);
  // Not the one planted beside this program.
  EXPECT_EQ(GetModuleHandleW((testing::bin_dir() / "rstrtmgr.dll").c_str()), nullptr);
}

TEST(DllSearch, AfterTheRestrictionADllBesideTheProgramIsNotLoadedByBareName) {
  HMODULE before =
      LoadLibraryExW(L"kestrun_planted.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  ASSERT_NE(before, nullptr) << "the planted DLL is not found beside the program: "
                             << GetLastError();
  FreeLibrary(before);

  restrict_dll_search_to_system_folder();

  HMODULE after = LoadLibraryW(L"kestrun_planted.dll");
  EXPECT_EQ(after, nullptr);
  if (after != nullptr) FreeLibrary(after);
}

}  // namespace
}  // namespace kestrun
