// The result-code catalogue: one row per code, X(name, code, message),
// message nullptr for a code that has no text of its own (its error text is
// the bracketed code alone). Included by base/result_codes.h, which makes
// the named constants and the message lookup from it; include that instead.
//
// Codes come in blocks of one hundred, one block per operation; several
// operations also use codes of another's block. Rows whose comment says
// "not produced" stay in the catalogue although no operation returns them.
// clang-format off
#define QUIL_RESULT_CODES(X)                                                              \
  X(kOk,                          0,     "成功") /* its error text is empty */            \
  X(kFailed,                      1,     "不明的錯誤")                                    \
  /* The file-store application, renewal and save report these instead of */             \
  /* the codes of the operations they call. */                                            \
  X(kApplyFileStatusFailed,       3001,  nullptr)                                         \
  X(kApplyFileNotAllowed,         3002,  nullptr)                                         \
  X(kApplyFileRequestFailed,      3003,  nullptr)                                         \
  X(kApplyFileSendFailed,         3004,  nullptr)                                         \
  X(kSavePfxWriteFailed,          3006,  nullptr)                                         \
  X(kSavePfxReportFailed,         3007,  nullptr)                                         \
  X(kRenewFileStatusFailed,       4001,  nullptr)                                         \
  X(kRenewFileNotAllowed,         4002,  nullptr)                                         \
  X(kRenewFileNoCurrentCert,      4003,  nullptr)                                         \
  X(kRenewFileRequestFailed,      4004,  nullptr)                                         \
  X(kRenewFileSendFailed,         4009,  nullptr)                                         \
  X(kPrivateKeyEmpty,             52013, "私鑰內容為空值") /* not produced */             \
  X(kMakePfxNoCert,               52101, "憑證為空值, 未提供憑證內容")                    \
  X(kMakePfxNoPath,               52105, "未指定憑證檔儲存路徑")                          \
  X(kMakePfxNoPassword,           52107, "未指定憑證檔密碼") /* not produced */           \
  X(kMakePfxCertUnreadable,       52109, "解析憑證失敗")                                  \
  X(kMakePfxCreateFailed,         52111, "產生 P12 憑證失敗")                             \
  X(kMakePfxOpenFailed,           52113, "開啟寫入檔案失敗")                              \
  X(kCertFileReadFailed,          52201, "讀取憑證檔失敗")                                \
  X(kCertFileLoadFailed,          52203, "載入憑證檔失敗")                                \
  X(kCertFileWrongIssuer,         52205, "載入憑證檔簽發者錯誤")                          \
  X(kCertFileWrongSerial,         52207, "載入憑證檔序號錯誤")                            \
  X(kPfxFileLoadFailed,           52301, "PFX 檔載入失敗")                                \
  X(kPfxFileWrongPassword,        52303, "PFX 憑證檔密碼錯誤")                            \
  X(kPkcs12Empty,                 52401, "PFX 憑證檔內容為空值") /* not produced */       \
  X(kPkcs12ParseFailed,           52403, "解析 PKCS12 格式憑證資料失敗")                  \
  X(kSignPfxEmpty,                52501, "PFX 憑證檔內容為空值") /* not produced */       \
  X(kSignatureBase64Failed,       52503, "簽章值 Base64 編碼發生錯誤") /* not produced */ \
  X(kSignPfxParseFailed,          52601, "解析 p12 格式憑證失敗")                         \
  X(kSignPfxKeyMismatch,          52603, "私鑰錯誤")                                      \
  X(kSignPfxFailed,               52605, "簽章失敗")                                      \
  X(kRequestNoCn,                 52701, "CN 未指定")                                     \
  X(kRequestKeyObjectFailed,      52703, "初始化金鑰對物件失敗")                          \
  X(kRequestObjectFailed,         52705, "產生 CSR 失敗")                                 \
  X(kRequestKeyGenFailed,         52707, "產製金鑰對失敗")                                \
  X(kRequestKeyAttachFailed,      52709, "產生 CSR 失敗")                                 \
  X(kRequestSignFailed,           52711, "產生 CSR 失敗")                                 \
  X(kContainerCreateFailed,       52801, "配置金鑰對失敗")                                \
  X(kContainerKeyGenFailed,       52803, "產製金鑰對失敗")                                \
  X(kContainerPublicKeyFailed,    52805, "取出公鑰失敗")                                  \
  X(kContainerRequestSignFailed,  52807, "簽章加密失敗")                                  \
  X(kContainerRequestEmpty,       52809, "BASE64 編碼失敗")                               \
  X(kPendingKeyUnreadable,        52901, "無法讀取機碼值")                                \
  X(kFindCertNoStore,             53001, "憑證儲存區開啟失敗, 無法讀取憑證資訊")          \
  X(kFindCertIssuerFailed,        53003, "轉換 issuer 格式失敗") /* not produced */       \
  X(kFindCertNoMatch,             53005, "無符合搜尋條件的憑證資訊")                      \
  X(kInstallChainFailed,          53101, "不明的錯誤")                                    \
  X(kInstallChainBase64Failed,    53103, "伺服器端回傳憑證資訊格式錯誤, BASE64 解碼失敗") \
  X(kInstallChainCountFailed,     53105, "取得憑證鍊中憑證數失敗")                        \
  X(kSignStoreNoKey,              53201, "取得私鑰失敗")                                  \
  X(kSignStoreUnknown,            53203, "不明的錯誤")                                    \
  X(kSignStoreFailed,             53205, "執行簽章失敗")                                  \
  X(kSignStoreSizeFailed,         53207, "取得簽章值大小失敗")                            \
  X(kSignStoreValueFailed,        53209, "取得簽章值失敗")                                \
  X(kWriteFileOpenFailed,         53301, "開啟檔案以寫入資料失敗")                        \
  X(kWriteFileWriteFailed,        53303, "資料寫入失敗")                                  \
  X(kCancelled,                   53401, "使用者按下「取消」鍵或關閉視窗")                \
  X(kUnused53501,                 53501, "解析伺服器端回傳資訊失敗") /* not produced */   \
  X(kUnused53601,                 53601, "查詢失敗") /* not produced */                   \
  X(kUnused53603,                 53603, "解析伺服器端回傳資訊失敗") /* not produced */   \
  X(kVersionCallFailed,           53701, "查詢失敗")                                      \
  X(kVersionReplyUnreadable,      53703, "解析伺服器端回傳資訊失敗")                      \
  X(kVersionMismatch,             53705, "用戶端版本資訊不符")                            \
  X(kVersionQueryRefused,         53801, "查詢失敗, 伺服器端回應查詢錯誤") /* not produced */ \
  X(kVersionNoRoot,               53803, "解析伺服器端回傳資訊失敗")                      \
  X(kAccountEmpty,                53901, "使用者帳號空白")                                \
  X(kPasswordEmpty,               53903, "使用者密碼空白")                                \
  X(kLoginReplyUnreadable,        53905, "解析伺服器端回傳資訊失敗")                      \
  X(kLoginRefused,                53907, "使用者登入失敗")                                \
  X(kAccountReplyUnreadable,      53909, nullptr)                                         \
  X(kChangePwRefused,             53911, nullptr)                                         \
  X(kLogoutReplyUnreadable,       54001, "解析伺服器端回傳資訊失敗")                      \
  X(kLogoutFailed,                54003, "使用者登出失敗")                                \
  X(kNoCurrentCertInfo,           54035, "取得舊憑證資訊失敗")                            \
  X(kFnStatusNoCn,                54101, "CN 為空值")                                     \
  X(kFnStatusCallFailed,          54103, "查詢失敗, 伺服器端回應查詢錯誤")                \
  X(kFnStatusReplyUnreadable,     54105, "解析伺服器端回傳資訊失敗")                      \
  X(kApplyNotAllowed,             54201, "憑證用戶目前不允許申請憑證")                    \
  X(kRenewNoCn,                   54301, "憑證用戶 CN 未指定")                            \
  X(kRenewNotAllowed,             54303, "憑證用戶目前不允許更新憑證")                    \
  X(kQryCertNoCn,                 54401, "轉換取得 cn 失敗")                              \
  X(kQryCertReplyUnreadable,      54403, "解析伺服器端回傳資訊失敗")                      \
  X(kQryCertRefused,              54405, "查詢失敗, 伺服器端回應查詢錯誤")                \
  X(kClientCertNoSource,          54406, "找不到符合查詢條件的憑證資訊")                  \
  X(kBranchNoId,                  54407, nullptr)                                         \
  X(kBranchReplyUnreadable,       54409, nullptr)                                         \
  X(kBranchRefused,               54411, nullptr)                                         \
  X(kImportPfxEmpty,              54501, "PFX 憑證檔內容為空值")                          \
  X(kImportPfxRefused,            54503, "讀取憑證檔失敗, 憑證檔密碼錯誤")                \
  X(kImportRootStoreFailed,       54505, "開啟根憑證儲存區失敗")                          \
  X(kImportCaStoreFailed,         54507, "開啟 CA 憑證儲存區失敗")                        \
  X(kImportMyStoreFailed,         54509, "開啟憑證儲存區失敗")                            \
  X(kBackupNoCn,                  54601, "轉換取得 cn 失敗")                              \
  X(kBackupNoCert,                54603, "取得最新一張憑證資訊失敗")                      \
  X(kBackupRootStoreFailed,       54605, "開啟根憑證儲存區失敗")                          \
  X(kBackupCaStoreFailed,         54607, "開啟 CA 憑證儲存區失敗")                        \
  X(kMyStoreFailed,               54609, "開啟憑證儲存區失敗")                            \
  X(kBackupMemoryStoreFailed,     54611, "開啟 PFX 臨時憑證儲存區失敗")                   \
  X(kBackupIssuerFailed,          54613, "簽發者憑證主體格式轉換發生錯誤") /* not produced */ \
  X(kMyStoreNoMatch,              54615, "IE 憑證儲存區中無符合的憑證")                   \
  X(kActiveCertFailed,            54701, "向伺服器端送出查詢請求失敗")                    \
  X(kDialogCancelled,             54801, "使用者按下「取消」鍵或關閉視窗")                \
  X(kApplyNoCn,                   54901, "CN 為空值")                                     \
  X(kApplyStoreNotAllowed,        54903, "憑證用戶目前不允許申請憑證")                    \
  X(kOnlinePwNoNotifyType,        54905, nullptr)                                         \
  X(kOnlinePwNoBirthday,          54907, nullptr)                                         \
  X(kRenewStoreNoCn,              55001, "CN 為空值")                                     \
  X(kRenewStoreNotAllowed,        55003, "憑證用戶目前不允許更新憑證")                    \
  X(kRenewStoreNoCurrentCert,     55005, "取得舊憑證資訊失敗")                            \
  X(kVerifyOnlinePwMissing,       55007, nullptr)                                         \
  X(kVerifyPwBagMissing,          55009, nullptr)                                         \
  X(kVerifyPwBagReplyUnreadable,  55011, nullptr)                                         \
  X(kVerifyPwBagRefused,          55013, nullptr)                                         \
  X(kApplyCertRefused,            55015, "憑證申請失敗")                                  \
  X(kApplyCertCallFailed,         55101, "向伺服器傳送憑證申請請求失敗")                  \
  X(kCertReplyUnreadable,         55103, "解析伺服器端回傳資訊失敗")                      \
  X(kApplyCertNoId,               55107, "無法取得憑證申請 ID")                           \
  X(kApplyCertNoCert,             55109, "伺服器端回傳憑證為空值")                        \
  X(kRenewCertSendFailed,         55201, "向伺服器傳送憑證更新請求失敗")                  \
  X(kRenewCertRefused,            55203, "更新憑證失敗")                                  \
  X(kRenewCertNoCert,             55205, "伺服器端回傳憑證為空值")                        \
  X(kRenewCertNoId,               55207, "無法取得憑證申請 ID")                           \
  X(kDlCertCallFailed,            55301, "向伺服器傳送憑證下載請求失敗")                  \
  X(kDlCertRefused,               55302, "下載憑證失敗")                                  \
  X(kDlCertNoId,                  55303, "取得憑證申請 ID 失敗")                          \
  X(kDlCertNoCert,                55304, "伺服器端回傳憑證為空值")                        \
  X(kDownloadNotOffered,          55401, "此版本伺服器無憑證下載功能")                    \
  X(kDownloadNotAllowed,          55402, "憑證用戶目前不允許下載憑證")                    \
  X(kDownloadStoreNotOffered,     55501, "此版本伺服器無憑證下載功能")                    \
  X(kDownloadStoreNotAllowed,     55502, "憑證用戶目前不允許下載憑證")                    \
  X(kMobileUploadCancelled,       55601, "憑證用戶取消憑證上傳行動裝置") /* not produced */ \
  X(kBrowserChoiceCancelled,      55701, "憑證用戶取消選擇憑證安裝目的瀏覽器") /* not produced */ \
  X(kBrowserPasswordCancelled,    55703, "憑證用戶取消設定瀏覽器憑證保護密碼") /* not produced */ \
  X(kNoSupportedBrowser,          55705, "用戶端尚未安裝任何符合系統版本要求的瀏覽器")    \
  X(kNoCertToRemove,              55707, "無有效憑證不需進行瀏覽器憑證移除")              \
  X(kRevokeCallFailed,            56001, nullptr)                                         \
  X(kRevokeReplyUnreadable,       56003, nullptr)                                         \
  X(kVerifyP7NoSign,              57001, nullptr)                                         \
  X(kVerifyP7ReplyUnreadable,     57003, nullptr)                                         \
  X(kVerifyP7Refused,             57005, nullptr)                                         \
  X(kApplyDeclined,               59101, "您不同意憑證申請約定條款, 無法為您申請憑證")    \
  X(kRenewDeclined,               59201, "您不同意憑證更新約定條款, 無法為您更新憑證")    \
  X(kDownloadFailed,              59901, "檔案下載失敗")                                  \
  X(kRegSetRefused,               59903, "取回環境設定機碼值失敗")                        \
  X(kRegSetReplyUnreadable,       59905, nullptr)                                         \
  X(kHttpFailed,                  59999, "HTTP 連線失敗")
// clang-format on
