#include "browsers/deployment_page.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <vector>

#include "base/client_version.h"
#include "base/files.h"
#include "base/settings.h"
#include "base/text.h"
#include "base/time_digits.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"
#include "proxy/transport.h"

namespace quil {
namespace {

bool IsBig5Lead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool IsBig5Trail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0xA1 && c <= 0xFE); }

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, format, value);
  out += escaped;
}

// The code points of UTF-8 text; nothing when it is not UTF-8.
std::optional<std::vector<unsigned>> CodePoints(const std::string& utf8) {
  std::vector<unsigned> points;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char b = static_cast<unsigned char>(utf8[i]);
    size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > utf8.size()) return std::nullopt;
    unsigned cp = n == 1 ? b : b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    points.push_back(cp);
    i += n;
  }
  return points;
}

// A narrow value inside a double-quoted script string, in ASCII alone:
// the script reads the same text whatever the template's own encoding
// (Big5 or UTF-8), and no byte can end the string or the script block. A
// lead byte is a character with its next byte only when that is a trail
// byte; a character becomes \uXXXX, every other byte that is not plain
// printable ASCII (a lone lead byte, quotes, "\", "<", ">", "&", controls)
// becomes \xNN.
std::string ScriptValue(const std::string& narrow) {
  std::string out;
  for (size_t i = 0; i < narrow.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(narrow[i]);
    if (IsBig5Lead(c) && i + 1 < narrow.size() && IsBig5Trail(static_cast<unsigned char>(narrow[i + 1]))) {
      auto points = CodePoints(platform::ToWide(narrow.substr(i, 2)));
      if (points && points->size() == 1 && (*points)[0] != '?') {
        unsigned cp = (*points)[0];
        if (cp > 0xFFFF) {
          cp -= 0x10000;
          AppendEscape(out, "\\u%04X", 0xD800 + (cp >> 10));
          AppendEscape(out, "\\u%04X", 0xDC00 + (cp & 0x3FF));
        } else {
          AppendEscape(out, "\\u%04X", cp);
        }
      } else {
        // A pair the code page has no character for.
        AppendEscape(out, "\\x%02X", c);
        AppendEscape(out, "\\x%02X", static_cast<unsigned char>(narrow[i + 1]));
      }
      ++i;
      continue;
    }
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\'' || c == '\\' || c == '<' || c == '>' || c == '&')
      AppendEscape(out, "\\x%02X", c);
    else out += static_cast<char>(c);
  }
  return out;
}


}  // namespace

std::string certInfoText(const CertInfoBlock& b) {
  const std::pair<const char*, const std::string*> fields[] = {
      {"opType", &b.opType},       {"cn", &b.cn},           {"serial", &b.serial},
      {"issuer", &b.issuer},       {"subject", &b.subject}, {"notBefore", &b.notBefore},
      {"notAfter", &b.notAfter},   {"certfinger", &b.certfinger}, {"b64P12Cert", &b.b64P12Cert},
      {"certb64", &b.certb64},
  };
  std::string text = "var certInfo={\n";
  for (size_t i = 0; i < std::size(fields); ++i) {
    text += "\"" + std::string(fields[i].first) + "\":\"" + ScriptValue(*fields[i].second) + "\"";
    text += i + 1 < std::size(fields) ? ",\n" : "\n";
  }
  return text + "};";
}

std::string fillTemplate(const std::string& page_template, const std::string& cert_info) {
  const std::string placeholder = kCertInfoPlaceholder;
  std::string out;
  size_t from = 0;
  for (size_t at; (at = page_template.find(placeholder, from)) != std::string::npos; from = at + placeholder.size())
    out.append(page_template, from, at - from).append(cert_info);
  return out.append(page_template, from, std::string::npos);
}

TemplateResult fetchDeploymentTemplate() {
  proxy::HttpReply reply =
      proxy::httpPost(platform::ToWide(getSetting("depCert.templateUrl")), {{"version", kClientVersion}});
  if (reply.result != 0) return {reply.result, {}};
  return {0, std::move(reply.body)};
}

std::string deploymentFolder() { return platform::HomeFolder() + "/mero"; }

std::string placeDeploymentPage(const std::string& page) {
  const std::string folder = deploymentFolder();
  deleteMatchingFiles(folder, "^MERODepCert\\.[0-9]+\\.htm$");
  const platform::LocalNow now = platform::CurrentLocalTime();
  const std::string path = folder + "/MERODepCert." + TimeDigitsWithMillis(now.tm, now.millis) + ".htm";
  (void)writeWholeFile(path, page);
  return deploymentAddress(path);
}

std::string deploymentAddress(const std::string& path) {
  std::string address = "file://";
  for (char c : path) {
    if (std::isspace(static_cast<unsigned char>(c))) address += "%20";
    else if (c == '%') address += "%25";
    else if (c == '#') address += "%23";
    else if (c == '?') address += "%3F";
    else address += c;
  }
  return address;
}

}  // namespace quil
