#include "workflows/cert_queries.h"

#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_stores.h"
#include "cert/held_certificate.h"
#include "cert/pfx_file.h"
#include "cert/pfx_with_dialogs.h"
#include "proxy/common_name.h"

namespace quil::workflows {
namespace {

// The customer's latest installed certificate; empty without a cn (the
// proxy knows nothing for an empty one, so it is not asked).
FieldMap LatestCertificate(const std::string& idno) {
  const std::string cn = CommonNameFromIdno(idno);
  return cn.empty() ? FieldMap() : proxy::qryLastActiveCert(cn);
}

// The record of a certificate read from a file or a store, with where.
struct ReadCert {
  CertInfoResult result;
  HeldLocation where;
};

// A PKCS#12 file chosen in the load dialog, then its record.
ReadCert FromChosenPfx(const std::string& path) {
  PfxLoadResult loaded = loadPfxInteractive(path, "", "", "", /*ask_first=*/true);
  if (loaded.code != 0) return {{loaded.code, {}}, {}};
  return {certInfoFromPkcs12(loaded.pkcs12, loaded.password), InPfxFile(loaded.path)};
}

ReadCert FromMyStore(const std::string& serial, const std::string& issuer) {
  return {certInfoFromMyStore(serial, issuer), InMyStore()};
}

// The chosen file may hold any certificate; only the latest one is held.
CertInfoResult RememberedIfLatest(const ReadCert& read, const std::string& latest_serial) {
  if (read.result.code == 0 && FieldOf(read.result.info, "serial") == latest_serial)
    RememberHeldCertificate(read.result.info, read.where);
  return read.result;
}

}  // namespace

proxy::MapResult ServerCertInfo(const std::string& idno) { return proxy::qryCert(CommonNameFromIdno(idno)); }

proxy::Cert2Result ServerCertInfo2(const std::string& idno) { return proxy::qryCert2(CommonNameFromIdno(idno)); }

CertInfoResult ClientCertInfo(const std::string& idno) {
  const std::string path = GetPathSetting("env.userPfxFilePath");
  FieldMap latest = LatestCertificate(idno);
  if (latest.empty()) return {kFailed, {}};
  const std::string& serial = FieldOf(latest, "serial");
  const std::string& issuer = FieldOf(latest, "issuer");

  ReadCert primary = getSetting("env.read.primaryCertStore") == "ieCertStore" ? FromMyStore(serial, issuer)
                                                                              : FromChosenPfx(path);
  if (primary.result.code == 0) return RememberedIfLatest(primary, serial);

  const std::string secondary = getSetting("env.read.secondaryCertStore");
  if (secondary == "ieCertStore") return RememberedIfLatest(FromMyStore(serial, issuer), serial);
  if (secondary == "pfx") return RememberedIfLatest(FromChosenPfx(path), serial);
  return {kClientCertNoSource, {}};
}

CertInfoResult PfxCertInfo(const std::string& idno, const std::string& path, const std::string& password) {
  FieldMap latest = LatestCertificate(idno);
  if (latest.empty()) return {kNoCurrentCertInfo, {}};
  PfxLoadResult loaded = loadPfxSilent(path, password, FieldOf(latest, "issuer"), FieldOf(latest, "serial"));
  if (loaded.code != 0) return {loaded.code, {}};
  CertInfoResult read =
      RememberedIfLatest({certInfoFromPkcs12(loaded.pkcs12, password), InPfxFile(path)}, FieldOf(latest, "serial"));
  // What the customer checks a file against beside its record.
  if (read.code == 0) read.info["sha256Fingerprint"] = certFingerprintFromPkcs12(loaded.pkcs12, password);
  return read;
}

}  // namespace quil::workflows
