#include "base/base64.h"
#include "proxy/transport.h"
#include "test_client.h"

#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "devproxy/form.h"
#include "platform/text_codec.h"

namespace quil::devproxy::testing {
namespace {

Fields Children(const tinyxml2::XMLElement* e) {
  Fields out;
  for (auto* c = e->FirstChildElement(); c; c = c->NextSiblingElement())
    out[c->Name()] = platform::ToWide(c->GetText() ? c->GetText() : "");
  return out;
}

void ReadDocument(Reply* r) {
  tinyxml2::XMLDocument doc;
  if (doc.Parse(r->text.c_str()) != tinyxml2::XML_SUCCESS) return;
  auto* root = doc.RootElement();
  if (!root) return;
  r->parsed = true;
  r->fields = Children(root);
  for (const char* block : {"certInfo", "pcCert"})
    if (auto* b = root->FirstChildElement(block)) r->blocks[block] = Children(b);
  if (auto* m = root->FirstChildElement("mobileCert"))
    for (auto* c = m->FirstChildElement("cert"); c; c = c->NextSiblingElement("cert"))
      r->mobile.push_back(Children(c));
  for (auto* c = root->FirstChildElement(); c; c = c->NextSiblingElement())
    if (c->FirstChildElement("regPath")) r->items.push_back(Children(c));
}

template <typename F>
httplib::Result Exchange(const std::string& host, int port, bool https, const std::string& ca, F f) {
  if (https) {
    httplib::SSLClient cli(host, port);
    cli.set_ca_cert_path(ca.c_str());
    cli.enable_server_certificate_verification(true);
    cli.set_read_timeout(30);
    return f(cli);
  }
  httplib::Client cli(host, port);
  cli.set_read_timeout(30);
  return f(cli);
}

struct X509Free { void operator()(X509* x) const { X509_free(x); } };
struct Pkcs7Free { void operator()(PKCS7* p) const { PKCS7_free(p); } };

}  // namespace

const std::string& Reply::operator[](const std::string& name) const {
  static const std::string kEmpty;
  auto it = fields.find(name);
  return it == fields.end() ? kEmpty : it->second;
}

TestClient::TestClient(const DevProxy& proxy)
    : host_("127.0.0.1"),
      port_(proxy.port()),
      https_(proxy.origin().rfind("https", 0) == 0),
      ca_path_(proxy.ca_bundle_path()),
      public_key_pem_(proxy.public_key_pem()) {}

Reply TestClient::Post(const std::string& path, const std::string& body,
                       const std::string* aes_key) const {
  Reply r;
  const char* type = "application/x-www-form-urlencoded; charset: UTF-8";
  auto res = Exchange(host_, port_, https_, ca_path_,
                      [&](auto& cli) { return cli.Post(path.c_str(), body, type); });
  if (!res) return r;
  r.status = res->status;
  r.body = res->body;
  if (r.status != 200 || r.body.empty()) return r;
  if (aes_key) {
    r.text = AesDecryptBase64(*aes_key, r.body).value_or("");
  } else {
    PKey pub = LoadPublicKeyPem(public_key_pem_);
    r.text = OpenRsaReply(pub.get(), r.body);
  }
  size_t zero = r.text.find('\0');
  if (zero != std::string::npos) r.text.resize(zero);
  ReadDocument(&r);
  return r;
}

Reply TestClient::Rsa(const std::string& action, const Fields& fields) const {
  PKey pub = LoadPublicKeyPem(public_key_pem_);
  Fields sealed;
  for (const auto& [name, value] : fields) {
    if (value.empty()) continue;
    sealed[name] = SealRsaField(pub.get(), platform::ToNarrow(value)).value_or("");
  }
  return Post("/PELIProxy/proxy/" + action, proxy::formEncode(sealed), nullptr);
}

Reply TestClient::Aes(const std::string& action, const Fields& fields, const std::string& key) const {
  Fields sealed;
  for (const auto& [name, value] : fields)
    sealed[name] = value.empty() ? "" : AesEncryptBase64(key, platform::ToNarrow(value)).value_or("");
  return Post("/PELIProxy/proxy/" + action, proxy::formEncode(sealed), &key);
}

Reply TestClient::Raw(const std::string& path, const std::string& body) const {
  Reply r;
  auto res = Exchange(host_, port_, https_, ca_path_, [&](auto& cli) {
    return cli.Post(path.c_str(), body, "application/x-www-form-urlencoded; charset: UTF-8");
  });
  if (!res) return r;
  r.status = res->status;
  r.body = res->body;
  return r;
}

Reply TestClient::Get(const std::string& path) const {
  Reply r;
  auto res = Exchange(host_, port_, https_, ca_path_, [&](auto& cli) { return cli.Get(path.c_str()); });
  if (!res) return r;
  r.status = res->status;
  r.body = res->body;
  return r;
}

std::string TestClient::Login(const std::string& aid, const std::string& pw, Reply* reply) const {
  Reply r = Rsa("doLogin", {{"aid", aid}, {"pw", pw}, {"clientIP", "127.0.0.1"}});
  std::string key = r["rtnCode"] == "0" ? r["aeskey"] : "";
  if (reply) *reply = std::move(r);
  return key;
}

Request MakeRequest(const std::string& cn, int bits, bool bmp_cn) {
  Request out;
  out.key = GenerateRsaKey(bits);
  X509_REQ* req = X509_REQ_new();
  X509_REQ_set_version(req, 0);
  X509_NAME* name = X509_REQ_get_subject_name(req);
  if (bmp_cn) {
    std::string utf16be;
    for (char c : cn) utf16be += std::string(1, '\0') + c;
    X509_NAME_add_entry_by_NID(name, NID_commonName, V_ASN1_BMPSTRING,
                               reinterpret_cast<const unsigned char*>(utf16be.data()),
                               static_cast<int>(utf16be.size()), -1, 0);
  } else {
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
  }
  X509_REQ_set_pubkey(req, out.key.get());
  X509_REQ_sign(req, out.key.get(), EVP_sha1());
  unsigned char* der = nullptr;
  int n = i2d_X509_REQ(req, &der);
  out.csr = base64Encode(std::string(reinterpret_cast<char*>(der), n));
  OPENSSL_free(der);
  X509_REQ_free(req);
  return out;
}

std::string SignText(EVP_PKEY* key, const std::string& cert_der, const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(cert_der.data());
  std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(cert_der.size())));
  PKCS7* p7 = PKCS7_new();
  PKCS7_set_type(p7, NID_pkcs7_signed);
  PKCS7_add_signature(p7, cert.get(), key, EVP_sha1());
  PKCS7_add_certificate(p7, cert.get());
  PKCS7_content_new(p7, NID_pkcs7_data);
  BIO* bio = PKCS7_dataInit(p7, nullptr);
  BIO_write(bio, text.data(), static_cast<int>(text.size()));
  (void)BIO_flush(bio);
  PKCS7_dataFinal(p7, bio);
  BIO_free_all(bio);
  unsigned char* der = nullptr;
  int n = i2d_PKCS7(p7, &der);
  std::string out = base64Encode(std::string(reinterpret_cast<char*>(der), n));
  OPENSSL_free(der);
  PKCS7_free(p7);
  return out;
}

std::string DerToPem(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, cert.get());
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string pem(data, n);
  BIO_free(bio);
  return pem;
}

std::string UserCertDer(const std::string& cert_base64, std::vector<std::string>* pems) {
  std::string der = base64Decode(cert_base64);
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  std::unique_ptr<PKCS7, Pkcs7Free> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
  if (!p7) {
    if (pems) pems->push_back(DerToPem(der));
    return der;
  }
  STACK_OF(X509)* certs = p7->d.sign->cert;
  std::string last;
  for (int i = 0; i < sk_X509_num(certs); ++i) {
    unsigned char* out = nullptr;
    int n = i2d_X509(sk_X509_value(certs, i), &out);
    last.assign(reinterpret_cast<char*>(out), n);
    OPENSSL_free(out);
    if (pems) pems->push_back(DerToPem(last));
  }
  return last;
}

std::string OpenSslVerify(const DevProxy& proxy, const std::string& cert_base64) {
  std::vector<std::string> pems;
  std::string user = UserCertDer(cert_base64, &pems);
  std::string dir = FreshDataDir("verify");
  std::ofstream(dir + "/user.pem") << DerToPem(user);
  std::ofstream chain(dir + "/chain.pem");
  for (size_t i = 0; i + 1 < pems.size(); ++i) chain << pems[i];
  if (pems.size() <= 1) {  // a bare certificate: the proxy's issuing CAs
    std::ifstream bundle(proxy.ca_bundle_path());
    chain << bundle.rdbuf();
  }
  chain.close();
  std::string cmd = "openssl verify -CAfile '" + proxy.root_cert_path() + "' -untrusted '" + dir +
                    "/chain.pem' '" + dir + "/user.pem' 2>&1";
  std::string out;
  if (FILE* f = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (fgets(buf, sizeof buf, f)) out += buf;
    pclose(f);
  }
  return out;
}

std::string CertCn(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (!cert) return {};
  char buf[256] = "";
  X509_NAME_get_text_by_NID(X509_get_subject_name(cert.get()), NID_commonName, buf, sizeof buf);
  return buf;
}

std::string CertPublicKeyPem(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  return cert ? PublicKeyPem(X509_get0_pubkey(cert.get())) : std::string();
}

bool SerialHasLeadingZero(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  const ASN1_INTEGER* serial = X509_get0_serialNumber(cert.get());
  unsigned char* out = nullptr;
  int n = i2d_ASN1_INTEGER(const_cast<ASN1_INTEGER*>(serial), &out);
  // tag, length, then the content; a positive number with its top bit set
  // starts with 00.
  bool zero = n > 3 && out[2] == 0;
  OPENSSL_free(out);
  return zero;
}

namespace {
std::mutex g_dirs_mu;
std::vector<std::string>* g_dirs = nullptr;

// Test folders go when the test program ends.
void RemoveDataDirs() {
  std::lock_guard<std::mutex> lock(g_dirs_mu);
  std::error_code ec;
  for (const auto& dir : *g_dirs) std::filesystem::remove_all(dir, ec);
}
}  // namespace

std::string FreshDataDir(const std::string& tag) {
  static std::atomic<int> counter{0};
  {
    std::lock_guard<std::mutex> lock(g_dirs_mu);
    if (!g_dirs) {
      g_dirs = new std::vector<std::string>;
      atexit(RemoveDataDirs);
    }
  }
  const char* tmp = getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/quil-devproxy-test-" +
                    std::to_string(getpid()) + "-" + tag + "-" + std::to_string(counter++);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::lock_guard<std::mutex> lock(g_dirs_mu);
  g_dirs->push_back(dir);
  return dir;
}

Options TestOptions(const std::string& tag) {
  Options o;
  o.data_dir = FreshDataDir(tag);
  o.key_set = quil::testing::TestKeySet();
  return o;
}

DevProxy& SharedProxy() {
  static DevProxy* proxy = [] {
    Options o = TestOptions("shared");
    std::string error;
    auto p = DevProxy::Start(o, &error);
    if (!p) {
      fprintf(stderr, "cannot start the demo proxy: %s\n", error.c_str());
      abort();
    }
    return p.release();
  }();
  return *proxy;
}

CustomerSeed UniqueCustomer(DevProxy& proxy, const std::string& password) {
  static std::atomic<int> counter{0};
  static std::mutex mu;
  int n = ++counter;
  CustomerSeed s;
  char idno[16], account[16];
  snprintf(idno, sizeof idno, "T%09d", 100000000 + n + getpid() % 1000 * 0);
  snprintf(account, sizeof account, "%07d", 1000000 + n);
  s.idno = idno;
  s.branch = "9Z00";
  s.account = account;
  s.aid = s.branch + s.account;
  s.password = password;
  s.name = "測試客戶";
  s.email = std::string("t") + std::to_string(n) + "@example.com";
  s.mobile = "0987654321";
  s.birthday = "19900102";
  s.apply_pw_bag = "A";
  s.sheet_codes = {"QW12ER", "TY34UI"};
  std::lock_guard<std::mutex> lock(mu);
  std::string error;
  if (!proxy.AddCustomer(s, &error)) {
    fprintf(stderr, "cannot add a customer: %s\n", error.c_str());
    abort();
  }
  return s;
}

}  // namespace quil::devproxy::testing
