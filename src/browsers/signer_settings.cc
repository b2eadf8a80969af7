#include "browsers/signer_settings.h"

#include <algorithm>
#include <cctype>

#include "base/text.h"
#include "platform/registry.h"
#include "platform/text_codec.h"

namespace quil {
namespace {

constexpr char kKey[] = "Software\\MERO\\QUILSigner";

std::string Text(const char* name) {
  auto v = platform::CurrentUserHive().QueryValue(kKey, name);
  return v && v->type == platform::RegType::kSz ? v->data : std::string();
}

void Write(const char* name, const std::string& text) {
  auto& hive = platform::CurrentUserHive();
  auto v = hive.QueryValue(kKey, name);
  if (v && v->type == platform::RegType::kSz && v->data == text) return;  // nothing new
  (void)hive.SetValues(kKey, {platform::RegSz(name, text)});
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool HostCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

}  // namespace

std::string SigningOriginOf(const std::string& address_in) {
  std::string address = address_in;
  // Trim blanks the operator's list may carry around its items.
  while (!address.empty() && std::isspace(static_cast<unsigned char>(address.back()))) address.pop_back();
  size_t first = 0;
  while (first < address.size() && std::isspace(static_cast<unsigned char>(address[first]))) ++first;
  address.erase(0, first);

  std::string rest;
  const size_t scheme_end = address.find("://");
  if (scheme_end == std::string::npos) {
    rest = address;  // a bare host
  } else {
    if (Lower(address.substr(0, scheme_end)) != "https") return {};
    rest = address.substr(scheme_end + 3);
  }
  const std::string authority = rest.substr(0, rest.find_first_of("/?#"));
  if (authority.empty() || authority.find('@') != std::string::npos) return {};

  std::string host, port;
  if (authority[0] == '[') {  // an IPv6 literal
    const size_t close = authority.find(']');
    if (close == std::string::npos) return {};
    host = authority.substr(0, close + 1);
    const std::string after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return {};
      port = after.substr(1);
    }
    if (!std::all_of(host.begin() + 1, host.end() - 1,
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; }))
      return {};
  } else {
    const size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    if (colon != std::string::npos) port = authority.substr(colon + 1);
    if (host.empty() || !std::all_of(host.begin(), host.end(), HostCharacter)) return {};
  }
  if (!port.empty()) {
    if (port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return {};
    const long number = std::stol(port);
    if (number <= 0 || number > 65535) return {};
    port = std::to_string(number);
  }
  std::string origin = "https://" + Lower(host);
  if (!port.empty() && port != "443") origin += ":" + port;
  return origin;
}

void RememberSigningOrigins(const FieldMap& settings, const std::string& proxy_url) {
  std::vector<std::string> origins;
  auto add = [&origins](const std::string& address) {
    std::string origin = SigningOriginOf(address);
    if (!origin.empty() && std::find(origins.begin(), origins.end(), origin) == origins.end())
      origins.push_back(origin);
  };
  add(proxy_url);
  for (const auto& target : SplitNonEmpty(platform::ToWide(FieldOf(settings, "depCert.targetUrl")), ',')) add(target);
  std::string joined;
  for (const auto& origin : origins) joined += (joined.empty() ? "" : ",") + origin;
  Write("origins", joined);
}

std::vector<std::string> SigningOrigins() { return SplitNonEmpty(Text("origins"), ','); }

bool IsSigningOriginAllowed(const std::string& origin) {
  if (origin.empty()) return false;
  // The browser's text must be an origin already: the same after reading.
  const std::string normal = SigningOriginOf(origin);
  if (normal != origin) return false;
  const auto list = SigningOrigins();
  return std::find(list.begin(), list.end(), origin) != list.end();
}

void RememberSigningCertificate(const std::string& wide_cn) { Write("cn", wide_cn); }

std::optional<HeldCertificate> SigningCertificate() {
  const std::vector<HeldCertificate> held = HeldCertificates();
  const std::string deployed = Text("cn");
  for (const auto& cert : held)
    if (!deployed.empty() && cert.cn == deployed) return cert;
  if (held.size() == 1) return held.front();
  return std::nullopt;
}

void RememberQuilProgram(const std::string& program, const std::string& arguments) {
  if (Text("program") == program && Text("arguments") == arguments && !program.empty()) return;
  (void)platform::CurrentUserHive().SetValues(
      kKey, {platform::RegSz("program", program), platform::RegSz("arguments", arguments)});
}

QuilProgram RememberedQuilProgram() { return {Text("program"), SplitNonEmpty(Text("arguments"), ' ')}; }

}  // namespace quil
