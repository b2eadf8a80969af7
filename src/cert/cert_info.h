#pragma once
// The certificate record and its readers.
//
// A record is a FieldMap with the fields cn, certUserId, serial, notBefore,
// notAfter, subject, issuer, ou, o, c, issuer_cn, issuer_ou, issuer_o,
// issuer_c (each reader sets its own subset, also when a value is empty).
// Values are narrow (code page 950); dates are fourteen local-time digits.
#include <string>

#include "base/field_map.h"
#include "base/result_codes.h"
#include "platform/cert_store.h"

namespace quil {

using CertInfo = FieldMap;

struct [[nodiscard]] CertInfoResult {
  int code = kFailed;
  CertInfo info;
};

// The record of the user certificate of a PKCS#12 file (DER bytes whose MAC
// the caller has verified): cn, certUserId, serial, notBefore, notAfter,
// subject (values' commas escaped as "\,"), issuer, ou, o. Code 0, or 52403
// when the file cannot be unpacked with `password` (no field set then).
CertInfoResult certInfoFromPkcs12(const std::string& pkcs12_der, const std::string& password);

// The SHA-256 fingerprint of the user certificate of a PKCS#12 file, as
// upper-case hexadecimal bytes joined by ":" (the form certificate viewers
// show); empty when the file does not open with `password`.
std::string certFingerprintFromPkcs12(const std::string& pkcs12_der, const std::string& password);

// The record of a store certificate: cn (display name), serial, notBefore,
// notAfter, subject and issuer (X.500 texts), ou, o, c (from the subject),
// issuer_cn, issuer_ou, issuer_o, issuer_c. Empty values for bytes that are
// not a certificate; never fails.
CertInfo certInfoFromContext(const std::string& cert_der);

// True when the record matches at least one non-empty "//"-separated group
// of the search key: every criterion of the group with a non-empty value
// (S_CN, S_OU, S_O, S_C, S_SN, O_CN, O_OU, O_O, O_C) equals its record
// field byte for byte. A group without criteria matches every record.
bool RecordMatchesKey(const std::string& key, const CertInfo& record);
// The same for a store certificate, through certInfoFromContext.
bool certMatchesKey(const std::string& key, const std::string& cert_der);

}  // namespace quil
