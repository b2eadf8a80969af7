#pragma once
// What QUIL leaves in the current user's hive for the signing host
// (quil-signer), which runs without the proxy and without QUIL:
//   Software\MERO\QUILSigner   origins    the web origins that may ask for
//                                         signatures, joined by ","
//                              cn         the certificate last put into the
//                                         browsers (deployCert)
//                              program    QUIL's program file, and
//                              arguments  its options ("--demo" or ""), to
//                                         start QUIL for a confirmation
// Texts are wide (UTF-8). Writing never fails the caller.
#include <optional>
#include <string>
#include <vector>

#include "base/field_map.h"
#include "cert/held_certificate.h"

namespace quil {

// The origin ("https://host[:port]", lower case, without the default port)
// of an operator's address; a bare host name counts as https. Empty for
// anything else: another scheme, user information, an unreadable host.
std::string SigningOriginOf(const std::string& address);

// Remembers the origins of the operator's list: the proxy's (from
// `proxy_url`) and those of the comma-separated addresses of the setting
// depCert.targetUrl in `settings`. Called whenever the settings load.
void RememberSigningOrigins(const FieldMap& settings, const std::string& proxy_url);

// The remembered origins.
std::vector<std::string> SigningOrigins();

// Whether `origin`, as a browser reports a page's origin, is on the list.
bool IsSigningOriginAllowed(const std::string& origin);

// Remembers the certificate put into the browsers, by its common name.
void RememberSigningCertificate(const std::string& wide_cn);

// The certificate pages get signatures with: the one last put into the
// browsers when it is still held, else the only one held; nothing when
// none or several are held and none was put into the browsers.
std::optional<HeldCertificate> SigningCertificate();

// Remembers how QUIL is started (`arguments` space-separated options).
void RememberQuilProgram(const std::string& program, const std::string& arguments);

struct QuilProgram {
  std::string program;
  std::vector<std::string> arguments;
};
// How to start QUIL; an empty program when never remembered.
QuilProgram RememberedQuilProgram();

}  // namespace quil
