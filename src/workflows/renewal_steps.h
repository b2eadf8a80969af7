#pragma once
// Parts shared by the renewal variants (renewal_*.cc): their texts and the
// opening steps. Internal to the workflows.
#include <string>

#include "base/field_map.h"
#include "workflows/workflow_progress.h"
#include "workflows/workflow_result.h"

namespace quil::workflows::renewal {

// Wide (UTF-8) texts of the progress window.
inline constexpr char kTitle[] = "憑證更新";
inline constexpr char kDoneText[] = "憑證更新完成";
inline constexpr char kFailedText[] = "憑證更新失敗";
inline constexpr char kStartText[] = "開始憑證更新 ...";
inline constexpr char kRequestText[] = "產生憑證請求資訊 ...";
inline constexpr char kSendText[] = "送出憑證更新資訊並等待回覆 ...";
// The file store.
inline constexpr char kFileSignText[] = "執行身分確認簽章程序 ...";
inline constexpr char kFileSaveText[] = "儲存憑證檔 ...";
inline constexpr char kReportText[] = "回報憑證安裝狀態 ...";
inline constexpr char kFileImportText[] = "正在匯入憑證 ....";
// The Windows store.
inline constexpr char kStoreFindText[] = "準備載入將屆期憑證 ...";
inline constexpr char kStoreSignText[] = "產生簽章值 ...";
inline constexpr char kStoreInstallText[] = "正在將憑證匯入瀏覽器憑證儲存區 ...";
inline constexpr char kStoreBackupText[] = "正在備份憑證 ...";

inline constexpr int kKeyBits = 2048;

// What the opening steps found out; `code` is the first failure's code as
// the variant words it.
struct [[nodiscard]] Opening {
  int code = kFailed;
  char second = 0;  // second character of fnStatus, 0 when it is shorter
  FieldMap current;  // the certificate being replaced (qryLastActiveCert)
};

// The codes a variant gives the opening's failures.
struct OpeningCodes {
  int status_failed;  // 0: getFnStatus's own code
  int not_allowed;
  int no_current;
};

// Step 1 of total 0 and the function status; then, unless the status
// forbids renewal, step 2 with the total for the status ("1" makes a
// request: `total_with_request`, else `total_without`) and the customer's
// current certificate.
Opening OpenRenewal(WorkflowProgress& progress, const std::string& cn, const OpeningCodes& codes,
                    int total_with_request, int total_without);

// The variants, each with its own final report.
int FileStoreWithDialogs(const std::string& cn);  // replaceCert, "pfx"
WorkflowResult FileStoreHandBack(const std::string& cn, const std::string& path,
                                 const std::string& password);  // replaceCert2, "pfx"
int WindowsStore(const std::string& cn);  // both, "ieCertStore"

}  // namespace quil::workflows::renewal
