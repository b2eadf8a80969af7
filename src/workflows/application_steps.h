#pragma once
// Parts shared by the application variants (application_*.cc): their
// texts and the opening steps. Internal to the workflows.
#include <string>

#include "base/result_codes.h"
#include "workflows/workflow_progress.h"

namespace quil::workflows::application {

// Wide (UTF-8) texts of the progress window.
inline constexpr char kTitle[] = "憑證申請";
inline constexpr char kDoneText[] = "憑證申請完成";
inline constexpr char kFailedText[] = "憑證申請失敗";
inline constexpr char kStartText[] = "開始憑證申請 ...";
inline constexpr char kRequestText[] = "產生憑證請求資訊 ...";
inline constexpr char kSendText[] = "送出憑證申請資訊並等待回覆 ...";
inline constexpr char kSaveText[] = "正在儲存憑證檔 ...";
inline constexpr char kReportText[] = "回報憑證安裝狀態 ...";
inline constexpr char kImportText[] = "正在匯入憑證 ...";

inline constexpr int kKeyBits = 2048;

struct [[nodiscard]] Opening {
  int code = kFailed;     // getFnStatus's code
  char first = 0;   // first character of fnStatus, 0 when it is empty
};

// Step 1 of total 0, then the customer's function status for `cn`.
Opening OpenApplication(WorkflowProgress& progress, const std::string& cn);

// The variants, each with its own final report. `pwid` is sent when not
// empty. Narrow texts.
int FileStoreWithDialog(const std::string& cn);                                    // crtNewCert, "pfx"
struct HandBack {
  int code = kFailed;
  std::string b64Cert;
  int applyId = 0;
};
HandBack FileStoreHandBack(const std::string& cn, const std::string& pwid);        // crtNewCert2, "pfx"
int WindowsStore(const std::string& cn, const std::string& pwid);                  // both, "ieCertStore"

}  // namespace quil::workflows::application
