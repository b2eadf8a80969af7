#include "cert/pfx_import.h"

#include <unistd.h>

#include "base/files.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_stores.h"
#include "cert/pfx_file.h"
#include "cert/pfx_with_dialogs.h"
#include "platform/cert_store.h"
#include "platform/environment.h"
#include "platform/files.h"

namespace quil {

int importPfxIntoStores(const std::string& path_in, const std::string& password_in) {
  std::string path = path_in.empty() ? GetPathSetting("env.userPfxFilePath") : path_in;
  std::string password = password_in;
  if (path.empty() || checkPfxFile(path, password) != kOk) {
    PfxLoadResult chosen = loadPfxInteractive(path, password, "", "", true);
    if (chosen.code != kOk) return chosen.code;
    path = chosen.path;
    password = chosen.password;
  }
  auto bytes = ReadNonEmptyFile(path);
  if (!bytes) return kImportPfxEmpty;
  // The stores are opened first: key containers live beside them, so an
  // unavailable database would otherwise read as a wrong password.
  auto my = openUserStore("MY");
  if (!my) return kImportMyStoreFailed;
  auto ca = openUserStore("CA");
  if (!ca) return kImportCaStoreFailed;
  auto root = openUserStore("ROOT");
  if (!root) return kImportRootStoreFailed;
  auto imported = platform::ImportPfx(*bytes, password, true);
  if (!imported) imported = platform::ImportPfx(*bytes, password, false);
  if (!imported) return kImportPfxRefused;
  // A store that takes the file but cannot keep a certificate must not
  // report the import as done: the customer would lose the certificate.
  for (const auto& cert : imported->Certificates()) {
    std::string kind = classifyCertificate(cert.der);
    if (kind == "CA") {
      if (ca->AddNewer(cert) == platform::AddResult::kFailed) return kImportCaStoreFailed;
    } else if (kind == "ROOT") {
      if (root->AddNewer(cert) == platform::AddResult::kFailed) return kImportRootStoreFailed;
    } else if (my->AddNewer(cert) == platform::AddResult::kFailed) {
      return kImportMyStoreFailed;
    }
  }
  return kOk;
}

int installViaTempPfx(const std::string& cert_text) {
  std::string folder = platform::TempFolder();
  platform::MakeFolders(folder);
  std::string temp = folder + "/MEROXXXXXX";
  int fd = platform::CreateUniqueFile(&temp);
  if (fd < 0) return kFailed;
  close(fd);
  std::string saved_path = GetPathSetting("env.userPfxFilePath");
  std::string saved_password = getSetting("env.userPfxFilePwd");
  int code = makePfxFromKeyFolder(cert_text, temp, kTempPfxPassword);
  if (code == kOk) code = importPfxIntoStores(temp, kTempPfxPassword);
  platform::RemoveFile(temp);
  // The temporary file is gone; keep the settings naming the customer's file.
  RememberPfxFile(saved_path, saved_password);
  return code;
}

}  // namespace quil
