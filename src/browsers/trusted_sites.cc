#include "browsers/trusted_sites.h"

#include "base/regex_text.h"
#include "platform/registry.h"
#include "platform/text_codec.h"

namespace quil {
namespace {

constexpr std::uint32_t kTrustedZone = 2;
constexpr int kMaxRanges = 999;
// RegEnumKeyEx's name buffer holds 260 characters.
constexpr size_t kMaxKeyName = 260;

void MarkTrusted(platform::RegistryHive& hive, const std::string& key) {
  hive.SetValue(key, platform::RegDword("http", kTrustedZone));
  hive.SetValue(key, platform::RegDword("https", kTrustedZone));
}

// The Ranges subkey holding `address`, else a new one; "" when none is left.
std::string RangeKeyFor(platform::RegistryHive& hive, const std::string& address) {
  for (int i = 0;; ++i) {
    auto name = hive.EnumKey(kZoneMapRangesKey, i);
    if (!name) break;
    if (name->size() > kMaxKeyName) continue;
    std::string key = std::string(kZoneMapRangesKey) + "\\" + *name;
    if (readRegistryString(RegistryRoot::kCurrentUser, key, ":Range") == address) return key;
  }
  for (int n = 1; n <= kMaxRanges; ++n) {
    std::string key = std::string(kZoneMapRangesKey) + "\\Range" + std::to_string(n);
    if (!hive.KeyExists(key)) return hive.CreateKey(key) == platform::kRegSuccess ? key : std::string();
  }
  return {};
}

}  // namespace

void addTrustedSite(const std::string& host) {
  auto& hive = platform::CurrentUserHive();
  const std::string wide = platform::ToWide(host);
  if (RegexMatchesWhole(host, "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")) {
    if (hive.CreateKey(kZoneMapRangesKey) != platform::kRegSuccess) return;
    std::string key = RangeKeyFor(hive, wide);
    if (key.empty()) return;
    hive.SetValue(key, platform::RegSz(":Range", wide));
    MarkTrusted(hive, key);
    return;
  }
  std::string key = std::string(kZoneMapDomainsKey) + "\\" + wide;
  if (hive.CreateKey(key) != platform::kRegSuccess) return;
  MarkTrusted(hive, key);
}

void disableLocalMachineLockdown() {
  auto& hive = platform::CurrentUserHive();
  if (hive.CreateKey(kLockdownKey) != platform::kRegSuccess) return;
  hive.SetValue(kLockdownKey, platform::RegDword("iexplore.exe", 0));
}

std::string readRegistryString(RegistryRoot root, const std::string& subkey, const std::string& value_name) {
  if (root != RegistryRoot::kCurrentUser) return {};
  auto value = platform::CurrentUserHive().QueryValue(subkey, value_name);
  if (!value || (value->type != platform::RegType::kSz && value->type != platform::RegType::kExpandSz)) return {};
  return value->data;
}

}  // namespace quil
