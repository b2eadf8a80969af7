#include "devproxy/signed_orders.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>

#include <memory>

#include "base/openssl_ptr.h"
#include "devproxy/crypto.h"

namespace quil::devproxy {
namespace {

using ossl::Ptr;

struct X509Free {
  void operator()(X509* c) const { X509_free(c); }
};
using Cert = std::unique_ptr<X509, X509Free>;

std::vector<Cert> ReadCerts(const std::string& pem) {
  std::vector<Cert> certs;
  Ptr<BIO> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  while (X509* c = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) certs.emplace_back(c);
  ERR_clear_error();
  return certs;
}

Cert FromDer(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  return Cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

OrderCheck Refused(std::string reason) {
  OrderCheck c;
  c.reason = std::move(reason);
  return c;
}

}  // namespace

std::string NameText(const X509_NAME* name) {
  Ptr<BIO> bio(BIO_new(BIO_s_mem()));
  X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(n > 0 ? n : 0));
}

std::string CommonName(X509* cert) {
  X509_NAME* name = X509_get_subject_name(cert);
  int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  if (at < 0) return {};
  unsigned char* utf8 = nullptr;
  int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
  std::string cn = n > 0 ? std::string(reinterpret_cast<char*>(utf8), static_cast<size_t>(n)) : "";
  OPENSSL_free(utf8);
  return cn;
}

std::string SerialText(X509* cert) {
  BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr);
  char* hex = bn ? BN_bn2hex(bn) : nullptr;
  std::string text = hex ? hex : "";
  OPENSSL_free(hex);
  BN_free(bn);
  while (text.size() > 1 && text[0] == '0') text.erase(0, 1);
  return text;
}

std::string CheckIssued(X509* cert, STACK_OF(X509)* extra, const std::string& authorities_pem) {
  Ptr<X509_STORE> store(X509_STORE_new());
  for (auto& ca : ReadCerts(authorities_pem)) X509_STORE_add_cert(store.get(), ca.get());
  Ptr<X509_STORE_CTX> ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), store.get(), cert, extra) != 1) return "cannot check";
  X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_ANY);
  if (X509_verify_cert(ctx.get()) == 1) return {};
  std::string why = X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
  ERR_clear_error();
  return why;
}

OrderCheck CheckSignedOrder(const std::string& order, const std::string& signature_base64, X509* visitor,
                            const std::string& authorities_pem, const LiveCertificateLookup& live) {
  if (order.empty()) return Refused("no order");
  auto der = Base64DecodeStrict(signature_base64);
  if (!der || der->empty()) return Refused("the signature is not base64");
  const auto* p = reinterpret_cast<const unsigned char*>(der->data());
  Ptr<PKCS7> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(der->size())));
  if (!p7 || !PKCS7_type_is_signed(p7.get()) || PKCS7_get_detached(p7.get())) {
    ERR_clear_error();
    return Refused("the signature is not a PKCS#7 signed-data message carrying its content");
  }
  STACK_OF(X509)* signers = PKCS7_get0_signers(p7.get(), nullptr, 0);
  const int count = signers ? sk_X509_num(signers) : 0;
  X509* signer = count == 1 ? sk_X509_value(signers, 0) : nullptr;
  if (signer) X509_up_ref(signer);
  sk_X509_free(signers);
  ERR_clear_error();
  Cert signer_cert(signer);
  if (!signer_cert) return Refused("the signature names no single signer certificate");

  OrderCheck check;
  check.cn = CommonName(signer_cert.get());
  check.serial = SerialText(signer_cert.get());
  STACK_OF(X509)* carried = p7->d.sign ? p7->d.sign->cert : nullptr;
  std::string why = CheckIssued(signer_cert.get(), carried, authorities_pem);
  if (!why.empty()) {
    check.reason = "the signer's certificate is not of the demo authority: " + why;
    return check;
  }
  if (!visitor || CommonName(visitor) != check.cn) {
    check.reason = "signed by another customer than the one logged in";
    return check;
  }
  auto live_der = live ? live(check.cn) : std::nullopt;
  Cert live_cert = live_der ? FromDer(*live_der) : nullptr;
  if (!live_cert || SerialText(live_cert.get()) != check.serial) {
    check.reason = "the signer's certificate is not the customer's live certificate (revoked, replaced or expired)";
    return check;
  }
  // Only the live certificate may have signed; its chain was checked above.
  Ptr<STACK_OF(X509)> only(sk_X509_new_null());
  sk_X509_push(only.get(), live_cert.get());
  Ptr<BIO> content(BIO_new(BIO_s_mem()));
  const int ok = PKCS7_verify(p7.get(), only.get(), nullptr, nullptr, content.get(), PKCS7_NOINTERN | PKCS7_NOVERIFY);
  sk_X509_zero(only.get());
  ERR_clear_error();
  if (ok != 1) {
    check.reason = "the signature does not verify with the customer's certificate";
    return check;
  }
  char* data = nullptr;
  long n = BIO_get_mem_data(content.get(), &data);
  if (std::string(data, static_cast<size_t>(n > 0 ? n : 0)) != order) {
    check.reason = "the signed content differs from the order";
    return check;
  }
  check.accepted = true;
  return check;
}

}  // namespace quil::devproxy
