#include "platform/browser_cert_db.h"

namespace quil::platform {

// Here Chrome and Edge take the certificate from the current user's store,
// which the deployment does not touch, and this build carries no NSS: the
// deployment page's own script is the only way into the browsers.
std::vector<BrowserCertDb> ChromiumCertDbs(BrowserPackage) { return {}; }
std::vector<BrowserCertDb> FirefoxCertDbs(BrowserPackage) { return {}; }
bool CertDbInUse(const BrowserCertDb&) { return false; }
bool FillsBrowserCertDbs() { return false; }
bool CertDbExists(const BrowserCertDb&) { return false; }

CertDbResult ImportPkcs12IntoCertDb(const BrowserCertDb&, const std::string&, const std::string&,
                                    const std::string&, const std::string&) {
  CertDbResult r;
  r.status = CertDbStatus::kUnopenable;
  return r;
}

CertDbResult RemoveFromCertDb(const BrowserCertDb&, const std::function<bool(const std::string&)>&) {
  CertDbResult r;
  r.status = CertDbStatus::kUnopenable;
  return r;
}

}  // namespace quil::platform
