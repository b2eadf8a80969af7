#include "browsers/browser_deployment.h"

#include <memory>

#include "base/base64.h"
#include "base/regex_text.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "base/text.h"
#include "browsers/browser_cert_stores.h"
#include "browsers/browser_detection.h"
#include "browsers/browser_start.h"
#include "browsers/deployment_page.h"
#include "browsers/edge_launcher_file.h"
#include "browsers/select_browser_dialog.h"
#include "browsers/signer_settings.h"
#include "browsers/signing_component.h"
#include "cert/cert_info.h"
#include "cert/cert_stores.h"
#include "cert/pfx_with_dialogs.h"
#include "cert/pkcs12_copy.h"
#include "browsers/trusted_sites.h"
#include "platform/cert_store.h"
#include "platform/process.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"
#include "proxy/common_name.h"
#include "proxy/operator_config.h"
#include "ui/ui.h"

namespace quil {
namespace {

constexpr char kDeployFuncId[] = "7";

StartObserver& Observer() {
  static StartObserver observer;
  return observer;
}

// Starts a program (a browser, the launcher) with these arguments, not
// waiting for it.
void Start(const std::string& program, const std::vector<std::string>& args) {
  if (Observer()) Observer()(program, args);
  (void)platform::StartProcess(program, args);
}

// Opens the page in the browser: a new instance, or a new tab of the one
// running with its profile.
void Open(const InstalledBrowser& browser, const std::string& address) {
  Start(browser.path, ArgumentsToOpen(browser, address));
}

// The outcome in the browsers' databases, once the browsers are on their
// way.
void Tell(const std::string& outcome) {
  if (!outcome.empty()) ui::CurrentUi().MessageBox(outcome, ui::Buttons::kOk);
}

// The current certificate as one of the places of cert.readOrder holds it.
struct Located {
  int code = kFailed;
  bool from_store = false;
  CertInfo info;
  // From a file: the file's bytes and the password it opened with.
  std::string pkcs12;
  std::string password;
  // From the store: the certificate with its key link in a memory store.
  std::unique_ptr<platform::CertStore> memory;
  std::string cert_der;
};

Located FromFile(const std::string& password, const std::string& issuer, const std::string& serial) {
  Located l;
  PfxLoadResult loaded =
      loadPfxInteractive(GetPathSetting("env.userPfxFilePath"), password, issuer, serial, /*ask_first=*/false);
  if (loaded.code != 0) {
    l.code = loaded.code;
    return l;
  }
  CertInfoResult info = certInfoFromPkcs12(loaded.pkcs12, loaded.password);
  l.code = info.code;
  l.info = std::move(info.info);
  l.pkcs12 = std::move(loaded.pkcs12);
  l.password = std::move(loaded.password);
  return l;
}

Located FromStore(const std::string& issuer, const std::string& serial) {
  Located l;
  auto my = openUserStore("MY");
  if (!my) {
    l.code = kMyStoreFailed;
    return l;
  }
  l.memory = platform::OpenMemoryStore();
  if (!l.memory) {
    l.code = kBackupMemoryStoreFailed;
    return l;
  }
  FindCertResult found = findCertificate(my.get(), issuer, serial);
  if (found.code != 0) {
    l.code = kMyStoreNoMatch;
    return l;
  }
  l.info = certInfoFromContext(found.cert.der);
  l.cert_der = found.cert.der;
  (void)l.memory->AddNewer(found.cert);
  l.from_store = true;
  l.code = 0;
  return l;
}

// Token by token until a place holds the certificate; the last failure, or
// 1 when no token names a place.
Located Locate(const std::string& password, const std::string& issuer, const std::string& serial) {
  Located last;
  for (const auto& place : SplitNonEmpty(getSetting("cert.readOrder"), ',')) {
    if (place == "pfx") last = FromFile(password, issuer, serial);
    else if (place == "ieCertStore") last = FromStore(issuer, serial);
    else continue;
    if (last.code == 0) break;
  }
  return last;
}

// The host an address names; an address that is not http(s) is used whole.
std::string HostOf(const std::string& address) { return RegexReplace(address, "^https?://([^:/]+).*$", "$1"); }

void TrustOperatorHosts() {
  addTrustedSite(HostOf(platform::ToNarrow(proxy::CurrentOperatorConfig().proxy_url)));
  for (const auto& target : SplitNonEmpty(getSetting("depCert.targetUrl"), ',')) addTrustedSite(HostOf(target));
  disableLocalMachineLockdown();
}

CertInfoBlock DeployBlock(const CertInfo& info) {
  CertInfoBlock b;
  b.opType = "deploy";
  b.cn = FieldOf(info, "cn");
  b.serial = FieldOf(info, "serial");
  b.issuer = FieldOf(info, "issuer");
  b.subject = FieldOf(info, "subject");
  b.notBefore = FieldOf(info, "notBefore");
  b.notAfter = FieldOf(info, "notAfter");
  return b;
}

CertInfoBlock RemoveBlock(const FieldMap& record) {
  CertInfoBlock b = DeployBlock(record);
  b.opType = "remove";
  b.certfinger = FieldOf(record, "certHash");
  return b;
}

// The proxy's record of the customer's current certificate; empty without
// a common name (the proxy is not asked then).
FieldMap CurrentCertificate(const std::string& idno) {
  const std::string cn = CommonNameFromIdno(idno);
  return cn.empty() ? FieldMap() : proxy::qryLastActiveCert(cn);
}

}  // namespace

int deployCert(const std::string& idno, const std::string& aid, const std::string& password) {
  const FieldMap record = CurrentCertificate(idno);
  if (record.empty()) return kBackupNoCert;
  Located located = Locate(password, FieldOf(record, "issuer"), FieldOf(record, "serial"));
  if (located.code != 0) return located.code;

  const std::string mode = getSetting("depCert.mode");
  CQUILSelBrowserDlg dialog;
  dialog.mode = mode;
  dialog.browsers = detectBrowsers(getSetting("depCert.selectedBrowser"), mode);
  dialog.passwordShown = located.from_store;
  // A mode other than "N" offers the choice too, under the single-browser
  // rule that getSelectedMode gives it.
  dialog.browserChoiceShown = mode != "N";
  if ((dialog.passwordShown || dialog.browserChoiceShown) && !dialog.DoModal()) return kDialogCancelled;

  std::string pkcs12, cert_der, pkcs12_password;
  if (located.from_store) {
    auto exported = platform::ExportPfx(*located.memory, dialog.password);
    if (!exported) return kSignStoreNoKey;
    pkcs12 = std::move(*exported);
    cert_der = located.cert_der;
    pkcs12_password = dialog.password;
  } else {
    Pkcs12Copy copy = copyPkcs12(located.pkcs12, located.password);
    if (copy.code != 0) return copy.code;
    pkcs12 = std::move(copy.pkcs12_der);
    cert_der = std::move(copy.cert_der);
    pkcs12_password = located.password;
  }

  TemplateResult page = fetchDeploymentTemplate();
  if (page.code != 0) return page.code;
  CertInfoBlock block = DeployBlock(located.info);
  block.b64P12Cert = base64Encode(pkcs12);
  block.certb64 = base64Encode(cert_der);
  const std::string address = placeDeploymentPage(fillTemplate(page.page, certInfoText(block)));

  if (mode == "N") ui::CurrentUi().MessageBox("即將進行瀏覽器憑證安裝", ui::Buttons::kOk);
  const std::string outcome =
      importIntoBrowserStores(dialog.browsers, pkcs12, pkcs12_password, cert_der, FieldOf(located.info, "cn"));
  // The browsers sign orders with this certificate, through the security
  // component when it is installed.
  RememberSigningCertificate(platform::ToWide(FieldOf(located.info, "cn")));
  RegisterSigningComponent();
  for (const auto& browser : dialog.browsers) {
    if (!browser.selected) continue;
    if (browser.id == kEdgeId) TrustOperatorHosts();
    Open(browser, address);
    if (browser.id == kChromeId || browser.id == kFirefoxId) proxy::writeLog(idno, aid, kDeployFuncId, "7201");
  }
  Tell(outcome);
  return 0;
}

int rmvBrowserCert(const std::string& idno, const std::string& aid) {
  const std::vector<InstalledBrowser> browsers = detectBrowsers("", "");
  if (browsers.empty()) return kNoSupportedBrowser;
  const FieldMap record = CurrentCertificate(idno);
  if (record.empty()) return kNoCertToRemove;

  TemplateResult page = fetchDeploymentTemplate();
  if (page.code != 0) return page.code;
  const std::string address = placeDeploymentPage(fillTemplate(page.page, certInfoText(RemoveBlock(record))));

  const std::string outcome = removeFromBrowserStores(browsers, FieldOf(record, "issuer"), FieldOf(record, "serial"));
  for (const auto& browser : browsers) {
    if (browser.id == kEdgeId) {
      // Edge is reached through the launcher, never through its own path.
      const std::string launcher = placeEdgeLauncher();
      if (!launcher.empty()) Start(launcher, {address});
      proxy::writeLog(idno, aid, kDeployFuncId, "7213");
      continue;
    }
    Open(browser, address);
    if (browser.id == kChromeId) proxy::writeLog(idno, aid, kDeployFuncId, "7211");
    if (browser.id == kFirefoxId) proxy::writeLog(idno, aid, kDeployFuncId, "7212");
  }
  Tell(outcome);
  return 0;
}

void SetStartObserverForTesting(StartObserver observer) { Observer() = std::move(observer); }

}  // namespace quil
