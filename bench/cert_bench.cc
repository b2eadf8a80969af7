// The certificate engine against the openssl command line doing the same
// work on this machine: key pair plus request, PKCS#12 write and read, and
// a PKCS#7 signature. The command-line figures include starting a process,
// which is what a user of the tool would pay too. The PKCS#12 save is also
// taken apart: its encoding next to the bare library calls for the same
// file, and the durable write.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/base64.h"
#include "base/files.h"
#include "cert/cert_info.h"
#include "cert/cert_request.h"
#include "cert/openssl_providers.h"
#include "cert/pfx_file.h"
#include "cert/signing.h"

namespace {

std::string Folder() {
  static std::string folder = [] {
    char tmpl[] = "/tmp/quil-cert-bench-XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  return folder;
}

std::string Read(const std::string& path) { return quil::readWholeFile(path).value_or(""); }

void Run(const std::string& command) {
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

// A self-signed certificate with its key, made once by the command line,
// and a user certificate issued by a root as the proxy answers it: a PKCS#7
// bundle of root and user certificate.
struct Material {
  std::string key_pem_path, cert_pem_path, pfx_path, text_path;
  std::string key_pem, cert_b64, pfx, issuer, serial;
  std::string user_key_pem, bundle_b64;
  Material() {
    std::string error;
    if (!quil::LoadOpenSslProviders(&error)) std::fprintf(stderr, "%s\n", error.c_str());
    std::string d = Folder();
    key_pem_path = d + "/key.pem";
    cert_pem_path = d + "/cert.pem";
    pfx_path = d + "/user.p12";
    text_path = d + "/text.txt";
    Run("openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 365 -subj /CN=A123456789-01 -addext "
        "basicConstraints=critical,CA:FALSE -keyout " + key_pem_path + " -out " + cert_pem_path);
    Run("openssl x509 -in " + cert_pem_path + " -outform DER -out " + d + "/cert.der");
    cert_b64 = quil::base64Encode(Read(d + "/cert.der"));
    Run("openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 365 -subj /CN=Root -keyout " + d +
        "/root.key -out " + d + "/root.pem");
    Run("openssl req -new -newkey rsa:2048 -nodes -subj /CN=A123456789-01 -keyout " + d + "/user.key -out " + d +
        "/user.csr");
    std::ofstream(d + "/user.ext") << "basicConstraints=critical,CA:FALSE\n"
                                      "keyUsage=critical,digitalSignature,nonRepudiation,keyEncipherment\n";
    Run("openssl x509 -req -in " + d + "/user.csr -CA " + d + "/root.pem -CAkey " + d + "/root.key -days 365 " +
        "-set_serial 7 -extfile " + d + "/user.ext -out " + d + "/user.pem");
    Run("openssl crl2pkcs7 -nocrl -certfile " + d + "/root.pem -certfile " + d + "/user.pem -outform DER -out " + d +
        "/bundle.p7b");
    bundle_b64 = quil::base64Encode(Read(d + "/bundle.p7b"));
    user_key_pem = Read(d + "/user.key");
    key_pem = Read(key_pem_path);
    quil::makePfxFile(cert_b64, key_pem, pfx_path, "pw1234");
    pfx = Read(pfx_path);
    auto info = quil::certInfoFromPkcs12(pfx, "pw1234").info;
    issuer = info["issuer"];
    serial = info["serial"];
    std::ofstream(text_path) << "qmrd5170";
  }
};

Material& M() {
  static Material* m = new Material();
  return *m;
}

void BM_Engine_KeyPairAndRequest(benchmark::State& state) {
  for (auto _ : state) {
    auto r = quil::makeOpenSslRequest("A123456789-01", 2048);
    benchmark::DoNotOptimize(r.request);
  }
}
BENCHMARK(BM_Engine_KeyPairAndRequest)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(40);

void BM_Cli_KeyPairAndRequest(benchmark::State& state) {
  std::string d = Folder();
  for (auto _ : state)
    Run("openssl req -new -newkey rsa:2048 -nodes -sha1 -subj /CN=A123456789-01 -keyout " + d +
        "/k.pem -outform DER -out " + d + "/r.der");
}
BENCHMARK(BM_Cli_KeyPairAndRequest)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(40);

// The file's bytes as the program makes them from the proxy's bundle and
// the pending key, in memory.
void BM_Engine_Pkcs12Encode(benchmark::State& state) {
  for (auto _ : state) {
    auto r = quil::encodePfx(M().bundle_b64, M().user_key_pem, "pw1234");
    if (r.code != 0) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(r.der);
  }
}
BENCHMARK(BM_Engine_Pkcs12Encode)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same file from the same inputs with the bare library calls it needs:
// read the key and the bundle, create, MAC, encode. No file.
void BM_Library_Pkcs12Encode(benchmark::State& state) {
  const std::string& b64 = M().bundle_b64;
  for (auto _ : state) {
    BIO* bio = BIO_new_mem_buf(M().user_key_pem.data(), static_cast<int>(M().user_key_pem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>(""));
    BIO_free(bio);
    std::string der(b64.size(), '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(der.data()),
                            reinterpret_cast<const unsigned char*>(b64.data()), static_cast<int>(b64.size()));
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    PKCS7* p7 = d2i_PKCS7(nullptr, &p, n);
    STACK_OF(X509)* certs = p7->d.sign->cert;
    X509* user = sk_X509_value(certs, sk_X509_num(certs) - 1);
    STACK_OF(X509)* chain = sk_X509_new_null();
    for (int i = 0; i + 1 < sk_X509_num(certs); ++i) sk_X509_push(chain, sk_X509_value(certs, i));
    PKCS12* p12 = PKCS12_create("pw1234", "A123456789-01", key, user, chain, NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
                                NID_pbe_WithSHA1And40BitRC2_CBC, 2048, -1, 0);
    PKCS12_set_mac(p12, "pw1234", -1, nullptr, 0, 1, EVP_sha1());
    unsigned char* out = nullptr;
    if (i2d_PKCS12(p12, &out) <= 0) state.SkipWithError("encode failed");
    OPENSSL_free(out);
    PKCS12_free(p12);
    sk_X509_free(chain);
    PKCS7_free(p7);
    EVP_PKEY_free(key);
  }
}
BENCHMARK(BM_Library_Pkcs12Encode)->Unit(benchmark::kMillisecond)->UseRealTime();

// What keeps a saved file whole: a sibling written, flushed to the disk and
// renamed over the target.
void BM_DurableWrite(benchmark::State& state) {
  std::string path = Folder() + "/durable.p12";
  for (auto _ : state)
    if (quil::WriteFileAtomically(path, M().pfx, 0600) != 0) state.SkipWithError("write failed");
}
BENCHMARK(BM_DurableWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole save: the encoding above and the durable write.
void BM_Engine_Pkcs12Save(benchmark::State& state) {
  std::string path = Folder() + "/engine.p12";
  for (auto _ : state)
    if (quil::makePfxFile(M().bundle_b64, M().user_key_pem, path, "pw1234") != 0) state.SkipWithError("save failed");
}
BENCHMARK(BM_Engine_Pkcs12Save)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Cli_Pkcs12Write(benchmark::State& state) {
  std::string d = Folder();
  for (auto _ : state)
    Run("openssl pkcs12 -export -legacy -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-RC2-40 -iter 2048 -macalg sha1 "
        "-nomaciter -name A123456789-01 -inkey " + M().key_pem_path + " -in " + M().cert_pem_path +
        " -passout pass:pw1234 -out " + d + "/cli.p12");
}
BENCHMARK(BM_Cli_Pkcs12Write)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Engine_Pkcs12Read(benchmark::State& state) {
  for (auto _ : state) {
    // With an expected issuer the certificate is unpacked and compared too.
    auto r = quil::loadPfxSilent(M().pfx_path, "pw1234", M().issuer, M().serial);
    if (r.code != 0) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(r.code);
  }
}
BENCHMARK(BM_Engine_Pkcs12Read)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Cli_Pkcs12Read(benchmark::State& state) {
  for (auto _ : state)
    Run("openssl pkcs12 -legacy -nodes -passin pass:pw1234 -in " + M().pfx_path + " -out /dev/null");
}
BENCHMARK(BM_Cli_Pkcs12Read)->Unit(benchmark::kMillisecond)->UseRealTime();

// From the PKCS#12 bytes, as the engine signs (unpacking included).
void BM_Engine_SignFromPkcs12(benchmark::State& state) {
  for (auto _ : state) {
    auto r = quil::signPkcs7WithPfx(M().pfx, "pw1234", "qmrd5170");
    benchmark::DoNotOptimize(r.der);
  }
}
BENCHMARK(BM_Engine_SignFromPkcs12)->Unit(benchmark::kMillisecond)->UseRealTime();

// The command line signs from PEM files, so it skips the unpacking.
void BM_Cli_SignFromPem(benchmark::State& state) {
  std::string d = Folder();
  for (auto _ : state)
    Run("openssl cms -sign -nodetach -noattr -md sha1 -binary -outform DER -signer " + M().cert_pem_path +
        " -inkey " + M().key_pem_path + " -in " + M().text_path + " -out " + d + "/sig.der");
}
BENCHMARK(BM_Cli_SignFromPem)->Unit(benchmark::kMillisecond)->UseRealTime();

// What starting the command line costs by itself, to read the others.
void BM_Cli_StartOnly(benchmark::State& state) {
  for (auto _ : state) Run("openssl version");
}
BENCHMARK(BM_Cli_StartOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  M();  // made before any timing starts
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(Folder(), ec);
  return 0;
}
