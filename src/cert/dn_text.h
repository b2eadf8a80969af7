#pragma once
// The text rules of certificate records: user ids, serial numbers, times,
// distinguished-name attributes and search keys. All texts are narrow;
// none of these functions fails.
#include <string>
#include <vector>

namespace quil {

// Which reader's pattern: the PKCS#12 reader's "^([^-]+)(-.*)?$" or the
// store reader's "^([^-]+).*$" (both replaced by "$1").
enum class UserIdPattern { kPkcs12Reader, kStoreReader };

// The part of a common name before its first "-". A cn without "-" comes
// back whole; one that begins with "-", and "", come back unchanged.
std::string userIdFromCn(const std::string& cn, UserIdPattern pattern = UserIdPattern::kPkcs12Reader);

// Upper-case hexadecimal of the serial's bytes (most significant first)
// without leading zeros; all-zero bytes give "".
std::string serialText(const std::string& big_endian_bytes);

// The ASN.1 time types a certificate's validity uses.
enum class AsnTimeType { kUtcTime, kGeneralizedTime, kOther };

// Fourteen digits YYYYMMDDHHMMSS in the system time zone for an ASN.1 time
// text (UTC). A two-digit UTCTime year YY means 20YY. Other types, an
// unreadable text or a year not after 1900 give "".
std::string certTimeText(AsnTimeType type, const std::string& time_text);

// The NAME=value items of a comma-separated dn text. A value runs to the
// comma before the next NAME= (O=Exmpl, Inc. is one item), keeps any white
// space before that comma and loses the white space after its "=". Empty
// when the text is no such list.
struct DnItem {
  std::string name;
  std::string value;
};
std::vector<DnItem> DnItems(const std::string& dn);

// The value of the first item named `name` (CN, OU, O, S, L, C) of a dn
// text; the whole dn text when there is none.
std::string pickDnAttribute(const std::string& dn, const std::string& name);

// The value of the last `name`= item of a dn or search-key text, without
// surrounding white space and double quotes; "" when absent.
std::string extractDnValue(const std::string& dn, const std::string& name);

// The search key for a certificate by issuer text and serial text:
// "//O_CN=..,O_OU=..,O_O=..,O_C=..,S_SN=<serial>//".
std::string issuerKey(const std::string& issuer, const std::string& serial);

}  // namespace quil
