#pragma once
// A small client of the proxy protocol for the demo proxy's own tests:
// seals fields with either envelope, posts them over HTTPS (verifying the
// proxy's certificate with its CA bundle) and reads the XML reply.
#include <atomic>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devproxy/crypto.h"
#include "devproxy/devproxy.h"
#include "support/test_env.h"

namespace quil::devproxy::testing {

using Fields = std::map<std::string, std::string>;

struct Reply {
  int status = 0;        // HTTP status; 0 when the exchange failed
  std::string body;      // raw body
  std::string text;      // unsealed reply text (code page 950)
  bool parsed = false;   // well-formed XML with a root
  Fields fields;         // root children (UTF-8), last one wins
  std::map<std::string, Fields> blocks;  // children of certInfo, pcCert
  std::vector<Fields> mobile;            // mobileCert/cert entries
  std::vector<Fields> items;             // getRegSet items
  const std::string& operator[](const std::string& name) const;
};

class TestClient {
 public:
  explicit TestClient(const DevProxy& proxy);

  // Values are UTF-8; they are sent in code page 950 as the client does.
  Reply Rsa(const std::string& action, const Fields& fields) const;
  Reply Aes(const std::string& action, const Fields& fields, const std::string& key) const;
  // Posts `body` as it is.
  Reply Raw(const std::string& path, const std::string& body) const;
  Reply Get(const std::string& path) const;

  // doLogin; returns the aeskey ("" when refused).
  std::string Login(const std::string& aid, const std::string& pw, Reply* reply = nullptr) const;

  std::string public_key_pem() const { return public_key_pem_; }

 private:
  Reply Post(const std::string& path, const std::string& body, const std::string* aes_key) const;
  std::string host_;
  int port_;
  bool https_;
  std::string ca_path_;
  std::string public_key_pem_;
};

// Key pair and PKCS#10 request for `cn` as the client makes them: RSA
// `bits`, sha1WithRSA, one-line base64 of the DER. The file store writes
// the cn as an ASCII string, the Windows store as a BMPString.
struct Request {
  PKey key;
  std::string csr;
};
Request MakeRequest(const std::string& cn, int bits = 2048, bool bmp_cn = false);
// PKCS#7 signed-data over `text` with `key` and `cert_der` (SHA-1, content
// attached, signer's certificate only), base64.
std::string SignText(EVP_PKEY* key, const std::string& cert_der, const std::string& text);
// The user certificate (last certificate) of the `cert` answer: a PKCS#7
// bundle or a single DER certificate. Also gives every PEM of the bundle.
std::string UserCertDer(const std::string& cert_base64, std::vector<std::string>* pems = nullptr);
std::string DerToPem(const std::string& der);
// Runs `openssl verify` of the answer's user certificate against the
// proxy's root, with the bundle's other certificates as intermediates.
// Returns openssl's output; "OK" in it means success.
std::string OpenSslVerify(const DevProxy& proxy, const std::string& cert_base64);
// The certificate's subject common name.
std::string CertCn(const std::string& der);
// The certificate's public key, PEM.
std::string CertPublicKeyPem(const std::string& der);
// Whether the DER serial has a leading zero byte.
bool SerialHasLeadingZero(const std::string& der);

// A fresh data folder under the test temp folder.
std::string FreshDataDir(const std::string& tag);
// Options for a proxy on a fresh data folder with the build's key set.
Options TestOptions(const std::string& tag);
// A clock for Options::clock that stands still until the test moves it.
class ManualClock {
 public:
  ManualClock() : now_(std::make_shared<std::atomic<std::time_t>>(std::time(nullptr))) {}
  void Advance(int seconds) { *now_ += seconds; }
  std::function<std::time_t()> Function() const {
    return [now = now_] { return now->load(); };
  }

 private:
  std::shared_ptr<std::atomic<std::time_t>> now_;
};

// One proxy shared by the tests of this program; its customers are added
// per test with UniqueCustomer so tests do not disturb each other.
DevProxy& SharedProxy();
CustomerSeed UniqueCustomer(DevProxy& proxy, const std::string& password = "pass1234");

}  // namespace quil::devproxy::testing
