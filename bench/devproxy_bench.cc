// The demo proxy on loopback: fifty customers logging in and applying for a
// certificate at once (doLogin, getCn, applyCert, activeCert each), the
// server's CPU time per application next to the RSA private-key operations
// it cannot avoid for it; one customer's application alone (the client's
// time), and the round trip of one public-key login.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "base/base64.h"
#include "devproxy/crypto.h"
#include "devproxy/devproxy.h"
#include "proxy/transport.h"

namespace {

using quil::devproxy::DevProxy;
using Fields = std::map<std::string, std::string>;

double CpuMs(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
double ThreadCpuMs() { return CpuMs(CLOCK_THREAD_CPUTIME_ID); }
double ProcessCpuMs() { return CpuMs(CLOCK_PROCESS_CPUTIME_ID); }

// What one application costs the clients, counted as they go.
struct Tally {
  std::atomic<int> exchanges{0};
  std::atomic<int> sealed_fields{0};  // RSA-sealed fields the server opens
  std::atomic<int> reply_blocks{0};   // RSA blocks the server signs for replies
  std::atomic<int> issued{0};         // certificates the server signs
  std::atomic<long> client_cpu_us{0};
};

struct Bench {
  std::unique_ptr<DevProxy> proxy;
  quil::devproxy::PKey pub;
  std::vector<quil::devproxy::PKey> keys;
  int next_customer = 0;

  Bench() {
    quil::devproxy::Options o;
    o.data_dir = "/tmp/quil-devproxy-bench-" + std::to_string(getpid());
    std::filesystem::remove_all(o.data_dir);
    o.key_set = QUIL_TEST_KEYS;
    std::string error;
    proxy = DevProxy::Start(o, &error);
    if (!proxy) {
      fprintf(stderr, "%s\n", error.c_str());
      abort();
    }
    proxy->ExportEnvironment();
    pub = quil::devproxy::LoadPublicKeyPem(proxy->public_key_pem());
    for (int i = 0; i < 50; ++i) keys.push_back(quil::devproxy::GenerateRsaKey(2048));
  }
  ~Bench() { std::filesystem::remove_all(proxy->env_file().substr(0, proxy->env_file().rfind('/'))); }

  // The program's own transport.
  std::string Post(const std::string& action, const Fields& sealed, Tally* tally) {
    quil::proxy::HttpReply reply = quil::proxy::httpPost(proxy->base_url() + action, sealed);
    if (tally) ++tally->exchanges;
    return reply.result == quil::proxy::kHttpOk ? reply.body : "";
  }
  std::string Rsa(const std::string& action, const Fields& f, Tally* tally = nullptr) {
    Fields sealed;
    for (const auto& [k, v] : f) sealed[k] = quil::devproxy::SealRsaField(pub.get(), v).value_or("");
    std::string body = Post(action, sealed, tally);
    if (tally) {
      tally->sealed_fields += static_cast<int>(f.size());
      tally->reply_blocks += static_cast<int>(quil::base64Decode(body).size() / 256);
    }
    return quil::devproxy::OpenRsaReply(pub.get(), body);
  }
  std::string Aes(const std::string& action, const Fields& f, const std::string& key, Tally* tally = nullptr) {
    Fields sealed;
    for (const auto& [k, v] : f) sealed[k] = quil::devproxy::AesEncryptBase64(key, v).value_or("");
    return quil::devproxy::AesDecryptBase64(key, Post(action, sealed, tally))
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
    std::string out = quil::base64Encode(std::string(reinterpret_cast<char*>(der), n));
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

  // One customer's application as the program makes it; true when the
  // certificate was issued and activated.
  bool Apply(const quil::devproxy::CustomerSeed& c, const std::string& csr, Tally* tally) {
    double cpu = ThreadCpuMs();
    std::string key = Tag(Rsa("doLogin", {{"aid", c.aid}, {"clientIP", "127.0.0.1"}, {"pw", c.password}}, tally),
                          "aeskey");
    bool ok = false;
    if (key.empty()) {
      fprintf(stderr, "login failed %s\n", c.aid.c_str());
    } else {
      Aes("getCn", {{"userId", c.idno}}, key, tally);
      std::string reply = Aes("applyCert", {{"csr", csr}, {"pwid", ""}, {"userId", c.idno}}, key, tally);
      std::string id = Tag(reply, "certId");
      if (id.empty()) fprintf(stderr, "apply failed %s: %s\n", c.idno.c_str(), reply.c_str());
      else ++tally->issued;
      ok = Tag(Aes("activeCert", {{"certApplyId", id}, {"certPath", ""}}, key, tally), "rtnCode") == "0";
    }
    tally->client_cpu_us += static_cast<long>((ThreadCpuMs() - cpu) * 1000);
    return ok;
  }
};

Bench& Shared() {
  static Bench* b = new Bench;
  return *b;
}

// CPU milliseconds of one RSA-2048 private-key operation of each kind the
// server does, on this machine now: opening a sealed field, signing a reply
// block, the TLS 1.3 handshake signature and a certificate's signature.
struct RsaCosts {
  double decrypt = 0, block_sign = 0, handshake_sign = 0, cert_sign = 0;
};

RsaCosts MeasureRsaCosts() {
  constexpr int kRounds = 200;
  EVP_PKEY* key = EVP_RSA_gen(2048);
  unsigned char in[256] = {1, 2, 3}, out[512];
  size_t n = 0;
  auto per_op = [&](auto&& op) {
    op();  // warm
    double start = ThreadCpuMs();
    for (int i = 0; i < kRounds; ++i) op();
    return (ThreadCpuMs() - start) / kRounds;
  };
  auto pkcs1 = [&](EVP_PKEY_CTX* ctx) { EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING); };

  unsigned char sealed[256];
  size_t sealed_len = sizeof sealed;
  EVP_PKEY_CTX* enc = EVP_PKEY_CTX_new(key, nullptr);
  EVP_PKEY_encrypt_init(enc);
  pkcs1(enc);
  EVP_PKEY_encrypt(enc, sealed, &sealed_len, in, 16);
  EVP_PKEY_CTX_free(enc);

  RsaCosts c;
  c.decrypt = per_op([&] {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_decrypt_init(ctx);
    pkcs1(ctx);
    n = sizeof out;
    EVP_PKEY_decrypt(ctx, out, &n, sealed, sealed_len);
    EVP_PKEY_CTX_free(ctx);
  });
  c.block_sign = per_op([&] {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_sign_init(ctx);
    pkcs1(ctx);
    n = sizeof out;
    EVP_PKEY_sign(ctx, out, &n, in, 245);
    EVP_PKEY_CTX_free(ctx);
  });
  auto digest_sign = [&](int padding) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* ctx = nullptr;
    EVP_DigestSignInit(md, &ctx, EVP_sha256(), nullptr, key);
    EVP_PKEY_CTX_set_rsa_padding(ctx, padding);
    n = sizeof out;
    EVP_DigestSign(md, out, &n, in, 130);
    EVP_MD_CTX_free(md);
  };
  c.handshake_sign = per_op([&] { digest_sign(RSA_PKCS1_PSS_PADDING); });
  c.cert_sign = per_op([&] { digest_sign(RSA_PKCS1_PADDING); });
  EVP_PKEY_free(key);
  return c;
}

// Server CPU is the process's CPU less what the client threads and this
// thread spent; the floor counts the private-key operations the exchanges
// needed (one signature per full TLS handshake, none for a resumed one, one
// opening per sealed field, one signature per reply block and per
// certificate).
void BM_FiftyParallelLoginsAndApplications(benchmark::State& state) {
  Bench& b = Shared();
  constexpr int kClients = 50;
  int64_t done = 0, failed = 0;
  Tally tally;
  double server_cpu_ms = 0;
  const DevProxy::TlsHandshakes handshakes_before = b.proxy->Handshakes();
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<quil::devproxy::CustomerSeed> customers;
    std::vector<std::string> csrs;
    for (int i = 0; i < kClients; ++i) {
      customers.push_back(b.NewCustomer());
      csrs.push_back(b.Csr(static_cast<EVP_PKEY*>(b.keys[i].get()), customers.back().idno + "-01"));
    }
    std::atomic<int> ok{0};
    long client_before = tally.client_cpu_us;
    double process_before = ProcessCpuMs(), main_before = ThreadCpuMs();
    state.ResumeTiming();
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i)
      threads.emplace_back([&, i] {
        if (b.Apply(customers[i], csrs[i], &tally)) ++ok;
      });
    for (auto& t : threads) t.join();
    state.PauseTiming();
    server_cpu_ms += (ProcessCpuMs() - process_before) - (ThreadCpuMs() - main_before) -
                     (tally.client_cpu_us - client_before) / 1000.0;
    state.ResumeTiming();
    done += ok;
    failed += kClients - ok;
  }
  const RsaCosts cost = MeasureRsaCosts();
  const double apps = static_cast<double>(done + failed);
  const DevProxy::TlsHandshakes handshakes = b.proxy->Handshakes();
  const long full = handshakes.full - handshakes_before.full;
  const long resumed = handshakes.resumed - handshakes_before.resumed;
  const double floor_ms = (full * cost.handshake_sign + tally.sealed_fields * cost.decrypt +
                           tally.reply_blocks * cost.block_sign + tally.issued * cost.cert_sign) /
                          apps;
  state.counters["applications/s"] = benchmark::Counter(static_cast<double>(done), benchmark::Counter::kIsRate);
  state.counters["failed"] = static_cast<double>(failed);
  state.counters["server_cpu_ms/app"] = server_cpu_ms / apps;
  state.counters["rsa_floor_ms/app"] = floor_ms;
  state.counters["cpu/floor"] = server_cpu_ms / apps / floor_ms;
  state.counters["rsa_ops/app"] = (full + tally.sealed_fields + tally.reply_blocks + tally.issued) / apps;
  state.counters["exchanges/app"] = tally.exchanges / apps;
  state.counters["full_handshakes/app"] = full / apps;
  state.counters["resumed_handshakes/app"] = resumed / apps;
  state.counters["client_cpu_ms/app"] = tally.client_cpu_us / 1000.0 / apps;
  state.counters["rsa_decrypt_ms"] = cost.decrypt;
  state.counters["rsa_block_sign_ms"] = cost.block_sign;
  state.counters["rsa_pss_sign_ms"] = cost.handshake_sign;
  state.counters["rsa_sha256_sign_ms"] = cost.cert_sign;
}
BENCHMARK(BM_FiftyParallelLoginsAndApplications)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Server CPU of one bare exchange on a new connection (a GET of the address
// page): the TLS handshake and the HTTP around an action, whose only
// unavoidable private-key operation is the handshake signature.
void BM_ServerCpuPerConnection(benchmark::State& state) {
  Bench& b = Shared();
  double server_cpu_ms = 0;
  for (auto _ : state) {
    double process = ProcessCpuMs(), own = ThreadCpuMs();
    if (quil::proxy::httpGet(b.proxy->bridge_url()).result != quil::proxy::kHttpOk)
      state.SkipWithError("exchange failed");
    server_cpu_ms += (ProcessCpuMs() - process) - (ThreadCpuMs() - own);
  }
  state.counters["server_cpu_ms"] = server_cpu_ms / static_cast<double>(state.iterations());
  state.counters["rsa_pss_sign_ms"] = MeasureRsaCosts().handshake_sign;
}
BENCHMARK(BM_ServerCpuPerConnection)->Unit(benchmark::kMillisecond)->UseRealTime();

// One customer's application with nobody else at work: the time the
// customer waits for the four exchanges and the client's own CPU for them.
void BM_OneApplication(benchmark::State& state) {
  Bench& b = Shared();
  Tally tally;
  int64_t failed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto c = b.NewCustomer();
    std::string csr = b.Csr(static_cast<EVP_PKEY*>(b.keys[0].get()), c.idno + "-01");
    state.ResumeTiming();
    if (!b.Apply(c, csr, &tally)) ++failed;
  }
  if (failed) state.SkipWithError("applications failed");
  state.counters["client_cpu_ms/app"] = tally.client_cpu_us / 1000.0 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_OneApplication)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoginRoundTrip(benchmark::State& state) {
  Bench& b = Shared();
  auto c = b.NewCustomer();
  for (auto _ : state) {
    std::string key =
        Bench::Tag(b.Rsa("doLogin", {{"aid", c.aid}, {"clientIP", "127.0.0.1"}, {"pw", c.password}}), "aeskey");
    if (key.empty()) state.SkipWithError("login refused");
  }
}
BENCHMARK(BM_LoginRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
