// Names and serials read from certificates: every text is read whole, in
// time that grows with its length. Short texts are also read by the
// standard library's backtracking matcher with the same patterns, and both
// must agree (longer ones would make that matcher recurse per character or
// run for ever).
#include <cstdint>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>

#include "cert/cert_info.h"
#include "cert/dn_text.h"

namespace {

// The reference backtracks: its time doubles with each list item, so only
// short texts are compared.
constexpr size_t kReferenceMaxSize = 24;

std::string Reference(const std::string& text, const std::string& pattern, const char* format,
                      bool matches_only = false) {
  static std::map<std::string, std::regex>* compiled = new std::map<std::string, std::regex>;
  auto it = compiled->find(pattern);
  if (it == compiled->end())
    it = compiled->emplace(pattern, std::regex(pattern, std::regex::ECMAScript | std::regex::multiline)).first;
  const std::regex& re = it->second;
  return std::regex_replace(text, re, format,
                            matches_only ? std::regex_constants::format_no_copy : std::regex_constants::format_default);
}

std::string AnchoredPattern(const std::string& name) {
  return "^.*\\s*" + name + "\\s*=\\s*\"?([^=]*)\"?(\\s*,\\s*([a-zA-Z0-9_]+)\\s*=\\s*.*)*$";
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // No carriage return in the comparison: the reference also ends lines
  // there, the program at line feeds only.
  const bool compare = size <= kReferenceMaxSize && text.find('\r') == std::string::npos;
  for (const char* name : {"CN", "OU", "O", "C"}) {
    std::string picked = quil::pickDnAttribute(text, name);
    std::string extracted = quil::extractDnValue(text, name);
    // pickDnAttribute reads NAME=value items (a name inside another item's
    // value is no item of its own), so it has no pattern to compare with.
    (void)picked;
    if (compare) {
      Check(extracted == Reference(Reference(text, AnchoredPattern(name), "$1", true), "^[\\s\"]+|[\\s\"]+$", ""));
    }
  }
  std::string pkcs12_user = quil::userIdFromCn(text, quil::UserIdPattern::kPkcs12Reader);
  std::string store_user = quil::userIdFromCn(text, quil::UserIdPattern::kStoreReader);
  std::string serial = quil::serialText(text);
  std::string key = quil::issuerKey(text, "01");
  quil::CertInfo record{{"cn", text}, {"serial", "01"}, {"issuer_cn", text}};
  (void)quil::RecordMatchesKey(text, record);
  (void)quil::RecordMatchesKey(key, record);
  if (compare) {
    Check(pkcs12_user == Reference(text, "^([^-]+)(-.*)?$", "$1"));
    Check(store_user == Reference(text, "^([^-]+).*$", "$1"));
  }
  return 0;
}
