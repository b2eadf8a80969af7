# Script mode: writes OUT, a C++ source defining
#   std::string_view quil::FUNCTION()
# that answers the bytes of the file PROGRAM (a program this build carries
# inside another one).
file(READ "${PROGRAM}" hex HEX)
file(SIZE "${PROGRAM}" size)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
set(body "// Generated. Do not edit.\n#include <string_view>\nnamespace quil {\nnamespace {\n")
string(APPEND body "const unsigned char kProgram[] = {${hex}0};\n}  // namespace\n")
string(APPEND body "std::string_view ${FUNCTION}() {\n")
string(APPEND body "  return {reinterpret_cast<const char*>(kProgram), ${size}};\n}\n}  // namespace quil\n")
file(WRITE "${OUT}.tmp" "${body}")
file(RENAME "${OUT}.tmp" "${OUT}")
