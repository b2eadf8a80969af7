#include "cert/held_certificate.h"

#include "platform/registry.h"
#include "platform/text_codec.h"

namespace quil {
namespace {

constexpr char kRoot[] = "Software\\MERO\\QUILReminder\\HeldCertificates";
constexpr char kAnnounced[] = "\\Announced";

std::string KeyOf(const std::string& wide_cn) { return std::string(kRoot) + "\\" + wide_cn; }

std::string Text(platform::RegistryHive& hive, const std::string& key, const char* name) {
  auto v = hive.QueryValue(key, name);
  return v && v->type == platform::RegType::kSz ? v->data : std::string();
}

// True when the hive still holds `cert` under its cn.
bool StillHeld(platform::RegistryHive& hive, const HeldCertificate& cert) {
  return !cert.cn.empty() && Text(hive, KeyOf(cert.cn), "serial") == cert.serial;
}

}  // namespace

void RememberHeldCertificate(const CertInfo& record, const HeldLocation& where) {
  const std::string cn = platform::ToWide(FieldOf(record, "cn"));
  const std::string notAfter = platform::ToWide(FieldOf(record, "notAfter"));
  // A backslash would make the cn a path of keys.
  if (cn.empty() || notAfter.empty() || cn.find('\\') != std::string::npos) return;
  const std::string serial = platform::ToWide(FieldOf(record, "serial"));

  auto& hive = platform::CurrentUserHive();
  const std::string key = KeyOf(cn);
  if (hive.KeyExists(key) && Text(hive, key, "serial") != serial) (void)hive.DeleteKey(key + kAnnounced);
  if (hive.CreateKey(key) != platform::kRegSuccess) return;
  (void)hive.SetValue(key, platform::RegSz("cn", cn));
  (void)hive.SetValue(key, platform::RegSz("serial", serial));
  (void)hive.SetValue(key, platform::RegSz("issuer", platform::ToWide(FieldOf(record, "issuer"))));
  (void)hive.SetValue(key, platform::RegSz("notAfter", notAfter));
  (void)hive.SetValue(key, platform::RegSz("store", where.store));
  (void)hive.SetValue(key, platform::RegSz("path", where.path));
  (void)hive.DeleteValue(key, "revoked");
}

void RememberRevokedCertificate(const std::string& narrow_cn, const std::string& when) {
  const std::string cn = platform::ToWide(narrow_cn);
  if (cn.empty() || cn.find('\\') != std::string::npos) return;
  auto& hive = platform::CurrentUserHive();
  if (!hive.KeyExists(KeyOf(cn))) return;
  (void)hive.SetValue(KeyOf(cn), platform::RegSz("revoked", when));
}

std::vector<HeldCertificate> HeldCertificates() {
  auto& hive = platform::CurrentUserHive();
  std::vector<HeldCertificate> held;
  for (int i = 0;; ++i) {
    auto name = hive.EnumKey(kRoot, i);
    if (!name) break;
    const std::string key = KeyOf(*name);
    HeldCertificate cert;
    cert.cn = Text(hive, key, "cn");
    cert.serial = Text(hive, key, "serial");
    cert.issuer = Text(hive, key, "issuer");
    cert.notAfter = Text(hive, key, "notAfter");
    cert.where = {Text(hive, key, "store"), Text(hive, key, "path")};
    cert.revoked = Text(hive, key, "revoked");
    if (!cert.cn.empty()) held.push_back(std::move(cert));
  }
  return held;
}

std::vector<std::string> AnnouncedStages(const HeldCertificate& cert) {
  auto& hive = platform::CurrentUserHive();
  std::vector<std::string> stages;
  if (!StillHeld(hive, cert)) return stages;
  for (int i = 0;; ++i) {
    auto value = hive.EnumValue(KeyOf(cert.cn) + kAnnounced, i);
    if (!value) break;
    stages.push_back(value->name);
  }
  return stages;
}

void RememberAnnounced(const HeldCertificate& cert, const std::string& stage, const std::string& when) {
  auto& hive = platform::CurrentUserHive();
  if (!StillHeld(hive, cert)) return;
  const std::string key = KeyOf(cert.cn) + kAnnounced;
  if (hive.CreateKey(key) != platform::kRegSuccess) return;
  (void)hive.SetValue(key, platform::RegSz(stage, when));
}

}  // namespace quil
