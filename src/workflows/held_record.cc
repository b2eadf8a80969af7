#include "workflows/held_record.h"

#include "base/base64.h"
#include "base/files.h"
#include "base/settings.h"
#include "cert/cert_stores.h"
#include "platform/cert_store.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text_codec.h"

#include <ctime>

namespace quil::workflows {

void RememberStoredPfx(const std::string& path, const std::string& password) {
  auto bytes = ReadNonEmptyFile(path);
  if (!bytes) return;
  CertInfoResult read = certInfoFromPkcs12(*bytes, password);
  if (read.code == 0) RememberHeldCertificate(read.info, InPfxFile(path));
}

void RememberStoredCertificate(const std::string& cert_text, const HeldLocation& where) {
  const std::string bytes = base64Decode(cert_text);
  auto bundle = platform::ReadPkcs7Certificates(bytes);
  if (!bundle) {
    RememberHeldCertificate(certInfoFromContext(bytes), where);
    return;
  }
  for (const std::string& der : *bundle) {
    if (classifyCertificate(der) != "EE") continue;
    RememberHeldCertificate(certInfoFromContext(der), where);
    return;
  }
}

void RememberRevocation(const std::string& cn, const std::string& verdict) {
  if (verdict != "0") return;
  std::tm local = platform::CurrentLocalTime().tm;
  char when[16];
  if (std::strftime(when, sizeof when, "%Y%m%d%H%M%S", &local) == 0) return;
  RememberRevokedCertificate(cn, when);
}

PfxChoiceResult SavePfxWithDialogAndRemember(const std::string& cert_text) {
  PfxChoiceResult saved = savePfxWithDialog(cert_text, "");
  if (saved.code == 0) RememberStoredPfx(saved.path, saved.password);
  return saved;
}

int InstallIssuedChainAndRemember(const std::string& cert_text) {
  int installed = installIssuedChain(cert_text);
  if (installed == 0) RememberStoredCertificate(cert_text, InMyStore());
  return installed;
}

void ProposeHeldPfxFile(const std::string& cn) {
  if (cn.empty()) return;
  const std::string wide_cn = platform::ToWide(cn);
  for (const HeldCertificate& held : HeldCertificates()) {
    if (held.cn != wide_cn || held.where.store != "pfx" || held.where.path.empty()) continue;
    if (platform::GetPathInfo(held.where.path).kind == platform::PathKind::kFile)
      SetPathSetting("env.userPfxFilePath", held.where.path);
    return;
  }
}

}  // namespace quil::workflows
