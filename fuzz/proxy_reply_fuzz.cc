// The proxy's replies as they arrive from the network: the opening of both
// envelopes and the XML reader with the field readers behind it.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdint>
#include <memory>
#include <string>

#include "proxy/envelope.h"
#include "proxy/reply_reader.h"

namespace {

std::unique_ptr<quil::proxy::ProxyPublicKey> MakeKey() {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PUBKEY(bio, key);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<size_t>(n));
  BIO_free(bio);
  EVP_PKEY_free(key);
  return quil::proxy::ProxyPublicKey::FromPem(pem);
}

void Walk(const quil::proxy::XmlElement& e) {
  (void)quil::proxy::collectFields(e, true);
  (void)quil::proxy::ReadList(e, "item");
  (void)quil::proxy::fieldText(e, "rtnCode");
  for (const auto& child : e.children) Walk(child);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const auto key = MakeKey();
  const std::string text(reinterpret_cast<const char*>(data), size);
  quil::proxy::ReplyDocument doc = quil::proxy::ParseReply(text);
  if (doc.has_root) {
    (void)quil::proxy::IsAccepted(doc.root);
    (void)quil::proxy::ReadBlock(doc.root, "pcCert");
    Walk(doc.root);
  }
  (void)quil::proxy::ReadNumber(text);
  (void)quil::proxy::OpenAesBody("0123456789abcdef", text);
  (void)quil::proxy::OpenRsaBody(*key, text);
  (void)quil::proxy::CutAtZero(text);
  return 0;
}
