#pragma once
// `quil reg`: QUIL's registry hive from the command line, in the shape of
// Windows' reg command that support staff know, for them and for
// installers (which register themselves with it):
//   quil reg query  KEY [/v NAME | /ve] [/s]
//   quil reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
//   quil reg delete KEY [/v NAME | /ve | /va] [/f]
// KEY is written "HKCU\..." or "HKEY_CURRENT_USER\...". Everything goes
// through the platform layer's hive.
#include <iosfwd>
#include <string>
#include <vector>

namespace quil {

// Runs one command (`args` are the words after "reg"). Yes/No questions
// (without /f) read their answer from `in`. Returns the exit status: 0
// success, 1 failure, with an "ERROR: ..." line on `err`.
int RunRegCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace quil
