#include "browsers/browser_cert_stores.h"

#include <algorithm>
#include <utility>

#include "cert/cert_info.h"
#include "cert/dn_text.h"
#include "cert/pfx_file.h"
#include "platform/browser_cert_db.h"
#include "platform/text_codec.h"

namespace quil {
namespace {

using platform::BrowserCertDb;
using platform::BrowserPackage;
using platform::CertDbResult;
using platform::CertDbStatus;

constexpr BrowserPackage kPackages[] = {BrowserPackage::kNative, BrowserPackage::kSnap, BrowserPackage::kFlatpak};

// One database with the names of the browsers of the list that use it.
struct Target {
  BrowserCertDb db;
  std::vector<std::string> browsers;
};

bool IsFirefox(const InstalledBrowser& b) { return b.id == kFirefoxId; }

void Add(std::vector<Target>& targets, const BrowserCertDb& db, const std::string& browser) {
  auto it = std::find_if(targets.begin(), targets.end(), [&](const Target& t) { return t.db.folder == db.folder; });
  if (it == targets.end()) {
    targets.push_back({db, {}});
    it = targets.end() - 1;
  }
  if (!browser.empty() && std::find(it->browsers.begin(), it->browsers.end(), browser) == it->browsers.end())
    it->browsers.push_back(browser);
}

const char* PackageText(BrowserPackage package) {
  switch (package) {
    case BrowserPackage::kSnap:
      return "（snap）";
    case BrowserPackage::kFlatpak:
      return "（Flatpak）";
    case BrowserPackage::kNative:
      break;
  }
  return "";
}

// "Chrome、Microsoft Edge", "FireFox（snap）（設定檔 default）" (wide:
// the browsers' names are ASCII, profile names UTF-8 as profiles.ini has
// them).
std::string Label(const Target& t) {
  std::string names;
  for (const auto& b : t.browsers) names += (names.empty() ? "" : "、") + b;
  if (names.empty()) names = t.db.kind == BrowserCertDb::Kind::kFirefox ? kFirefoxName : kChromeName;
  names += PackageText(t.db.package);
  if (!t.db.profile.empty()) names += "（設定檔 " + t.db.profile + "）";
  return names;
}

const char* Family(const BrowserCertDb& db) { return db.kind == BrowserCertDb::Kind::kFirefox ? "Firefox" : "Chrome"; }

// Why a database was not reached and what the customer can do.
std::string NotReached(const Target& t, const CertDbResult& r, bool importing) {
  std::string why;
  switch (r.status) {
    case CertDbStatus::kPasswordProtected:
      return std::string("憑證資料庫設有主控密碼，QUIL 無法") + (importing ? "匯入" : "移除") +
             "。請在瀏覽器的憑證管理員中自行" + (importing ? "匯入憑證檔" : "刪除此憑證") + "。";
    case CertDbStatus::kUnopenable:
      why = "憑證資料庫無法開啟";
      break;
    case CertDbStatus::kRefused:
      why = importing ? "憑證資料庫無法寫入" : "憑證無法自資料庫刪除";
      break;
    case CertDbStatus::kDone:
      break;
  }
  if (!r.reason.empty()) why += "（" + r.reason + "）";
  return why + "。請關閉 " + Family(t.db) + " 後再試一次。";
}

std::string Line(const std::string& label, const std::string& text) { return "\n" + label + "：" + text; }

}  // namespace

bool isRecordedCertificate(const std::string& issuer, const std::string& serial, const std::string& cert_der) {
  if (serial.empty() || DnItems(issuer).empty()) return false;
  return pfxMatches(certInfoFromContext(cert_der), issuer, serial) == 0;
}

std::string importIntoBrowserStores(const std::vector<InstalledBrowser>& browsers, const std::string& pkcs12_der,
                                    const std::string& password, const std::string& cert_der, const std::string& cn) {
  std::vector<Target> targets;
  std::vector<std::string> lines;
  std::vector<std::pair<bool, BrowserPackage>> reported;  // (Firefox?, packaging) told about once
  for (const auto& b : browsers) {
    if (!b.selected) continue;
    const bool firefox = IsFirefox(b);
    auto dbs = firefox ? platform::FirefoxCertDbs(b.package) : platform::ChromiumCertDbs(b.package);
    for (const auto& db : dbs) Add(targets, db, b.name);
    // A Firefox that never ran has no profile to put the certificate in, a
    // packaged Chromium that never ran no folder of its own.
    const std::pair<bool, BrowserPackage> family{firefox, b.package};
    if (!dbs.empty() || !platform::FillsBrowserCertDbs() ||
        std::find(reported.begin(), reported.end(), family) != reported.end())
      continue;
    reported.push_back(family);
    lines.push_back(Line(b.name + PackageText(b.package),
                         firefox
                             ? "找不到 Firefox 的設定檔，未匯入憑證。請先開啟並關閉 Firefox 一次，再重新匯入。"
                             : "找不到 Chromium 的憑證資料庫，未匯入憑證。請先開啟並關閉 Chromium 一次，再重新匯入。"));
  }
  std::string text;
  for (const auto& t : targets) {
    CertDbResult r = platform::ImportPkcs12IntoCertDb(t.db, pkcs12_der, password, cert_der, platform::ToWide(cn));
    text += Line(Label(t), r.status == CertDbStatus::kDone ? "已匯入憑證" : "未匯入，" + NotReached(t, r, true));
  }
  for (const auto& l : lines) text += l;
  return text.empty() ? text : "瀏覽器憑證匯入結果：" + text;
}

std::string removeFromBrowserStores(const std::vector<InstalledBrowser>& browsers, const std::string& issuer,
                                    const std::string& serial) {
  bool chromium = false, firefox = false;
  std::vector<Target> targets;
  std::vector<std::string> without;  // browsers without any database: they hold nothing
  for (const auto& b : browsers) {
    const bool is_firefox = IsFirefox(b);
    (is_firefox ? firefox : chromium) = true;
    auto dbs = is_firefox ? platform::FirefoxCertDbs(b.package) : platform::ChromiumCertDbs(b.package);
    for (const auto& db : dbs) Add(targets, db, b.name);
    const std::string label = b.name + PackageText(b.package);
    if (dbs.empty() && platform::FillsBrowserCertDbs() &&
        std::find(without.begin(), without.end(), label) == without.end())
      without.push_back(label);
  }
  // The certificate may have gone into another packaging's database
  // earlier: those that exist are cleaned as well.
  for (BrowserPackage p : kPackages) {
    if (firefox)
      for (const auto& db : platform::FirefoxCertDbs(p)) Add(targets, db, "");
    if (chromium)
      for (const auto& db : platform::ChromiumCertDbs(p))
        if (platform::CertDbExists(db)) Add(targets, db, "");
  }
  if (targets.empty() && without.empty()) return {};
  if (serial.empty() || DnItems(issuer).empty())
    return "憑證中心的憑證資料缺少序號或發行者，無法確認要移除哪一張憑證，因此未自任何瀏覽器移除憑證。"
           "如需移除，請在瀏覽器的憑證管理員中自行刪除。";

  auto matches = [&](const std::string& der) { return isRecordedCertificate(issuer, serial, der); };
  std::string text;
  for (const auto& t : targets) {
    CertDbResult r = platform::RemoveFromCertDb(t.db, matches);
    std::string what = r.status != CertDbStatus::kDone ? "無法移除憑證，" + NotReached(t, r, false)
                       : r.removed > 0                 ? "已移除憑證"
                                                       : "未持有此憑證";
    text += Line(Label(t), what);
  }
  for (const auto& label : without) text += Line(label, "未持有此憑證");
  return "瀏覽器憑證移除結果：" + text;
}

}  // namespace quil
