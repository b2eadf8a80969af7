// The certificate engine against the openssl command line doing the same
// work on this machine: key pair plus request, PKCS#12 write and read, and
// a PKCS#7 signature. The command-line figures include starting a process,
// which is what a user of the tool would pay too.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Run(const std::string& command) {
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

// A self-signed certificate with its key, made once by the command line.
struct Material {
  std::string key_pem_path, cert_pem_path, pfx_path, text_path;
  std::string key_pem, cert_b64, pfx, issuer, serial;
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
    std::string der = Read(d + "/cert.der");
    std::string b64(4 * ((der.size() + 2) / 3) + 1, '\0');
    b64.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(b64.data()),
                                                   reinterpret_cast<const unsigned char*>(der.data()),
                                                   static_cast<int>(der.size()))));
    cert_b64 = b64;
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

void BM_Engine_Pkcs12Write(benchmark::State& state) {
  std::string path = Folder() + "/engine.p12";
  for (auto _ : state) benchmark::DoNotOptimize(quil::makePfxFile(M().cert_b64, M().key_pem, path, "pw1234"));
}
BENCHMARK(BM_Engine_Pkcs12Write)->Unit(benchmark::kMillisecond)->UseRealTime();

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
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(Folder(), ec);
  return 0;
}
