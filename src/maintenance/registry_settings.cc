#include "maintenance/registry_settings.h"

#include <cctype>
#include <climits>
#include <cstdint>

#include "base/result_codes.h"
#include "base/settings.h"
#include "maintenance/security_component.h"
#include "platform/registry.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"

namespace quil {
namespace {

using platform::RegType;

// Only items with the four fields filled count; others are ignored.
bool Counts(const proxy::RegItem& item) {
  return !item.regPath.empty() && !item.regName.empty() && !item.regValue.empty() && !item.regValueType.empty();
}

bool IsDword(const proxy::RegItem& item) { return item.regValueType == "DW"; }

// The current value of an item whose key exists.
std::string CurrentValue(const proxy::RegItem& item, const std::string& key) {
  auto value = platform::CurrentUserHive().QueryValue(key, platform::ToWide(item.regName));
  if (!value) return {};
  if (IsDword(item)) return value->type == RegType::kDword ? std::to_string(value->dword) : std::string();
  if (value->type != RegType::kSz && value->type != RegType::kExpandSz) return {};
  return platform::ToNarrow(value->data);
}

// The number `text` begins with as the C library's atoi reads it (blanks
// and a sign first, reading stops at the first non-digit, 0 without
// digits, clamped to the int range), as the DWORD of its two's complement.
std::uint32_t DwordFromText(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long n = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    n = n * 10 + (text[i] - '0');
    if (n > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) n = -n;
  if (n > INT_MAX) n = INT_MAX;
  if (n < INT_MIN) n = INT_MIN;
  return static_cast<std::uint32_t>(static_cast<int>(n));
}

}  // namespace

ClientRegCheck getClientReg() {
  ClientRegCheck check;
  auto set = proxy::getRegSet();
  check.code = set.code;
  if (set.code != kOk) return check;
  auto& hive = platform::CurrentUserHive();
  for (const auto& item : set.items) {
    if (!Counts(item)) continue;
    std::string key = platform::ToWide(item.regPath);
    std::string current = hive.KeyExists(key) ? CurrentValue(item, key) : "0";
    check.entries[item.regId] = current + "#" + item.regValue + "#" + item.regDesc;
  }
  check.entries["A1"] =
      (isSecurityComponentCurrent() ? "1#1#" : "0#1#") + getSetting("component.activeX.codeBase32");
  return check;
}

int setClientReg() {
  auto set = proxy::getRegSet();
  if (set.code != kOk) return set.code;
  auto& hive = platform::CurrentUserHive();
  for (const auto& item : set.items) {
    if (!Counts(item)) continue;
    std::string key = platform::ToWide(item.regPath);
    if (hive.CreateKey(key) != platform::kRegSuccess) continue;
    std::string name = platform::ToWide(item.regName);
    hive.SetValue(key, IsDword(item) ? platform::RegDword(name, DwordFromText(item.regValue))
                                     : platform::RegSz(name, platform::ToWide(item.regValue)));
  }
  return kOk;
}

}  // namespace quil
