#include "fake_proxy.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "base/pause.h"
#include "base/settings.h"
#include "proxy/actions.h"
#include "proxy/envelope.h"
#include "proxy/settings_loader.h"
#include "ui/progress_window.h"

namespace quil::testing {
namespace {

std::string TempFileWith(const std::string& stem, const std::string& bytes) {
  std::string tmpl = std::filesystem::temp_directory_path().string() + "/" + stem + "-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) throw std::runtime_error("mkstemp");
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) throw std::runtime_error("write");
  close(fd);
  return name.data();
}

std::string PemOf(X509* cert) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, cert);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string out(data, static_cast<size_t>(n));
  BIO_free(bio);
  return out;
}

void AddExt(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

X509* MakeCert(EVP_PKEY* subject_key, const char* cn, X509* issuer, EVP_PKEY* issuer_key, long serial,
               bool ca) {
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 30);
  X509_set_pubkey(cert, subject_key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
  X509* iss = issuer ? issuer : cert;
  if (ca) {
    AddExt(cert, iss, NID_basic_constraints, "critical,CA:TRUE");
    AddExt(cert, iss, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExt(cert, iss, NID_subject_key_identifier, "hash");
  } else {
    AddExt(cert, iss, NID_basic_constraints, "CA:FALSE");
    AddExt(cert, iss, NID_ext_key_usage, "serverAuth");
    AddExt(cert, iss, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    AddExt(cert, iss, NID_authority_key_identifier, "keyid");
  }
  X509_sign(cert, issuer_key, EVP_sha256());
  return cert;
}

const TestRsaKey& ProxyKey() {
  static const TestRsaKey key(TestKeyPem("fake-proxy"));
  return key;
}

const TestRsaKey& StrangerKey() {
  static const TestRsaKey key(TestKeyPem("stranger"));
  return key;
}

}  // namespace

TestRsaKey::TestRsaKey(const std::string& private_pem) {
  BIO* bio = BIO_new_mem_buf(private_pem.data(), static_cast<int>(private_pem.size()));
  pkey_.reset(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
}
TestRsaKey::~TestRsaKey() = default;

std::string TestRsaKey::PublicPem() const {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PUBKEY(bio, pkey_.get());
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string out(data, static_cast<size_t>(n));
  BIO_free(bio);
  return out;
}

std::string TestRsaKey::PrivateEncrypt(const std::string& block) const {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey_.get(), nullptr);
  EVP_PKEY_sign_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  size_t n = 0;
  const auto* in = reinterpret_cast<const unsigned char*>(block.data());
  EVP_PKEY_sign(ctx, nullptr, &n, in, block.size());
  std::string out(n, '\0');
  if (EVP_PKEY_sign(ctx, reinterpret_cast<unsigned char*>(out.data()), &n, in, block.size()) != 1) out.clear();
  else out.resize(n);
  EVP_PKEY_CTX_free(ctx);
  return out;
}

std::string TestRsaKey::PrivateDecrypt(const std::string& cipher) const {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey_.get(), nullptr);
  EVP_PKEY_decrypt_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  std::string out(512, '\0');
  size_t n = out.size();
  if (EVP_PKEY_decrypt(ctx, reinterpret_cast<unsigned char*>(out.data()), &n,
                       reinterpret_cast<const unsigned char*>(cipher.data()), cipher.size()) != 1)
    out.clear();
  else
    out.resize(n);
  EVP_PKEY_CTX_free(ctx);
  return out;
}

TestPki MakeTestPki(const std::string& folder) {
  EVP_PKEY* ca_key = EVP_EC_gen("P-256");
  EVP_PKEY* server_key = EVP_EC_gen("P-256");
  X509* ca = MakeCert(ca_key, "QUIL Test Authority", nullptr, ca_key, 1, true);
  X509* server = MakeCert(server_key, "127.0.0.1", ca, ca_key, 2, false);
  TestPki pki;
  pki.ca_pem = PemOf(ca);
  std::filesystem::create_directories(folder);
  pki.ca_file = folder + "/ca.pem";
  pki.cert_file = folder + "/server.pem";
  pki.key_file = folder + "/server.key";
  WriteFileForTest(pki.ca_file, pki.ca_pem);
  WriteFileForTest(pki.cert_file, PemOf(server));
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, server_key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  WriteFileForTest(pki.key_file, std::string(data, static_cast<size_t>(n)));
  BIO_free(bio);
  X509_free(server);
  X509_free(ca);
  EVP_PKEY_free(server_key);
  EVP_PKEY_free(ca_key);
  return pki;
}

std::string OpenSslBase64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string OpenSslUnbase64(const std::string& text) {
  if (text.empty()) return {};
  std::string out(text.size(), '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (n < 0) return {};
  size_t pad = 0;
  if (text.size() >= 1 && text.back() == '=') ++pad;
  if (text.size() >= 2 && text[text.size() - 2] == '=') ++pad;
  out.resize(static_cast<size_t>(n) - pad);
  return out;
}

static std::string AesRun(const std::string& key16, const std::string& in, int enc) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, reinterpret_cast<const unsigned char*>(key16.data()),
                    reinterpret_cast<const unsigned char*>("7302518946071835"), enc);
  std::string out(in.size() + 32, '\0');
  int a = 0, b = 0;
  bool ok = EVP_CipherUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &a,
                             reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size())) == 1 &&
            EVP_CipherFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + a, &b) == 1;
  EVP_CIPHER_CTX_free(ctx);
  if (!ok) return "<undecryptable>";
  out.resize(static_cast<size_t>(a + b));
  return out;
}

std::string AesEncrypt(const std::string& key16, const std::string& plain) { return AesRun(key16, plain, 1); }
std::string AesDecrypt(const std::string& key16, const std::string& cipher) { return AesRun(key16, cipher, 0); }

static std::vector<std::pair<std::string, std::string>> FormPairs(const std::string& body) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t start = 0;
  while (start < body.size()) {
    size_t amp = body.find('&', start);
    if (amp == std::string::npos) amp = body.size();
    std::string pair = body.substr(start, amp - start);
    size_t eq = pair.find('=');
    std::string value = eq == std::string::npos ? "" : pair.substr(eq + 1);
    out.emplace_back(pair.substr(0, eq), httplib::detail::decode_url(value, true));
    start = amp + 1;
  }
  return out;
}

ScriptedReply Xml(const std::string& xml) {
  ScriptedReply r;
  r.xml = xml;
  return r;
}

ScriptedReply Raw(int status, const std::string& body) {
  ScriptedReply r;
  r.status = status;
  r.body = body;
  r.raw = true;
  return r;
}

bool FakeProxy::IsRsaAction(const std::string& action) {
  static const std::set<std::string> kRsa = {"getSysCfg", "checkVersion", "doLogin", "qryBranch",
                                             "qryBranchAll", "writeLog2", "getRegSet"};
  return kRsa.count(action) > 0;
}

FakeProxy::FakeProxy(const TestPki* pki) : tls_(pki != nullptr) {
  key_file_ = TempFileWith("proxy-pub", ProxyKey().PublicPem());
  if (pki) {
    server_ = std::make_unique<httplib::SSLServer>(pki->cert_file.c_str(), pki->key_file.c_str());
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    int status = 404;
    std::string out;
    Handle(req.method, req.path, req.get_header_value("Content-Type"), req.body, &status, &out);
    res.status = status;
    if (!out.empty()) res.set_content(out, "text/plain");
  };
  server_->Get(".*", handler);
  server_->Post(".*", handler);
  port_ = server_->bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() only works on a running server: wait for the loop to start.
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeProxy::~FakeProxy() {
  server_->stop();
  thread_.join();
  std::filesystem::remove(key_file_);
}

std::string FakeProxy::origin() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

void FakeProxy::On(const std::string& action, ScriptedReply reply) {
  On(action, [reply](const SeenRequest&) { return reply; });
}

void FakeProxy::On(const std::string& action, std::function<ScriptedReply(const SeenRequest&)> fn) {
  std::lock_guard<std::mutex> lock(mu_);
  handlers_[action] = std::move(fn);
}

std::vector<SeenRequest> FakeProxy::Requests(const std::string& action) const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<SeenRequest> out;
  for (const auto& [a, r] : seen_)
    if (a == action) out.push_back(r);
  return out;
}

const TestRsaKey& FakeProxy::key() const { return ProxyKey(); }

std::string FakeProxy::Seal(const std::string& action, const ScriptedReply& reply) const {
  if (IsRsaAction(action)) {
    std::string blocks;
    int index = 0;
    for (size_t at = 0; at < reply.xml.size(); at += 245, ++index) {
      const TestRsaKey& signer = index == reply.bad_rsa_block ? StrangerKey() : ProxyKey();
      blocks += signer.PrivateEncrypt(reply.xml.substr(at, 245));
    }
    return OpenSslBase64(blocks);
  }
  return OpenSslBase64(AesEncrypt(session_key_.substr(0, 16), reply.xml));
}

void FakeProxy::Handle(const std::string& method, const std::string& path, const std::string& content_type,
                       const std::string& body, int* status, std::string* out) {
  static const std::string kPrefix = "/PELIProxy/proxy/";
  std::string action = path.compare(0, kPrefix.size(), kPrefix) == 0 ? path.substr(kPrefix.size()) : path;
  SeenRequest seen;
  seen.method = method;
  seen.path = path;
  seen.content_type = content_type;
  seen.body = body;
  for (auto& [name, value] : FormPairs(body)) {
    seen.field_order.push_back(name);
    seen.sealed[name] = value;
    if (value.empty()) {
      seen.fields[name] = "";
    } else if (IsRsaAction(action)) {
      seen.fields[name] = ProxyKey().PrivateDecrypt(OpenSslUnbase64(value));
    } else {
      seen.fields[name] = AesDecrypt(session_key_.substr(0, 16), OpenSslUnbase64(value));
    }
  }
  std::function<ScriptedReply(const SeenRequest&)> fn;
  {
    std::lock_guard<std::mutex> lock(mu_);
    seen_.emplace_back(action, seen);
    auto it = handlers_.find(action);
    if (it != handlers_.end()) fn = it->second;
  }
  ScriptedReply reply;
  if (fn) {
    reply = fn(seen);
  } else if (action == "getSysCfg") {
    reply = Xml("<r><rtnCode>0</rtnCode></r>");
  } else {
    reply = Raw(404, "");
  }
  *status = reply.status;
  *out = reply.raw ? reply.body : Seal(action, reply);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  const char* old = getenv(name);
  had_ = old != nullptr;
  if (old) old_ = old;
  setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had_) setenv(name_.c_str(), old_.c_str(), 1);
  else unsetenv(name_.c_str());
}

ProxyTestEnv::ProxyTestEnv(const TestPki* pki) {
  proxy_ = std::make_unique<FakeProxy>(pki);
  const std::pair<const char*, std::string> vars[] = {
      {"QUIL_PROXY_URL", proxy_->base_url()},
      {"QUIL_PROXY_PUBKEY", proxy_->public_key_file()},
      {"QUIL_PROXY_CA", pki ? pki->ca_file : std::string()},
      {"QUIL_TLS_INSECURE", "0"},
      {"QUIL_BRIDGE_URL", ""},
      {"QUIL_IP_SERVICES", ""},
  };
  for (const auto& [name, value] : vars) {
    const char* old = getenv(name);
    saved_env_.emplace_back(name, old ? old : "\x01");
    setenv(name, value.c_str(), 1);
  }
  proxy::InstallSettingsLoader();
  ResetSettingsForTesting();
  proxy::SetSessionKey("");
  ui::ResetProgressWindowForTesting();
  SetPauseForTesting([this](Milliseconds pause) { pauses_.push_back(pause); });
}

ProxyTestEnv::~ProxyTestEnv() {
  SetPauseForTesting([](Milliseconds) {});  // later tests of the program do not wait either
  proxy_.reset();
  ResetSettingsForTesting();
  proxy::SetSessionKey("");
  ui::ResetProgressWindowForTesting();
  for (const auto& [name, value] : saved_env_) {
    if (value == "\x01") unsetenv(name.c_str());
    else setenv(name.c_str(), value.c_str(), 1);
  }
}

void ProxyTestEnv::UseSessionKey(const std::string& key) {
  proxy_->set_session_key(key);
  proxy::SetSessionKey(key);
}

RawServer::RawServer(std::function<void(int socket)> serve) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || listen(listener_, 8) != 0)
    throw std::runtime_error("raw test server cannot listen");
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this, serve = std::move(serve)] {
    for (;;) {
      int c = accept(listener_, nullptr, nullptr);
      if (c < 0) return;
      serve(c);
      close(c);
    }
  });
}

RawServer::~RawServer() {
  shutdown(listener_, SHUT_RDWR);  // wakes an accept still waiting
  thread_.join();
  close(listener_);
}

std::string RawServer::origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

}  // namespace quil::testing
