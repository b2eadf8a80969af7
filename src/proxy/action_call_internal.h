#pragma once
// The steps every action shares: URL, envelope, parse, root and, for most,
// the reply's acceptance (proxy/ only).
#include <string>

#include "base/field_map.h"
#include "base/result_codes.h"
#include "proxy/reply_reader.h"

namespace quil::proxy::internal {

enum class Envelope { kRsa, kAes };

// Codes of the catalogue's columns: kPassThrough returns the transport's
// own result (1 or 59999); kNoCode marks an action without a code of its
// own for that step (the outcome is then 1, which such callers ignore).
constexpr int kPassThrough = -1;
constexpr int kNoCode = -2;
// The action reads a refused reply itself (its rtnCode, rtnMsg or fields).
constexpr int kAnyReply = -3;

struct FailureCodes {
  int call;
  int parse;
  int no_root;
  int refused = kAnyReply;  // a reply whose rtnCode is not "0"
};

struct [[nodiscard]] Exchange {
  int code = kFailed;  // kOk: root holds the reply's root element
  XmlElement root;
};

Exchange CallAction(Envelope envelope, const char* action, const FieldMap& fields, FailureCodes codes);

}  // namespace quil::proxy::internal
