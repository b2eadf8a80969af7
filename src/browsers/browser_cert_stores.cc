#include "browsers/browser_cert_stores.h"

#include <functional>

#include "cert/cert_info.h"
#include "cert/dn_text.h"
#include "platform/browser_cert_db.h"
#include "platform/text_codec.h"
#include "ui/ui.h"

namespace quil {
namespace {

using platform::BrowserCertDb;
using platform::CertDbResult;
using platform::CertDbStatus;

struct Target {
  BrowserCertDb db;
  std::string browser;  // the name shown to the customer (wide)
};

// Each database the browsers of the list use, once; `only_selected` keeps
// the selected browsers only.
std::vector<Target> Databases(const std::vector<InstalledBrowser>& browsers, bool only_selected) {
  std::vector<Target> targets;
  bool chromium = false, firefox = false;
  for (const auto& b : browsers) {
    if (only_selected && !b.selected) continue;
    if (b.id == kFirefoxId) firefox = true;
    else chromium = true;
  }
  if (chromium)
    for (auto& db : platform::ChromiumCertDbs()) targets.push_back({db, "Chrome / Microsoft Edge"});
  if (firefox)
    for (auto& db : platform::FirefoxCertDbs()) targets.push_back({db, "FireFox (" + db.profile + ")"});
  return targets;
}

void Report(const Target& t, const CertDbResult& r, bool importing) {
  std::string what;
  switch (r.status) {
    case CertDbStatus::kDone: return;
    case CertDbStatus::kPasswordProtected: what = "憑證資料庫設有主控密碼"; break;
    case CertDbStatus::kUnopenable: what = "憑證資料庫無法開啟"; break;
    case CertDbStatus::kRefused: what = importing ? "憑證匯入失敗" : "憑證移除失敗"; break;
  }
  std::string text = (importing ? "無法將憑證匯入 " : "無法自瀏覽器移除憑證: ") + t.browser + "\n" + what;
  if (!r.reason.empty()) text += " (" + r.reason + ")";
  text += "\n" + t.db.folder;
  ui::CurrentUi().MessageBox(text, ui::Buttons::kOk);
}

}  // namespace

void importIntoBrowserStores(const std::vector<InstalledBrowser>& browsers, const std::string& pkcs12_der,
                             const std::string& password, const std::string& cert_der, const std::string& cn) {
  for (const auto& t : Databases(browsers, true))
    Report(t, platform::ImportPkcs12IntoCertDb(t.db, pkcs12_der, password, cert_der, platform::ToWide(cn)), true);
}

void removeFromBrowserStores(const std::vector<InstalledBrowser>& browsers, const std::string& issuer,
                             const std::string& serial) {
  const std::string key = issuerKey(issuer, serial);
  auto matches = [&](const std::string& der) { return certMatchesKey(key, der); };
  for (const auto& t : Databases(browsers, false)) Report(t, platform::RemoveFromCertDb(t.db, matches), false);
}

}  // namespace quil
