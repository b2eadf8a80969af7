#pragma once
// What certificate the customer holds on this computer and where, so the
// expiry reminder (`quil --check-expiry`) can warn without the proxy and
// without a password.
//
// Kept in the current user's hive beside (not under) Software\MERO\QUIL,
// whose subkeys are the pending keys; one key per common name:
//   Software\MERO\QUILReminder\HeldCertificates\<cn>   cn, serial, issuer, notAfter,
//                                              store, path (REG_SZ); revoked
//                                              (its time) once revoked
//   ...\<cn>\Announced                         one value per reminder stage
//                                              already shown (its time)
// A later certificate of the same customer replaces the earlier one, so a
// renewed certificate is never warned about as the old one.
#include <string>
#include <vector>

#include "cert/cert_info.h"

namespace quil {

// Where a held certificate is kept.
struct HeldLocation {
  std::string store;  // "pfx": a PKCS#12 file; "ieCertStore": the "MY" store
  std::string path;   // the file (wide, "/"), for "pfx"
};
inline HeldLocation InPfxFile(const std::string& path) { return {"pfx", path}; }
inline HeldLocation InMyStore() { return {"ieCertStore", ""}; }

// A remembered certificate. Wide (UTF-8) texts; notAfter as the record has
// it, fourteen local-time digits.
struct HeldCertificate {
  std::string cn;
  std::string serial;
  std::string issuer;
  std::string notAfter;
  HeldLocation where;
  std::string revoked;  // when the proxy accepted its revocation; "" while valid
};

// Remembers that the customer holds the certificate of `record` (a record
// as the readers make it, narrow: cn, serial, issuer, notAfter) at `where`.
// Call it whenever QUIL has written the customer's certificate to a file or
// a store, or has read it back from one: saving after an application,
// qryPfxCertInfo and qryClntCertInfo, and renewing or downloading. It
// replaces the record of the same cn; when the serial differs, the stages
// already announced are forgotten with it. A record without cn or notAfter
// is ignored. Never fails the caller: hive errors are not reported.
// Application thread.
void RememberHeldCertificate(const CertInfo& record, const HeldLocation& where);

// Marks the certificate held for `cn` (narrow) as revoked at `when`: the
// proxy accepted the revocation of the customer's current certificate. A
// certificate saved later under that cn replaces the mark.
void RememberRevokedCertificate(const std::string& cn, const std::string& when);

// Every remembered certificate, in the order of their common names.
std::vector<HeldCertificate> HeldCertificates();

// The reminder stages already announced for `cert` (names chosen by the
// reminder), and remembering one more. A stage is only remembered while the
// hive still holds `cert` with that serial.
std::vector<std::string> AnnouncedStages(const HeldCertificate& cert);
void RememberAnnounced(const HeldCertificate& cert, const std::string& stage, const std::string& when);

}  // namespace quil
