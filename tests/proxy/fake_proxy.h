#pragma once
// The proxy's side of the envelopes, written independently of the client
// with OpenSSL directly, served by a loopback httplib server. Tests script
// one reply per action and read back what the client sent.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/openssl_ptr.h"
#include "base/pause.h"
#include "support/test_env.h"
#include "ui/scripted_ui.h"

namespace httplib {
class Server;
}

namespace quil::testing {

// An RSA key pair of the build's test keys (TestKeyPem).
class TestRsaKey {
 public:
  explicit TestRsaKey(const std::string& private_pem);
  ~TestRsaKey();
  std::string PublicPem() const;
  // Private-key encryption with type 1 padding (what the proxy signs its
  // reply blocks with); at most size-11 bytes.
  std::string PrivateEncrypt(const std::string& block) const;
  // Opens a PKCS#1 v1.5 block sealed with the public key; "" on failure.
  std::string PrivateDecrypt(const std::string& cipher) const;

 private:
  ossl::Ptr<EVP_PKEY> pkey_;
};

// A self-made authority and a server certificate for 127.0.0.1.
struct TestPki {
  std::string ca_pem;      // the authority's certificate
  std::string cert_file;   // server certificate (PEM file)
  std::string key_file;    // server key (PEM file)
  std::string ca_file;     // the authority's certificate (PEM file)
};
TestPki MakeTestPki(const std::string& folder);

std::string OpenSslBase64(const std::string& bytes);
std::string OpenSslUnbase64(const std::string& text);
std::string AesEncrypt(const std::string& key16, const std::string& plain);
std::string AesDecrypt(const std::string& key16, const std::string& cipher);

struct SeenRequest {
  std::string method;
  std::string path;
  std::string content_type;
  std::string body;
  std::vector<std::string> field_order;        // names as they appear
  std::map<std::string, std::string> sealed;   // decoded form values
  std::map<std::string, std::string> fields;   // opened values
};

struct ScriptedReply {
  int status = 200;
  std::string body;       // sent as it is when raw
  bool raw = false;
  std::string xml;        // sealed with the action's envelope otherwise
  int bad_rsa_block = -1; // this RSA block is signed with a stranger key
};

ScriptedReply Xml(const std::string& xml);
ScriptedReply Raw(int status, const std::string& body);

// A loopback server playing the proxy (and any other page) on http or,
// with a PKI, https.
class FakeProxy {
 public:
  explicit FakeProxy(const TestPki* pki = nullptr);
  ~FakeProxy();

  std::string origin() const;
  std::string base_url() const { return origin() + "/PELIProxy/proxy/"; }
  int port() const { return port_; }
  const TestRsaKey& key() const;
  std::string public_key_file() const { return key_file_; }

  // The session key the server seals AES replies with and opens fields with.
  void set_session_key(const std::string& key) { session_key_ = key; }

  // Replies for an action (or for any other path, given with its leading
  // "/"); a function sees the request first.
  void On(const std::string& action, ScriptedReply reply);
  void On(const std::string& action, std::function<ScriptedReply(const SeenRequest&)> fn);

  std::vector<SeenRequest> Requests(const std::string& action) const;
  int Count(const std::string& action) const { return static_cast<int>(Requests(action).size()); }

  static bool IsRsaAction(const std::string& action);

 private:
  void Handle(const std::string& method, const std::string& path, const std::string& content_type,
              const std::string& body, int* status, std::string* out);
  std::string Seal(const std::string& action, const ScriptedReply& reply) const;

  std::string key_file_;
  std::string session_key_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  bool tls_ = false;
  mutable std::mutex mu_;
  std::map<std::string, std::function<ScriptedReply(const SeenRequest&)>> handlers_;
  std::vector<std::pair<std::string, SeenRequest>> seen_;
};

// Everything a proxy test needs: a test home, a scripted UI, a fake proxy
// the QUIL_* variables point at, pauses recorded instead of waited for,
// empty settings and session key.
class ProxyTestEnv {
 public:
  explicit ProxyTestEnv(const TestPki* pki = nullptr);
  ~ProxyTestEnv();
  FakeProxy& proxy() { return *proxy_; }
  ui::ScriptedUi& ui() { return ui_.get(); }
  const std::string& home() const { return home_.path(); }
  // Logs in at the fake proxy's level: sets the session key on both sides.
  void UseSessionKey(const std::string& key);
  // The pauses asked for (base/pause.h), in order.
  const std::vector<Milliseconds>& pauses() const { return pauses_; }

 private:
  ScopedTestHome home_;
  ui::ScopedScriptedUi ui_;
  std::vector<std::pair<std::string, std::string>> saved_env_;
  std::unique_ptr<FakeProxy> proxy_;
  std::vector<Milliseconds> pauses_;
};

// A raw TCP server on 127.0.0.1 (port 0) for answers an HTTP library would
// not send. `serve` runs on its own thread with each connection in turn,
// which is closed after it returns. The destructor stops accepting and
// waits for `serve`.
class RawServer {
 public:
  explicit RawServer(std::function<void(int socket)> serve);
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  // "http://127.0.0.1:<port>"
  std::string origin() const;

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// Sets an environment variable for the scope, restoring the old value.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();

 private:
  std::string name_;
  std::string old_;
  bool had_;
};

}  // namespace quil::testing
