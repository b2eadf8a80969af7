#include "base/base64.h"

#include "base/openssl_ptr.h"

namespace quil {
namespace {

bool InAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// A base64 BIO without line breaks on top of `next`.
ossl::Ptr<BIO> Base64Over(BIO* next) {
  BIO* b64 = BIO_new(BIO_f_base64());
  if (!b64) {
    BIO_free_all(next);
    return nullptr;
  }
  BIO_set_flags(b64, BIO_FLAGS_BASE64_NO_NL);
  return ossl::Ptr<BIO>(BIO_push(b64, next));
}

}  // namespace

std::string base64Encode(const std::string& bytes) {
  BIO* memory = BIO_new(BIO_s_mem());
  if (!memory) return {};
  ossl::Ptr<BIO> b64 = Base64Over(memory);
  if (!b64) return {};
  if (!bytes.empty() && BIO_write(b64.get(), bytes.data(), static_cast<int>(bytes.size())) <= 0) return {};
  if (BIO_flush(b64.get()) != 1) return {};
  return ossl::MemoryBytes(memory);
}

std::string base64Decode(const std::string& text) {
  // The protocol's leniency first; OpenSSL decodes what is left.
  std::string clean;
  clean.reserve(text.size());
  for (char c : text) {
    if (c == '\0') break;
    if (InAlphabet(c)) clean.push_back(c);
  }
  switch (clean.size() % 4) {
    case 1: clean.pop_back(); break;
    case 2: clean += "=="; break;
    case 3: clean += "="; break;
  }
  if (clean.empty()) return {};
  ossl::Ptr<BIO> b64 = Base64Over(BIO_new_mem_buf(clean.data(), static_cast<int>(clean.size())));
  if (!b64) return {};
  std::string out;
  char buf[4096];
  for (int n; (n = BIO_read(b64.get(), buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  return out;
}

bool IsStrictBase64(const std::string& text) {
  if (text.size() % 4 != 0) return false;
  size_t end = text.size();
  while (end > 0 && text.size() - end < 2 && text[end - 1] == '=') --end;
  for (size_t i = 0; i < end; ++i)
    if (!InAlphabet(text[i])) return false;
  return true;
}

}  // namespace quil
