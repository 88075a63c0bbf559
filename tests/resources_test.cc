// Reads the resources of the built programs the way Explorer does: the icon
// group, the manifest and the version record.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace kestrun {
namespace {

class ProgramResources : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW((testing::bin_dir() / GetParam()).c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << GetLastError();
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }

  std::string resource(LPCSTR type, LPCSTR name) {
    HRSRC found = FindResourceA(module_, name, type);
    if (!found) return std::string();
    HGLOBAL loaded = LoadResource(module_, found);
    const char* data = static_cast<const char*>(LockResource(loaded));
    return std::string(data, SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
};

#pragma pack(push, 2)
struct icon_group_header {
  WORD reserved;
  WORD type;
  WORD count;
};
struct icon_group_entry {
  BYTE width, height, colors, reserved;
  WORD planes, bit_count;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST_P(ProgramResources, CarryOneIconGroupOfTenImagesFrom16To256Pixels) {
  const std::string group = resource(RT_GROUP_ICON, MAKEINTRESOURCEA(1));
  ASSERT_GE(group.size(), sizeof(icon_group_header));
  const auto* header = reinterpret_cast<const icon_group_header*>(group.data());
  EXPECT_EQ(header->type, 1);
  ASSERT_EQ(header->count, 10);
  ASSERT_EQ(group.size(), sizeof(icon_group_header) + 10 * sizeof(icon_group_entry));
  const auto* entries = reinterpret_cast<const icon_group_entry*>(header + 1);
  EXPECT_EQ(entries[0].width, 16);
  EXPECT_EQ(entries[9].width, 0);  // 0 stands for 256
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(entries[i].bit_count, 32);
    EXPECT_FALSE(resource(RT_ICON, MAKEINTRESOURCEA(entries[i].id)).empty()) << i;
  }
}

TEST_P(ProgramResources, RequestAsInvokerWithoutUiAccess) {
  const std::string manifest = resource(RT_MANIFEST, MAKEINTRESOURCEA(1));
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos) << manifest;
  // The assembly version is the project's version with a fourth part.
  EXPECT_NE(manifest.find("name=\"Kestrun.Starter\" version=\"" KESTRUN_VERSION ".0\""),
            std::string::npos)
      << manifest;
}

TEST_P(ProgramResources, NameThemselvesInTheirVersionRecord) {
  const std::wstring file = (testing::bin_dir() / GetParam()).wstring();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::string data(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(file.c_str(), 0, size, &data[0]));
  auto value = [&](const wchar_t* key) {
    wchar_t* text = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + key;
    if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &length))
      return std::wstring();
    return std::wstring(text, length ? length - 1 : 0);
  };
  EXPECT_EQ(value(L"ProductName"), L"Kestrun");
  EXPECT_EQ(value(L"OriginalFilename"), testing::fs::path(GetParam()).wstring());
  EXPECT_FALSE(value(L"FileDescription").empty());
  EXPECT_EQ(value(L"FileVersion"), L"" KESTRUN_VERSION);
  EXPECT_EQ(value(L"ProductVersion"), L"" KESTRUN_VERSION);
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramResources,
                         ::testing::Values("kestrun.exe", "kestrun-s2.exe", "kestrun-offline.exe",
                                           "kestrun-normal.exe"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
}  // namespace kestrun
