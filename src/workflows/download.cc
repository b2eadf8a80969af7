#include "workflows/download.h"

#include "base/settings.h"
#include "cert/cert_stores.h"
#include "cert/pfx_import.h"
#include "cert/pfx_with_dialogs.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"
#include "workflows/held_record.h"
#include "workflows/store_backup.h"
#include "workflows/workflow_progress.h"

namespace quil::workflows {
namespace {

// Wide (UTF-8) texts of the progress window.
constexpr char kTitle[] = "憑證下載";
constexpr char kDoneText[] = "憑證下載完成";
constexpr char kFailedText[] = "憑證下載失敗";
constexpr char kStartText[] = "開始憑證下載 ...";
constexpr char kFileSendText[] = "送出憑證下載請求並等待回覆 ...";
constexpr char kFileSaveText[] = "正在儲存憑證檔 ...";
constexpr char kFileImportText[] = "正在將憑證瀏覽器憑證儲存區 ...";
constexpr char kStoreSendText[] = "送出憑證下載資訊並等待回覆 ...";
constexpr char kStoreInstallText[] = "正在將憑證匯入瀏覽器憑證儲存區 ...";
constexpr char kStoreBackupText[] = "正在備份憑證 ...";
constexpr char kReportText[] = "回報憑證安裝狀態 ...";

// Every report after the first counts against four steps, also a fifth.
constexpr int kTotal = 4;
// The download flag is the fifth character of the function status.
constexpr size_t kDownloadFlag = 4;

struct StatusCodes {
  int too_short;    // a proxy without the download function
  int not_allowed;
};

// Step 0 of total 0, the function status, then step 1; 0 when the status
// lets the customer download.
int OpenDownload(WorkflowProgress& progress, const std::string& cn, const StatusCodes& codes) {
  progress.Begin(0, kStartText);
  proxy::FnStatus status = proxy::getFnStatus(cn);
  if (status.code != 0) return status.code;
  if (status.fnStatus.size() <= kDownloadFlag) return codes.too_short;
  if (status.fnStatus[kDownloadFlag] == '0') return codes.not_allowed;
  progress.SetTotal(kTotal);
  progress.Next(kStartText);
  return kOk;
}

int RunFileStore(WorkflowProgress& progress, const std::string& cn) {
  if (cn.empty()) return kFailed;
  int opened = OpenDownload(progress, cn, {kDownloadNotOffered, kDownloadNotAllowed});
  if (opened != 0) return opened;

  progress.Next(kFileSendText);
  proxy::CertReply issued = proxy::dlCert(cn);
  if (issued.code != 0) return issued.code;

  progress.Next(kFileSaveText);
  PfxChoiceResult saved = SavePfxWithDialogAndRemember(issued.cert);
  if (saved.code != 0) return saved.code;

  progress.Next(kReportText);
  int reported = proxy::activeCert(issued.certId, platform::ToNarrow(saved.path));
  if (reported != 0) return reported;

  // Second places never fail the download.
  if (getSetting("env.write.secondaryCertStore") == "ieCertStore") {
    progress.Next(kFileImportText);
    (void)importPfxIntoStores(saved.path, saved.password);
    (void)BackupStoreCertificate(cn);
  }
  return kOk;
}

int RunWindowsStore(WorkflowProgress& progress, const std::string& cn) {
  if (cn.empty()) return kApplyNoCn;
  int opened = OpenDownload(progress, cn, {kDownloadStoreNotOffered, kDownloadStoreNotAllowed});
  if (opened != 0) return opened;

  progress.Next(kStoreSendText);
  proxy::CertReply issued = proxy::dlCert(cn);
  if (issued.code != 0) return issued.code;

  progress.Next(kStoreInstallText);
  int installed = InstallIssuedChainAndRemember(issued.cert);
  if (installed != 0) return installed;

  progress.Next(kReportText);
  int reported = proxy::activeCert(issued.certId, "");
  if (reported != 0) return reported;

  if (getSetting("env.write.secondaryCertStore") == "pfx") {
    progress.Next(kStoreBackupText);
    (void)BackupStoreCertificate(cn);  // a second place never fails the download
  }
  return kOk;
}

template <typename Run>
int WithProgress(Run run, const std::string& cn) {
  WorkflowProgress progress(kTitle, kDoneText, kFailedText);
  int code = run(progress, cn);
  progress.Finish(code);
  return code;
}

}  // namespace

WorkflowResult DownloadCertificate(const std::string& cn) {
  const std::string store = getSetting("env.write.primaryCertStore");
  if (store == "pfx") return EndedWith(WithProgress(RunFileStore, cn));
  if (store == "ieCertStore") return EndedWith(WithProgress(RunWindowsStore, cn));
  return UnknownStore();
}

}  // namespace quil::workflows
