// Throughput of the demo proxy on loopback: fifty clients logging in and
// applying for a certificate at once (login, getCn, applyCert, activeCert
// each), and the round trip of one public-key login.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "devproxy/crypto.h"
#include "devproxy/devproxy.h"
#include "devproxy/form.h"

namespace {

using quil::devproxy::DevProxy;
using Fields = std::map<std::string, std::string>;

struct Bench {
  std::unique_ptr<DevProxy> proxy;
  quil::devproxy::PKey pub;
  std::vector<quil::devproxy::PKey> keys;
  int next_customer = 0;

  Bench() {
    quil::devproxy::Options o;
    o.data_dir = "/tmp/quil-devproxy-bench-" + std::to_string(getpid());
    std::filesystem::remove_all(o.data_dir);
    std::string error;
    proxy = DevProxy::Start(o, &error);
    if (!proxy) {
      fprintf(stderr, "%s\n", error.c_str());
      abort();
    }
    pub = quil::devproxy::LoadPublicKeyPem(proxy->public_key_pem());
    for (int i = 0; i < 50; ++i) keys.push_back(quil::devproxy::GenerateRsaKey(2048));
  }
  ~Bench() { std::filesystem::remove_all(proxy->env_file().substr(0, proxy->env_file().rfind('/'))); }

  std::string Post(const std::string& action, const std::string& body) {
    httplib::SSLClient cli("127.0.0.1", proxy->port());
    cli.set_ca_cert_path(proxy->ca_bundle_path().c_str());
    cli.enable_server_certificate_verification(true);
    auto res = cli.Post(("/PELIProxy/proxy/" + action).c_str(), body,
                        "application/x-www-form-urlencoded; charset: UTF-8");
    return res && res->status == 200 ? res->body : "";
  }
  std::string Rsa(const std::string& action, const Fields& f) {
    Fields sealed;
    for (const auto& [k, v] : f) sealed[k] = quil::devproxy::SealRsaField(pub.get(), v).value_or("");
    return quil::devproxy::OpenRsaReply(pub.get(), Post(action, quil::devproxy::FormEncode(sealed)));
  }
  std::string Aes(const std::string& action, const Fields& f, const std::string& key) {
    Fields sealed;
    for (const auto& [k, v] : f) sealed[k] = quil::devproxy::AesEncryptBase64(key, v).value_or("");
    return quil::devproxy::AesDecryptBase64(key, Post(action, quil::devproxy::FormEncode(sealed)))
        .value_or("");
  }
  static std::string Tag(const std::string& text, const std::string& name) {
    size_t a = text.find("<" + name + ">");
    if (a == std::string::npos) return {};
    a += name.size() + 2;
    return text.substr(a, text.find("</" + name + ">", a) - a);
  }
  std::string Csr(EVP_PKEY* key, const std::string& cn) {
    X509_REQ* req = X509_REQ_new();
    X509_NAME_add_entry_by_txt(X509_REQ_get_subject_name(req), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509_REQ_set_pubkey(req, key);
    X509_REQ_sign(req, key, EVP_sha1());
    unsigned char* der = nullptr;
    int n = i2d_X509_REQ(req, &der);
    std::string out = quil::devproxy::Base64Encode(std::string(reinterpret_cast<char*>(der), n));
    OPENSSL_free(der);
    X509_REQ_free(req);
    return out;
  }
  quil::devproxy::CustomerSeed NewCustomer() {
    int n = ++next_customer;
    char idno[16], account[16];
    snprintf(idno, sizeof idno, "U%09d", n);
    snprintf(account, sizeof account, "%07d", n);
    quil::devproxy::CustomerSeed s;
    s.idno = idno;
    s.branch = "9B99";  // a branch of its own: no clash with the demo accounts
    s.account = account;
    s.aid = s.branch + s.account;
    s.password = "pass1234";
    std::string error;
    if (!proxy->AddCustomer(s, &error)) fprintf(stderr, "customer %s: %s\n", idno, error.c_str());
    return s;
  }
};

Bench& Shared() {
  static Bench* b = new Bench;
  return *b;
}

void BM_FiftyParallelLoginsAndApplications(benchmark::State& state) {
  Bench& b = Shared();
  constexpr int kClients = 50;
  int64_t done = 0, failed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<quil::devproxy::CustomerSeed> customers;
    std::vector<std::string> csrs;
    for (int i = 0; i < kClients; ++i) {
      customers.push_back(b.NewCustomer());
      csrs.push_back(b.Csr(static_cast<EVP_PKEY*>(b.keys[i].get()), customers.back().idno + "-01"));
    }
    std::atomic<int> ok{0};
    state.ResumeTiming();
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i)
      threads.emplace_back([&, i] {
        const auto& c = customers[i];
        std::string key = Bench::Tag(b.Rsa("doLogin", {{"aid", c.aid}, {"pw", c.password}}), "aeskey");
        if (key.empty()) return void(fprintf(stderr, "login failed %s\n", c.aid.c_str()));
        b.Aes("getCn", {{"userId", c.idno}}, key);
        std::string reply = b.Aes("applyCert", {{"csr", csrs[i]}, {"userId", c.idno}}, key);
        std::string id = Bench::Tag(reply, "certId");
        if (id.empty()) fprintf(stderr, "apply failed %s: %s\n", c.idno.c_str(), reply.c_str());
        if (Bench::Tag(b.Aes("activeCert", {{"certApplyId", id}, {"certPath", ""}}, key), "rtnCode") == "0")
          ++ok;
      });
    for (auto& t : threads) t.join();
    done += ok;
    failed += kClients - ok;
  }
  state.counters["applications/s"] = benchmark::Counter(static_cast<double>(done), benchmark::Counter::kIsRate);
  state.counters["failed"] = static_cast<double>(failed);
}
BENCHMARK(BM_FiftyParallelLoginsAndApplications)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_LoginRoundTrip(benchmark::State& state) {
  Bench& b = Shared();
  auto c = b.NewCustomer();
  for (auto _ : state) {
    std::string key = Bench::Tag(b.Rsa("doLogin", {{"aid", c.aid}, {"pw", c.password}}), "aeskey");
    if (key.empty()) state.SkipWithError("login refused");
  }
}
BENCHMARK(BM_LoginRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
