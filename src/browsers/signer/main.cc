// quil-signer: the security component's native messaging host. The browser
// starts it for the QUIL extension and talks to it on standard input and
// output; `quil-signer GetVersion` prints the component's version, as the
// component's registration in QUIL's hive expects.
#include <cstdio>
#include <cstring>
#include <string>

#include "browsers/native_message.h"
#include "browsers/signer/quil_confirmer.h"
#include "browsers/signer/signer_session.h"
#include "browsers/signer/signer_version.h"
#include "cert/openssl_providers.h"
#include "platform/standard_streams.h"

namespace {

constexpr char kUsage[] =
    "Usage: quil-signer GetVersion\n"
    "The QUIL signing component: web browsers start it for the QUIL extension\n"
    "(native messaging); confirmations appear in QUIL's window.\n";

}  // namespace

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (argc == 2 && first == "GetVersion") {
    std::printf("%s\n", quil::signer::kSignerVersion);
    return 0;
  }
  if (first == "--help" || first == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // Otherwise the browser started it: Chromium names the calling extension's
  // origin, Firefox the manifest and the extension's id; the manifests
  // already admit the QUIL extension alone.
  quil::platform::UseRawStandardStreams();
  std::string error;
  if (!quil::LoadOpenSslProviders(&error)) {
    std::fprintf(stderr, "quil-signer: %s\n", error.c_str());
    return 1;
  }
  quil::FrameReader reader(quil::platform::ReadStandardInput);
  auto reply = [](const std::string& message) {
    const std::string frame = quil::EncodeFrame(message);
    return !frame.empty() && quil::platform::WriteStandardOutput(frame);
  };
  quil::signer::QuilConfirmer confirmer;
  quil::signer::SignerSession session(&confirmer);
  return quil::signer::RunSignerHost(reader, reply, session);
}
