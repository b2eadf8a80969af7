#include "workflows/store_backup.h"

#include "base/result_codes.h"
#include "cert/cert_stores.h"
#include "cert/pfx_file.h"
#include "cert/pfx_with_dialogs.h"
#include "proxy/actions.h"
#include "proxy/common_name.h"

namespace quil::workflows {

int BackupStoreCertificate(const std::string& cn) {
  if (cn.empty()) return kBackupNoCn;
  FieldMap record = proxy::QryCertPlain(cn);
  if (record.empty()) return kBackupNoCert;
  CollectResult collected = collectCertWithChain(FieldOf(record, "issuer"), FieldOf(record, "serial"));
  if (collected.code != 0) return collected.code;
  return exportStoreToPfx(*collected.store, "").code;
}

int BackupUserCertificate(const std::string& idno) { return BackupStoreCertificate(CommonNameFromIdno(idno)); }

}  // namespace quil::workflows
