#pragma once
// The browsers' own certificate databases, which no script of a web page
// can reach: on Linux, Chromium, Chrome and Edge share one NSS database and
// each Firefox profile has its own (Windows: none, see the functions). The certificate goes in with its
// private key from a PKCS#12 and comes out again with its key, through
// NSS itself (libnss3). Databases are opened for one call and closed again;
// a database with a password of its own is not opened. Paths are UTF-8.
// Blocking; application thread only.
#include <functional>
#include <string>
#include <vector>

namespace quil::platform {

struct BrowserCertDb {
  enum class Kind { kChromium, kFirefox };
  Kind kind = Kind::kChromium;
  std::string folder;   // where cert9.db and key4.db live
  std::string profile;  // Firefox: the profile's name; "" for Chromium
};

// Chromium's shared database: on Linux $HOME/.pki/nssdb when that folder
// exists, else $XDG_DATA_HOME/pki/nssdb (default ~/.local/share/pki/nssdb),
// as current Chromium releases use it (whether it exists is not checked).
// None where Chrome and Edge use the system's certificate store.
std::vector<BrowserCertDb> ChromiumCertDbs();

// Every Firefox profile: on Linux those of profiles.ini under
// ~/.mozilla/firefox and ~/.config/mozilla/firefox, in file order, each
// folder once. None where this build has no NSS.
std::vector<BrowserCertDb> FirefoxCertDbs();

enum class CertDbStatus {
  kDone,
  kPasswordProtected,  // the database has a password of its own: not opened
  kUnopenable,         // the database cannot be opened (or created)
  kRefused,            // opened, but the change failed (reason says why)
};

struct [[nodiscard]] CertDbResult {
  CertDbStatus status = CertDbStatus::kRefused;
  std::string reason;  // NSS's words for a failure
  int removed = 0;     // certificates removed
};

// Imports the certificates of a PKCS#12 (DER) and the private key into the
// database, creating the database (with an empty password) and its folder
// when absent. The certificate whose DER equals `user_cert_der` gets
// `nickname`. `password` is the PKCS#12 password as OpenSSL takes it
// (narrow bytes).
CertDbResult ImportPkcs12IntoCertDb(const BrowserCertDb& db, const std::string& pkcs12_der,
                                    const std::string& password, const std::string& user_cert_der,
                                    const std::string& nickname);

// Deletes every certificate of the database for which `matches(der)` is
// true, with its private key. A database that does not exist has nothing
// to remove (kDone) and is not created.
CertDbResult RemoveFromCertDb(const BrowserCertDb& db, const std::function<bool(const std::string&)>& matches);

}  // namespace quil::platform
