// Sealing and opening proxy fields, and where the time of a login goes,
// measured against the demo operator proxy on loopback HTTPS.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "base/base64.h"
#include "base/pause.h"
#include "base/settings.h"
#include "devproxy/devproxy.h"
#include "proxy/actions.h"
#include "proxy/curl_easy_internal.h"
#include "proxy/envelope.h"
#include "proxy/reply_reader.h"
#include "proxy/settings_loader.h"
#include "proxy/transport.h"
#include "ui/progress_window.h"

namespace {

using namespace quil;
using namespace quil::proxy;

const char kSessionKey[] = "Z8kQ2mP4xR7tV1wY";

// A typical login reply (about 1 KB of Big5-free XML).
std::string LoginReplyXml() {
  std::string xml = "<root><rtnCode>0</rtnCode><rtnMsg>ok</rtnMsg><aeskey>Z8kQ2mP4xR7tV1wYa9b8c7d6e5f4g3h2</aeskey>"
                    "<id>A123456789</id><name>demo</name><aid>0000001</aid><branch>9A00</branch>"
                    "<email>demo.A123456789@example.com</email><mobile>0912345678</mobile>"
                    "<birthday>19800101</birthday><isApplyPwBag>A</isApplyPwBag><isFirstLogin>N</isFirstLogin>";
  while (xml.size() < 1000) xml += "<applyOnlinePwNotice>notice text of the operator</applyOnlinePwNotice>";
  return xml + "<extraMsg/></root>";
}

struct KeyPair {
  EVP_PKEY* pkey = EVP_RSA_gen(2048);
  std::unique_ptr<ProxyPublicKey> pub;
  KeyPair() {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PUBKEY(bio, pkey);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    pub = ProxyPublicKey::FromPem(std::string(data, static_cast<size_t>(n)));
    BIO_free(bio);
  }
  // The proxy's side: private-key blocks of up to 245 bytes.
  std::string SealReply(const std::string& xml) const {
    std::string blocks;
    for (size_t at = 0; at < xml.size(); at += 245) {
      EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey, nullptr);
      EVP_PKEY_sign_init(ctx);
      EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
      std::string part = xml.substr(at, 245);
      std::string out(256, '\0');
      size_t n = out.size();
      EVP_PKEY_sign(ctx, reinterpret_cast<unsigned char*>(out.data()), &n,
                    reinterpret_cast<const unsigned char*>(part.data()), part.size());
      EVP_PKEY_CTX_free(ctx);
      blocks += out.substr(0, n);
    }
    return base64Encode(blocks);
  }
};

const KeyPair& Keys() {
  static const KeyPair keys;
  return keys;
}

const FieldMap kLoginFields = {{"aid", "9A000000001"}, {"clientIP", "127.0.0.1"}, {"pw", "demo1234"}};

void BM_SealFieldsRsa(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(SealFieldsRsa(*Keys().pub, kLoginFields));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kLoginFields.size()));
}
BENCHMARK(BM_SealFieldsRsa);

void BM_OpenRsaReply(benchmark::State& state) {
  const std::string body = Keys().SealReply(LoginReplyXml());
  for (auto _ : state) benchmark::DoNotOptimize(OpenRsaBody(*Keys().pub, body));
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(LoginReplyXml().size()));
}
BENCHMARK(BM_OpenRsaReply);

void BM_SealFieldsAes(benchmark::State& state) {
  const FieldMap fields = {{"aid", "9A000000001"}, {"funcid", "9"}, {"id", "A123456789"}, {"memo", "9000"}};
  for (auto _ : state) benchmark::DoNotOptimize(SealFieldsAes(kSessionKey, fields));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(fields.size()));
}
BENCHMARK(BM_SealFieldsAes);

void BM_OpenAesReply(benchmark::State& state) {
  FieldMap sealed = SealFieldsAes(kSessionKey, {{"x", LoginReplyXml()}});
  const std::string body = sealed["x"];
  for (auto _ : state) benchmark::DoNotOptimize(OpenAesBody(kSessionKey, body));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenAesReply);

// The client's own work in a login, without the network: seal, open, parse,
// read the fields.
void BM_LoginClientWork(benchmark::State& state) {
  const std::string body = Keys().SealReply(LoginReplyXml());
  for (auto _ : state) {
    FieldMap sealed = SealFieldsRsa(*Keys().pub, kLoginFields);
    benchmark::DoNotOptimize(sealed);
    auto text = OpenRsaBody(*Keys().pub, body);
    ReplyDocument doc = ParseReply(*text);
    FieldMap map = collectFields(doc.root, true);
    benchmark::DoNotOptimize(map);
  }
}
BENCHMARK(BM_LoginClientWork)->Unit(benchmark::kMicrosecond);

// The demo proxy, started once for the process.
struct Demo {
  std::string dir;
  std::unique_ptr<devproxy::DevProxy> proxy;
  Demo() {
    char tmpl[] = "/tmp/quil-proxy-bench-XXXXXX";
    dir = mkdtemp(tmpl);
    devproxy::Options options;
    options.data_dir = dir + "/devproxy";
    options.key_set = QUIL_TEST_KEYS;
    std::string error;
    proxy = devproxy::DevProxy::Start(options, &error);
    if (proxy) {
      proxy->ExportEnvironment();
      setenv("QUIL_IP_SERVICES", "", 1);
    }
  }
  ~Demo() {
    proxy.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

Demo& TheDemo() {
  static Demo demo;
  return demo;
}

// A whole login over loopback HTTPS (address discovery included) with the
// described pauses switched off: network plus client work.
void BM_LoginWithoutPauses(benchmark::State& state) {
  if (!TheDemo().proxy) {
    state.SkipWithError("demo proxy did not start");
    return;
  }
  SetPauseForTesting([](Milliseconds) {});
  proxy::InstallSettingsLoader();
  (void)getSetting("version");  // settings loaded once, as in a running client
  for (auto _ : state) {
    LoginResult r = doLogin("9A000000001", "demo1234");
    if (r.code != 0) state.SkipWithError("login failed");
  }
  // The described pauses: 500 ms twice, the progress window's 100 ms after
  // each of its three step reports and its final second.
  state.counters["described_pauses_ms"] = 2300;
}
BENCHMARK(BM_LoginWithoutPauses)->Unit(benchmark::kMillisecond)->UseRealTime();

// One loopback HTTPS exchange (new connection, verified TLS): the unit of
// network cost a login pays twice (address bridge, doLogin).
void BM_OneHttpsExchange(benchmark::State& state) {
  if (!TheDemo().proxy) {
    state.SkipWithError("demo proxy did not start");
    return;
  }
  const std::string url = TheDemo().proxy->bridge_url();
  for (auto _ : state) {
    HttpReply r = httpGet(url);
    if (r.result != 0) state.SkipWithError("exchange failed");
  }
}
BENCHMARK(BM_OneHttpsExchange)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same exchange on the transport's own libcurl set-up, split by
// libcurl's clocks: TCP connect, TLS handshake, then request to last byte.
void BM_HttpsExchangePhases(benchmark::State& state) {
  if (!TheDemo().proxy) {
    state.SkipWithError("demo proxy did not start");
    return;
  }
  const std::string url = TheDemo().proxy->bridge_url();
  curl_off_t connect_us = 0, handshake_us = 0, total_us = 0;
  for (auto _ : state) {
    auto easy = internal::NewEasy();
    CURL* c = easy->handle.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t n, void*) { return size * n; });
    if (curl_easy_perform(c) != CURLE_OK) {
      state.SkipWithError("exchange failed");
      return;
    }
    curl_off_t connected = 0, secured = 0, total = 0;
    curl_easy_getinfo(c, CURLINFO_CONNECT_TIME_T, &connected);
    curl_easy_getinfo(c, CURLINFO_APPCONNECT_TIME_T, &secured);
    curl_easy_getinfo(c, CURLINFO_TOTAL_TIME_T, &total);
    connect_us += connected;
    handshake_us += secured - connected;
    total_us += total;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["tcp_connect_ms"] = connect_us / n / 1000;
  state.counters["tls_handshake_ms"] = handshake_us / n / 1000;
  state.counters["exchange_ms"] = total_us / n / 1000;
  state.counters["handshake_share"] = static_cast<double>(handshake_us) / static_cast<double>(total_us);
}
BENCHMARK(BM_HttpsExchangePhases)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
