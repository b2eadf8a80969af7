#pragma once
// The 49 methods the page may call, in their fixed order, with argument
// counts, return kinds and bodies. Adding a method body is one row here.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quil {

enum class Returns { kText, kShort, kNothing };

struct MethodReply {
  std::string text;       // Returns::kText: the reply text (wide)
  std::int16_t value = 0; // Returns::kShort
};

// Arguments as the body receives them: narrow (code page 950), except for
// methods marked kWideArgs; for kCnFromIdno methods the first argument is
// already the common name.
using MethodArgs = std::vector<std::string>;
using MethodBody = MethodReply (*)(const MethodArgs& args);

enum MethodFlags : unsigned {
  kNoFlags = 0,
  kCnFromIdno = 1,  // turn the first argument (idno) into the common name first
  kWideArgs = 2,    // hand the arguments over as they arrive (UTF-8)
};

struct MethodEntry {
  const char* name;
  int arg_count;
  Returns returns;
  unsigned flags;
  MethodBody body;  // nullptr: not available in this build (see RunMethod)
};

const std::vector<MethodEntry>& MethodTable();
const MethodEntry* FindMethod(std::string_view name);

// Runs one method with wide (UTF-8) arguments; the caller has checked the
// argument count. Never throws: a stray exception becomes code 1. A method
// without a body answers as a failure with code 1 in its return kind.
MethodReply RunMethod(const MethodEntry& method, const std::vector<std::string>& wide_args);

// The answer of a method that is not available in this build.
MethodReply UnavailableMethodReply(const MethodEntry& method);

}  // namespace quil
