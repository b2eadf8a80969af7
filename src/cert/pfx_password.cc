#include "cert/pfx_password.h"

#include "base/files.h"
#include "platform/cert_store.h"

namespace quil {

PfxRewriteResult RewritePfxWithPassword(const std::string& path, const std::string& pkcs12,
                                         const std::string& current_password, const std::string& new_password) {
  auto opened = platform::ImportPfx(pkcs12, current_password, true);
  if (!opened) opened = platform::ImportPfx(pkcs12, current_password, false);
  if (!opened) {
    std::string reason = platform::LastCertStoreErrorText();
    return {kImportPfxRefused, WhyPfxRefused(pkcs12, current_password), std::move(reason)};
  }
  auto bytes = platform::ExportPfx(*opened, new_password);
  if (!bytes) return {kWriteFileWriteFailed, PfxRefusal::kNone, platform::LastCertStoreErrorText()};
  return {writeWholeFile(path, *bytes), PfxRefusal::kNone, ""};
}

}  // namespace quil
