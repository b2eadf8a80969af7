// The hive is the real registry: what the program writes, RegQueryValueExW
// reads, and the reverse.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/registry.h"

namespace quil::platform {
namespace {

constexpr wchar_t kRoot[] = L"Software\\QUIL tests\\registry-windows";

TEST(WindowsRegistry, HiveIsTheCurrentUsersRegistry) {
  auto hive = OpenRegistryHive("Software\\QUIL tests\\registry-windows");
  ASSERT_TRUE(hive);
  ASSERT_EQ(hive->CreateKey("Software\\MERO\\QUIL"), kRegSuccess);
  ASSERT_EQ(hive->SetValue("Software\\MERO\\QUIL", RegSz("Name", "憑證")), kRegSuccess);
  ASSERT_EQ(hive->SetValue("Software\\MERO\\QUIL", RegDword("KeySpec", 1)), kRegSuccess);

  std::wstring path = std::wstring(kRoot) + L"\\Software\\MERO\\QUIL";
  wchar_t text[16] = {};
  DWORD size = sizeof text, type = 0;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, path.c_str(), L"NAME", RRF_RT_ANY, &type, text, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::wstring(text), L"\u6191\u8B49");
  DWORD dword = 0;
  size = sizeof dword;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, path.c_str(), L"KeySpec", RRF_RT_REG_DWORD, nullptr, &dword, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(dword, 1u);

  const BYTE blob[] = {6, 2, 0, 0};
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), L"PublicKey", REG_BINARY, blob, sizeof blob),
            ERROR_SUCCESS);
  auto back = hive->QueryValue("software\\mero\\quil", "publickey");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->name, "PublicKey");
  EXPECT_EQ(back->type, RegType::kBinary);
  EXPECT_EQ(back->data, std::string("\x06\x02\0\0", 4));

  EXPECT_EQ(hive->DeleteKey(""), kRegAccessDenied) << "the root stays";
  RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
  RegDeleteKeyW(HKEY_CURRENT_USER, kRoot);
}

}  // namespace
}  // namespace quil::platform
