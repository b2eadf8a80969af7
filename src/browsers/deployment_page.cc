#include "browsers/deployment_page.h"

#include <cctype>
#include <cstdio>

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

// A narrow value inside a double-quoted script string.
std::string ScriptValue(const std::string& narrow) {
  std::string out;
  for (size_t i = 0; i < narrow.size();) {
    size_t len = NarrowCharLength(narrow, i);
    unsigned char c = static_cast<unsigned char>(narrow[i]);
    if (len == 1 && (c == '"' || c == '\\' || c == '<' || c < 0x20)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out.append(narrow, i, len);
    }
    i += len;
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
