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

#include "platform/browser_programs.h"

namespace quil::platform {

struct BrowserCertDb {
  enum class Kind { kChromium, kFirefox };
  Kind kind = Kind::kChromium;
  BrowserPackage package = BrowserPackage::kNative;
  std::string folder;   // where cert9.db and key4.db live
  std::string profile;  // Firefox: the profile's name; "" for Chromium
};

// The database Chromium, Chrome and Edge of that packaging open (whether
// it exists is not checked). On Linux Chromium takes <home>/.pki/nssdb
// when that folder exists, else <data home>/pki/nssdb, where home and data
// home are the ones the browser runs with: $HOME and $XDG_DATA_HOME
// (~/.local/share) for a native install; ~/snap/chromium/current and its
// .local/share for the snap, whose HOME is its own data folder; $HOME (the
// application may see the whole home) and ~/.var/app/org.chromium.Chromium/data
// for the Flatpak. None for a snap or a Flatpak that never ran (its own
// folder, ~/snap/chromium/current or ~/.var/app/org.chromium.Chromium, is
// its package manager's to make), and none where the browsers use the
// system's certificate store.
std::vector<BrowserCertDb> ChromiumCertDbs(BrowserPackage package);

// The Firefox profiles of that packaging, from the profiles.ini of each
// folder Firefox keeps them in, in file order, each folder once: native
// ~/.mozilla/firefox and $XDG_CONFIG_HOME/mozilla/firefox; the snap
// ~/snap/firefox/common/.mozilla/firefox and .config/mozilla/firefox
// there (the snap runs Firefox with HOME and XDG_CONFIG_HOME inside
// ~/snap/firefox/common); the Flatpak ~/.var/app/org.mozilla.firefox/.mozilla/firefox
// (kept there by the application's --persist=.mozilla) and
// config/mozilla/firefox there. None where this build has no NSS.
std::vector<BrowserCertDb> FirefoxCertDbs(BrowserPackage package);

// Whether this build puts certificates into the browsers' databases at all
// (Linux: yes; Windows: no, the deployment page's script does).
bool FillsBrowserCertDbs();

// Whether the database's files are there.
bool CertDbExists(const BrowserCertDb& db);

// Whether a browser has the profile open now (Firefox holds a lock on it
// while it runs; its .parentlock or its "lock" naming a live process).
// False for Chromium's database, which names no running browser.
bool CertDbInUse(const BrowserCertDb& db);

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
