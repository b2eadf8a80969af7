#pragma once
// Helpers of the tests of the certificate's life after its application:
// a customer who holds a certificate, the renewal's and download's texts,
// and checks made with the openssl command line.
#include <string>
#include <vector>

#include "demo_bench.h"
#include "workflow_test_util.h"

namespace quil::testing {

namespace renew {
inline constexpr char kStart[] = "開始憑證更新 ...";
inline constexpr char kRequest[] = "產生憑證請求資訊 ...";
inline constexpr char kSign[] = "執行身分確認簽章程序 ...";
inline constexpr char kSend[] = "送出憑證更新資訊並等待回覆 ...";
inline constexpr char kSave[] = "儲存憑證檔 ...";
inline constexpr char kReport[] = "回報憑證安裝狀態 ...";
inline constexpr char kImport[] = "正在匯入憑證 ....";
inline constexpr char kFind[] = "準備載入將屆期憑證 ...";
inline constexpr char kStoreSign[] = "產生簽章值 ...";
inline constexpr char kInstall[] = "正在將憑證匯入瀏覽器憑證儲存區 ...";
inline constexpr char kBackup[] = "正在備份憑證 ...";
inline constexpr char kDone[] = "憑證更新完成";
inline constexpr char kFailed[] = "憑證更新失敗";
}  // namespace renew

// The reply of a plain-format method for `code`, with its error text.
std::string PlainReplyFor(int code);

// The customer applies (crtNewCert2) and saves the certificate to `path`
// with `password` (savePfx2); its serial. Fails the test when a step fails.
std::string HoldCertificateInFile(DemoSession& s, const std::string& path, const std::string& password);
// The customer applies with the Windows store ("store" profile); its serial.
std::string HoldCertificateInStore(DemoSession& s);
// The customer's certificate now ends in 10 days: renewal is offered.
void NearItsEnd(DemoSession& s);
// From now on the proxy gives no common name for the customer.
void NoCommonName(DemoSession& s);

// The progress lines without the final report, after checking that the
// final report reads `closing`.
Lines StepsBeforeFinal(DemoSession& s, const std::string& closing);

// An openssl command line (arguments as one string); its exit status and
// output.
int OpenSsl(const std::string& args, std::string* output = nullptr);
// True when the file opens with `password` under openssl's legacy provider.
bool Pkcs12Opens(const std::string& path, const std::string& password);
// The user certificate of a PKCS#12 file as PEM ("" when it does not open).
std::string Pkcs12CertPem(const std::string& path, const std::string& password);
// "OK" when the PEM certificate verifies against the demo authority's root
// and issuing certificate, else openssl's complaint.
std::string VerifyWithDemoAuthority(DemoSession& s, const std::string& cert_pem);
// The public key (PEM) of a PKCS#12 file's private key, and of a PEM key file.
std::string Pkcs12PublicKey(const std::string& path, const std::string& password);
std::string KeyFilePublicKey(const std::string& key_file);
// The key files of the key folder, oldest first, with their folder.
std::vector<std::string> KeyFilePaths(DemoSession& s);

}  // namespace quil::testing
