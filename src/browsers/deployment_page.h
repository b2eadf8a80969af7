#pragma once
// The deployment page: the operator's HTML template with the certInfo
// script block in place of every "#importCertInfo#", written into the
// deployment folder ($HOME/mero) as "MERODepCert.<17 digits>.htm", and the
// address the browsers are given. Texts are narrow (code page 950) unless
// said otherwise; the page keeps the template's own encoding.
#include <string>

#include "base/result_codes.h"

namespace quil {

inline constexpr char kCertInfoPlaceholder[] = "#importCertInfo#";

// The values of the certInfo block, in its line order.
struct CertInfoBlock {
  std::string opType;  // "deploy" or "remove"
  std::string cn, serial, issuer, subject, notBefore, notAfter;
  std::string certfinger;  // the proxy's certHash (removal), else ""
  std::string b64P12Cert;  // the PKCS#12 in base64 (deployment), else ""
  std::string certb64;     // the certificate in base64 (deployment), else ""
};

// Twelve lines: "var certInfo={", one line per field as
// "name":"value", (the last without the comma), and "};", each ending in a
// line feed but the last. Values are written in ASCII alone: every
// character of code page 950 beyond ASCII as \uXXXX, and quotes,
// backslashes, "<", ">", "&", control characters and bytes that are no
// character (a lead byte without its trail byte) as \xNN, so no value can
// end the string or the script block early, whatever the template's
// encoding, and the script reads the same text in a Big5 and a UTF-8 page.
std::string certInfoText(const CertInfoBlock& block);

// The template with every placeholder replaced by `cert_info`.
std::string fillTemplate(const std::string& page_template, const std::string& cert_info);

struct [[nodiscard]] TemplateResult {
  int code = kFailed;  // 0, 1 (other status or empty body), 59999 (network, after its message box)
  std::string page;    // the whole reply body
};
// Posts version=<client version> to the setting depCert.templateUrl.
TemplateResult fetchDeploymentTemplate();

// $HOME/mero (wide).
std::string deploymentFolder();

// Deletes the older deployment pages of the folder (names matching
// "^MERODepCert\.[0-9]+\.htm$"; other files stay), writes `page` as a new
// one named by the local time and answers its address. When the file
// cannot be written the shared writer shows its message and the address of
// the missing file is answered all the same.
std::string placeDeploymentPage(const std::string& page);

// "file://" + the path (wide, absolute), every white-space character as
// "%20"; "%", "#" and "?" are escaped too so that the address names the
// file.
std::string deploymentAddress(const std::string& path);

}  // namespace quil
