#include "base/client_version.h"
#include "devproxy/devproxy.h"

#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "devproxy/admin.h"
#include "devproxy/cert_authority.h"
#include "devproxy/crypto.h"
#include "devproxy/data_file.h"
#include "devproxy/faults.h"
#include "devproxy/form.h"
#include "devproxy/key_set.h"
#include "devproxy/pages.h"
#include "devproxy/server_thread.h"
#include "devproxy/service.h"
#include "devproxy/store.h"
#include "platform/socket_io.h"
#include "platform/text_codec.h"

namespace quil::devproxy {
namespace {

constexpr size_t kMaxBody = 1 << 20;

// The quil program built beside this proxy: the default client update and
// the program the demo component's installer registers with.
constexpr char kBuiltQuil[] = QUIL_BUILT_PROGRAM;
// The security component built beside it, what the demo component's
// installer installs.
const ComponentFiles kBuiltComponent{QUIL_BUILT_PROGRAM, QUIL_BUILT_SIGNER, QUIL_BUILT_EXTENSION_DIR,
                                     QUIL_BUILT_EXTENSION_XPI};
constexpr char kProxyPath[] = "/PELIProxy/proxy/";

bool SameToken(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace


class DevProxy::Impl {
 public:
  Options options;
  std::string origin;
  std::string admin_token;
  PKey envelope_key;
  std::string public_key_pem;
  std::unique_ptr<CertAuthority> ca;
  std::unique_ptr<Store> store;
  std::unique_ptr<Service> service;
  std::unique_ptr<httplib::Server> server;
  std::unique_ptr<TradingSite> trading;
  std::unique_ptr<ServerThread> thread;
  int port = 0;

  FaultTable faults;

  std::string data(const std::string& name) const { return options.data_dir + "/" + name; }

  // The body is read here rather than by the library, which refuses form
  // bodies above 8 KB; a renewal with its signature comes near that.
  void HandleAction(const httplib::Request& req, httplib::Response& res,
                    const httplib::ContentReader& reader) {
    std::string body;
    bool complete = reader([&](const char* data, size_t n) {
      if (body.size() + n > kMaxBody) return false;
      body.append(data, n);
      return true;
    });
    if (!complete) {
      res.status = 413;
      return;
    }
    std::string action = req.matches[1];
    Envelope envelope = EnvelopeOf(action);
    if (envelope == Envelope::kUnknown) {
      res.status = 404;
      return;
    }
    std::optional<Fault> fault = faults.Take(action);
    if (fault && fault->delay_ms > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(fault->delay_ms));
    if (fault) {
      switch (fault->kind) {
        case Fault::Kind::kHttpStatus:
          res.status = fault->http_status;
          return;
        case Fault::Kind::kEmptyBody:
          res.status = 200;
          return;
        case Fault::Kind::kDropConnection:
          DropAnswer(res);
          return;
        default:
          break;
      }
    }
    auto sealed = ParseForm(body);
    if (!sealed) {
      res.status = 400;
      return;
    }
    Fields opened;
    std::shared_ptr<Session> session;
    std::string undecodable;
    if (envelope == Envelope::kPublicKey) {
      for (const auto& [name, value] : *sealed) {
        if (value.empty()) {
          opened[name];
          continue;
        }
        auto plain = OpenRsaField(envelope_key.get(), value);
        if (!plain) undecodable = name;
        else opened[name] = *plain;
      }
    } else {
      session = service->OpenWithSession(*sealed, &opened);
      if (!session) {
        // Nothing can be sealed for a caller whose key is unknown.
        res.status = 401;
        return;
      }
    }
    const bool lost = fault && fault->kind == Fault::Kind::kReplyLost;
    std::string doc;
    if (fault && fault->kind != Fault::Kind::kNone && !lost) {
      doc = FaultDocument(*fault);
    } else if (!undecodable.empty()) {
      // Field names are plain words; a name that is not is not echoed.
      bool plain = std::all_of(undecodable.begin(), undecodable.end(),
                               [](unsigned char c) { return isalnum(c); });
      doc = "<?xml version=\"1.0\" encoding=\"Big5\"?>\n<result><rtnCode>9001</rtnCode><rtnMsg>"
            "欄位無法解讀: " + (plain ? undecodable : std::string("?")) + "</rtnMsg></result>";
    } else {
      Fields wide;
      for (const auto& [name, value] : opened) wide[name] = platform::ToWide(value);
      doc = service->Run(action, wide, session.get(), req.remote_addr);
    }
    std::string narrow = platform::ToNarrow(doc);
    std::string sealed_reply = envelope == Envelope::kPublicKey
                                   ? SealRsaReply(envelope_key.get(), narrow)
                                   : AesEncryptBase64(session->key, narrow).value_or("");
    // The work is done; only its answer never arrives.
    if (lost) return DropAnswer(res);
    res.set_content(sealed_reply, "text/plain");
  }

  // Announces a body and then closes the connection without it.
  static void DropAnswer(httplib::Response& res) {
    res.set_content_provider(64, "text/plain", [](size_t, size_t, httplib::DataSink&) { return false; });
  }

  bool Authorised(const httplib::Request& req, httplib::Response& res) {
    if (SameToken(req.get_header_value("X-Admin-Token"), admin_token)) return true;
    res.status = 403;
    res.set_content("admin token required\n", "text/plain");
    return false;
  }

  void Admin(const httplib::Request& req, httplib::Response& res) {
    if (!Authorised(req, res)) return;
    if (req.matches[1] == "trading-visits" && req.method == "GET") {
      nlohmann::json out = nlohmann::json::array();
      for (const auto& v : trading->Visits())
        out.push_back({{"time", v.time}, {"accepted", v.accepted}, {"subject", v.subject},
                       {"issuer", v.issuer}, {"serial", v.serial}, {"reason", v.reason}});
      res.set_content(out.dump(), "application/json");
      return;
    }
    if (req.matches[1] == "orders" && req.method == "GET") {
      nlohmann::json out = nlohmann::json::array();
      for (const auto& o : trading->Orders())
        out.push_back({{"time", o.time}, {"accepted", o.accepted}, {"cn", o.cn}, {"serial", o.serial},
                       {"order", o.order}, {"result", o.result}});
      res.set_content(out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
      return;
    }
    HandleAdmin(req, res, service.get(), &faults);
  }
  void Routes();
};


void DevProxy::Impl::Routes() {
  server->set_payload_max_length(kMaxBody);
  server->new_task_queue = [] { return new httplib::ThreadPool(64); };
  server->set_keep_alive_timeout(2);
  // A customer's task is a handful of exchanges; the library's default of
  // five per connection would make a long one connect again halfway.
  server->set_keep_alive_max_count(100);
  server->set_read_timeout(30);
  server->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    res.status = 500;
    res.set_content("", "text/plain");
  });
  server->Post(R"(/PELIProxy/proxy/([A-Za-z0-9]+))",
               [this](const httplib::Request& req, httplib::Response& res,
                      const httplib::ContentReader& reader) { HandleAction(req, res, reader); });
  auto address = [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(req.remote_addr + "\r\n", "text/plain");
  };
  server->Get("/mobile/bridge/bridge.ashx", address);
  server->Get("/ip/1", address);
  server->Get("/ip/2", address);
  auto deploy_template = [this](const httplib::Request& req, httplib::Response& res) {
    if (req.method == "POST" && req.get_param_value("version") != kClientVersion) {
      res.status = 400;
      return;
    }
    res.set_content(DeployTemplatePage(trading->url()), "text/html; charset=utf-8");
  };
  server->Post("/depCert/QUILDepCert.htm", deploy_template);
  server->Get("/depCert/QUILDepCert.htm", deploy_template);
  server->Get(R"(/download/([A-Za-z0-9._-]+))", [this](const httplib::Request& req, httplib::Response& res) {
    std::string name = req.matches[1];
    std::optional<std::string> bytes;
    if (name == "QUILSetup.exe") {
      std::string update = ReadDataFile(options.update_file);
      if (!update.empty()) bytes = std::move(update);
    } else if (name == "MeroCpntSetup.exe") {
      bytes = service->ComponentInstaller(kBuiltComponent);
    } else {
      bytes = DownloadFile(name);
    }
    if (!bytes) {
      res.status = 404;
      return;
    }
    res.set_content(*bytes, "application/octet-stream");
  });
  server->Get("/demo/mailbox", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(MailboxPage(service->Mail()), "text/html; charset=utf-8");
  });
  server->Get(R"(/admin/(.+))",
              [this](const httplib::Request& req, httplib::Response& res) { Admin(req, res); });
  server->Post(R"(/admin/(.+))",
               [this](const httplib::Request& req, httplib::Response& res) { Admin(req, res); });
}

DevProxy::DevProxy(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

DevProxy::~DevProxy() {
  impl_->thread.reset();
}

std::unique_ptr<DevProxy> DevProxy::Start(const Options& options, std::string* error) {
  namespace fs = std::filesystem;
  std::string ignored;
  if (!error) error = &ignored;
  auto impl = std::make_unique<Impl>();
  impl->options = options;
  if (impl->options.update_file.empty()) impl->options.update_file = kBuiltQuil;
  if (options.data_dir.empty()) {
    *error = "no data folder given";
    return nullptr;
  }
  std::error_code ec;
  bool existed = fs::is_directory(options.data_dir);
  fs::create_directories(options.data_dir, ec);
  if (!fs::is_directory(options.data_dir)) {
    *error = "cannot create the data folder " + options.data_dir;
    return nullptr;
  }
  // Private keys live here; a folder the caller already had keeps its mode
  // (the key files themselves are 0600).
  if (!existed) chmod(options.data_dir.c_str(), 0700);
  if (!options.key_set.empty() && !CopyKeySet(options.key_set, options.data_dir, error)) return nullptr;

  // The envelope key pair; QUIL carries the public half.
  std::string key_path = impl->data("envelope.key");
  if (fs::exists(key_path)) impl->envelope_key = LoadPrivateKeyPem(ReadDataFile(key_path));
  if (!impl->envelope_key) {
    impl->envelope_key = GenerateRsaKey(2048);
    if (!impl->envelope_key || !WriteDataFile(key_path, PrivateKeyPem(impl->envelope_key.get()), 0600)) {
      *error = "cannot make the envelope key in " + options.data_dir;
      return nullptr;
    }
  }
  impl->public_key_pem = PublicKeyPem(impl->envelope_key.get());
  if (!WriteDataFile(impl->data("proxy_pubkey.pem"), impl->public_key_pem, 0644)) {
    *error = "cannot write the public key";
    return nullptr;
  }
  impl->ca = CertAuthority::LoadOrCreate(impl->data("ca"), error);
  if (!impl->ca) return nullptr;
  impl->store = Store::Open(impl->data("devproxy.db"), error);
  if (!impl->store) return nullptr;
  if (options.reset && !impl->store->WipeAll()) {
    *error = "cannot reset the database";
    return nullptr;
  }

  if (options.plain_http)
    impl->server = std::make_unique<httplib::Server>();
  else
    impl->server = std::make_unique<httplib::SSLServer>(impl->ca->tls_cert_path().c_str(),
                                                        impl->ca->tls_key_path().c_str());
  if (!impl->server->is_valid()) {
    *error = "cannot load the TLS certificate";
    return nullptr;
  }
  // QUIL keeps its connection open between exchanges and resumes its TLS
  // session when it must connect again, which spares the signature and the
  // certificate; one session ticket per handshake is all it uses (OpenSSL
  // sends two by default).
  if (!options.plain_http)
    SSL_CTX_set_num_tickets(static_cast<httplib::SSLServer*>(impl->server.get())->ssl_context(), 1);
  // An answer leaves in two writes (head, then body; two TLS records over
  // HTTPS); with Nagle's algorithm on, the second waits for the client's
  // delayed acknowledgement, about 40 ms per exchange. Set before binding:
  // accepted connections take the option from the listening socket.
  impl->server->set_tcp_nodelay(true);
  int listen_fd = -1;
  impl->server->set_socket_options([&listen_fd](int fd) {
    platform::ListenAlone(fd);
    listen_fd = fd;
  });
  impl->port = options.port == 0 ? impl->server->bind_to_any_port("127.0.0.1")
                                 : (impl->server->bind_to_port("127.0.0.1", options.port)
                                        ? options.port
                                        : -1);
  if (impl->port <= 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(options.port);
    return nullptr;
  }
  // The library listens with a backlog of 5; fifty clients connecting at
  // once would see their connections dropped and retried.
  if (listen_fd >= 0) ::listen(listen_fd, 256);
  impl->origin = std::string(options.plain_http ? "http" : "https") + "://127.0.0.1:" +
                 std::to_string(impl->port);
  CertAuthority* ca = impl->ca.get();
  impl->trading = TradingSite::Start(ca->tls_cert_path(), ca->tls_key_path(), [ca] { return ca->bundle_pem(); },
                                     options.trading_port, error);
  if (!impl->trading) return nullptr;
  impl->service = std::make_unique<Service>(impl->store.get(), impl->ca.get(), impl->origin, options,
                                            impl->trading->url());
  // An order is taken when its signer is the customer's live certificate.
  impl->trading->SetLiveCertificates([service = impl->service.get()](const std::string& cn) {
    std::optional<std::string> der;
    for (const auto& r : service->AllCertificates())
      // Valid, or issued and not yet reported installed: the customer holds it.
      if (r.cn == cn && (r.state == "0" || r.state == "10") && !r.mobile) der = Base64DecodeStrict(r.der_base64);
    return der;
  });
  if (options.seed_demo && impl->store->Empty()) impl->service->Seed(DemoCustomerSeeds());
  for (std::stringstream in(options.faults); !in.eof();) {
    std::string item;
    std::getline(in, item, ';');
    if (item.empty()) continue;
    size_t eq = item.find('=');
    auto f = eq == std::string::npos ? std::nullopt : ParseFault(item.substr(eq + 1));
    if (!f) {
      *error = "bad fault \"" + item + "\" (want action=fault)";
      return nullptr;
    }
    impl->faults.Set(item.substr(0, eq), *f);
  }


  impl->admin_token = RandomAlnum(32);
  if (!WriteDataFile(impl->data("admin_token"), impl->admin_token + "\n", 0600)) {
    *error = "cannot write the admin token";
    return nullptr;
  }
  impl->Routes();
  httplib::Server* server = impl->server.get();
  impl->thread = std::make_unique<ServerThread>(server);

  auto proxy = std::unique_ptr<DevProxy>(new DevProxy(std::move(impl)));
  std::string env;
  env += "QUIL_PROXY_URL=" + proxy->base_url() + "\n";
  env += "QUIL_PROXY_PUBKEY=" + proxy->public_key_path() + "\n";
  env += "QUIL_PROXY_CA=" + proxy->ca_bundle_path() + "\n";
  env += "QUIL_BRIDGE_URL=" + proxy->bridge_url() + "\n";
  env += "QUIL_IP_SERVICES=" + proxy->ip_services() + "\n";
  if (!WriteDataFile(proxy->env_file(), env, 0644)) {
    *error = "cannot write " + proxy->env_file();
    return nullptr;
  }
  return proxy;
}

int DevProxy::port() const { return impl_->port; }
std::string DevProxy::origin() const { return impl_->origin; }
std::string DevProxy::base_url() const { return impl_->origin + kProxyPath; }
std::string DevProxy::public_key_path() const { return impl_->data("proxy_pubkey.pem"); }
std::string DevProxy::public_key_pem() const { return impl_->public_key_pem; }
std::string DevProxy::ca_bundle_path() const { return impl_->data("ca/ca_bundle.pem"); }
std::string DevProxy::root_cert_path() const { return impl_->ca->root_path(); }
std::string DevProxy::intermediate_cert_path() const { return impl_->ca->issuing_path(); }
std::string DevProxy::bridge_url() const { return impl_->origin + "/mobile/bridge/bridge.ashx"; }
std::string DevProxy::ip_services() const {
  return impl_->origin + "/ip/1," + impl_->origin + "/ip/2";
}
std::string DevProxy::template_url() const { return impl_->origin + "/depCert/QUILDepCert.htm"; }
std::string DevProxy::mailbox_url() const { return impl_->origin + "/demo/mailbox"; }
std::string DevProxy::trading_url() const { return impl_->trading->url(); }
std::string DevProxy::env_file() const { return impl_->data("quil.env"); }
std::string DevProxy::admin_token() const { return impl_->admin_token; }

void DevProxy::ExportEnvironment() const {
  setenv("QUIL_PROXY_URL", base_url().c_str(), 1);
  setenv("QUIL_PROXY_PUBKEY", public_key_path().c_str(), 1);
  setenv("QUIL_PROXY_CA", ca_bundle_path().c_str(), 1);
  setenv("QUIL_BRIDGE_URL", bridge_url().c_str(), 1);
  setenv("QUIL_IP_SERVICES", ip_services().c_str(), 1);
}

void DevProxy::SetFault(const std::string& action, const Fault& fault) {
  impl_->faults.Set(action, fault);
}

void DevProxy::ClearFaults() {
  impl_->faults.Clear();
}

void DevProxy::SetSysCfg(const std::string& key, const std::string& value) {
  impl_->service->SetSysCfg(key, value);
}
std::map<std::string, std::string> DevProxy::SysCfg() const { return impl_->service->SysCfg(); }
bool DevProxy::ApplySettingsProfile(const std::string& name) {
  return impl_->service->ApplyProfile(name);
}
void DevProxy::SetVersionPolicy(const VersionPolicy& policy) {
  impl_->service->SetVersionPolicy(policy);
}
void DevProxy::SetRegSetItems(const std::vector<RegSetItem>& items) { impl_->service->SetRegSetItems(items); }
std::vector<RegSetItem> DevProxy::RegSetItems() const { return impl_->service->RegSetItems(); }
void DevProxy::SetIssuePolicy(const IssuePolicy& policy) { impl_->service->SetIssuePolicy(policy); }
IssuePolicy DevProxy::issue_policy() const { return impl_->service->issue_policy(); }
bool DevProxy::AddCustomer(const CustomerSeed& seed, std::string* error) {
  std::string ignored;
  return impl_->service->AddCustomer(seed, error ? error : &ignored);
}
std::vector<CustomerSeed> DevProxy::DemoCustomers() const { return DemoCustomerSeeds(); }
bool DevProxy::SetCertExpiryForTesting(const std::string& idno, int days) {
  return impl_->service->SetCertExpiry(idno, days);
}
bool DevProxy::SetCertStateForTesting(const std::string& idno, const std::string& state) {
  return impl_->service->SetCertState(idno, state);
}
std::vector<CertRecord> DevProxy::Certificates(const std::string& idno) const {
  return impl_->service->Certificates(idno);
}
std::vector<CertRecord> DevProxy::AllCertificates() const {
  return impl_->service->AllCertificates();
}
std::string DevProxy::FnStatus(const std::string& idno) const {
  return impl_->service->FnStatus(idno);
}
std::string DevProxy::CnOf(const std::string& idno) const { return impl_->service->CnOf(idno); }
std::vector<AuditRecord> DevProxy::AuditRecords() const { return impl_->service->Audit(); }
std::vector<TradingVisit> DevProxy::TradingVisits() const { return impl_->trading->Visits(); }
std::vector<TradingOrder> DevProxy::TradingOrders() const { return impl_->trading->Orders(); }
std::vector<MailItem> DevProxy::Mailbox() const { return impl_->service->Mail(); }
int DevProxy::SessionCount() const { return impl_->service->SessionCount(); }

DevProxy::TlsHandshakes DevProxy::Handshakes() const {
  if (impl_->options.plain_http) return {};
  SSL_CTX* ctx = static_cast<httplib::SSLServer*>(impl_->server.get())->ssl_context();
  const long resumed = SSL_CTX_sess_hits(ctx);
  return {SSL_CTX_sess_accept_good(ctx) - resumed, resumed};
}

}  // namespace quil::devproxy
