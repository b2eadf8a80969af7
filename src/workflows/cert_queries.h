#pragma once
// What the proxy, this computer and a PKCS#12 file know of the customer's
// certificate. None changes a store or a file; the client and file queries
// record a PKCS#12 file and password they opened as env.userPfxFilePath
// and env.userPfxFilePwd, and remember the customer's latest certificate
// they read as the one held (cert/held_certificate.h). Identity numbers and
// results are narrow. Every function blocks on the application thread.
#include <string>

#include "cert/cert_info.h"
#include "proxy/actions.h"

namespace quil::workflows {

// qryCert for the common name of `idno`: 54401 (no cn), the transport's
// code, 54403, 54405, or 0 with every field of the reply.
proxy::MapResult ServerCertInfo(const std::string& idno);

// qryCert2 for the common name of `idno`: the same codes; on 0 the pcCert
// fields and the mobile certificates in document order.
proxy::Cert2Result ServerCertInfo2(const std::string& idno);

// The certificate this computer holds for the customer's latest installed
// certificate: from the store or file that env.read.primaryCertStore
// names (a file through the load dialog, always shown), else from
// env.read.secondaryCertStore. Codes: 1 (the proxy names no latest
// certificate), 0, 52403, 53401, 54406 (no secondary source), 54609, 54615.
CertInfoResult ClientCertInfo(const std::string& idno);

// The record of the PKCS#12 file at `path` (wide, "/") opened with
// `password`, which must hold the customer's latest certificate, with the
// certificate's SHA-256 fingerprint as `sha256Fingerprint`. Codes:
// 54035 (no latest certificate), 52301, 52203, 52303, 52205, 52207, 52403, 0.
CertInfoResult PfxCertInfo(const std::string& idno, const std::string& path, const std::string& password);

}  // namespace quil::workflows
