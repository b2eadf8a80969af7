#pragma once
// The operator's prescribed registry values (proxy action getRegSet):
// getClientReg reports, item by item, the value found in the hive next to
// the value required; setClientReg writes the required values. The items
// are fetched afresh on every call; nothing is cached. Blocking;
// application thread only.
#include <string>

#include "base/field_map.h"
#include "base/result_codes.h"

namespace quil {

struct [[nodiscard]] ClientRegCheck {
  int code = kFailed;  // kOk, 59903 (refused or no root), 59905 (empty or not XML)
  // regId -> current + "#" + required + "#" + description; "A1" is the
  // security component: "1#1#" or "0#1#" + component.activeX.codeBase32.
  FieldMap entries;
};

// Method getClientReg. For a "DW" item the current value is the DWORD in
// unsigned decimal, "" when the value is missing or of another type; for
// a string item its text, "" when missing; "0" when the key itself does
// not exist.
ClientRegCheck getClientReg();

// Method setClientReg: creates the items' keys and writes their values
// ("DW": the number the text begins with, as atoi reads it; otherwise
// REG_SZ). Single items that fail are skipped; 0 once the items were read.
int setClientReg();

}  // namespace quil
