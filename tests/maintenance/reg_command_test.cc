// quil reg, run as support staff and installers run it: one table of
// commands in order against a fresh hive, each with its exit status and
// exact output.
#include "maintenance/reg_command.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/registry.h"
#include "support/test_env.h"

namespace quil {
namespace {

using testing::ScopedTestHome;

constexpr char kOk[] = "The operation completed successfully.\n";
constexpr char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.\n";

struct Step {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string err;  // a prefix of the error output
  std::string answer = "";
};

void RunSteps(const std::vector<Step>& steps) {
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    std::istringstream in(s.answer);
    std::ostringstream out, err;
    EXPECT_EQ(RunRegCommand(s.args, in, out, err), s.status);
    EXPECT_EQ(out.str(), s.out);
    if (s.err.empty()) {
      EXPECT_EQ(err.str(), "");
    } else {
      EXPECT_EQ(err.str().substr(0, s.err.size()), s.err);
    }
  }
}

TEST(RegCommandTest, AddQueryAndDeleteEveryType) {
  ScopedTestHome home;
  const std::string key = "HKCU\\Software\\Test";
  RunSteps({
      {"a key alone", {"add", key}, 0, kOk, ""},
      {"REG_SZ is the default type", {"add", key, "/v", "Name", "/d", "hello world"}, 0, kOk, ""},
      {"REG_EXPAND_SZ kept unexpanded", {"add", key, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%HOME%\\bin"}, 0, kOk, ""},
      {"REG_DWORD in decimal", {"add", key, "/v", "Level", "/t", "REG_DWORD", "/d", "42"}, 0, kOk, ""},
      {"REG_DWORD in hexadecimal, type in any case", {"add", key, "/v", "Mask", "/t", "reg_dword", "/d", "0xFFFFFFFF"}, 0, kOk, ""},
      {"REG_BINARY as digit pairs", {"add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", "0a1B2c"}, 0, kOk, ""},
      {"the default value", {"add", key, "/ve", "/d", "default text"}, 0, kOk, ""},
      {"a subkey through other spellings", {"add", "HKEY_CURRENT_USER\\SOFTWARE\\test\\Sub", "-v", "x", "-d", "y"}, 0, kOk, ""},
      {"the key with its values and subkeys", {"query", key}, 0,
       "\nHKEY_CURRENT_USER\\Software\\Test\n"
       "    Name    REG_SZ    hello world\n"
       "    Path    REG_EXPAND_SZ    %HOME%\\bin\n"
       "    Level    REG_DWORD    0x2a\n"
       "    Mask    REG_DWORD    0xffffffff\n"
       "    Blob    REG_BINARY    0A1B2C\n"
       "    (Default)    REG_SZ    default text\n"
       "\n"
       "HKEY_CURRENT_USER\\Software\\Test\\Sub\n",
       ""},
      {"one value, names in another case", {"query", "hkcu\\software\\TEST\\", "/V", "LEVEL"}, 0,
       "\nHKEY_CURRENT_USER\\software\\TEST\n    Level    REG_DWORD    0x2a\n\n", ""},
      {"an existing value is kept when the user says no", {"add", key, "/v", "LEVEL", "/t", "REG_DWORD", "/d", "7"}, 1,
       "Value LEVEL exists, overwrite (Yes/No)? The operation was canceled by the user.\n", "", "no\n"},
      {"no answer at all is no", {"add", key, "/v", "Level", "/d", "x"}, 1,
       "Value Level exists, overwrite (Yes/No)? The operation was canceled by the user.\n", ""},
      {"and replaced when the user says yes", {"add", key, "/v", "LEVEL", "/t", "REG_DWORD", "/d", "7"}, 0,
       std::string("Value LEVEL exists, overwrite (Yes/No)? ") + kOk, "", "Yes\n"},
      {"the name keeps its first spelling", {"query", key, "/v", "level"}, 0,
       "\nHKEY_CURRENT_USER\\Software\\Test\n    Level    REG_DWORD    0x7\n\n", ""},
      {"/f replaces without asking, also the type", {"add", key, "/v", "level", "/d", "seven", "/f"}, 0, kOk, ""},
      {"the default value by /ve", {"query", key, "/ve"}, 0,
       "\nHKEY_CURRENT_USER\\Software\\Test\n    (Default)    REG_SZ    default text\n\n", ""},
      {"a default value never set", {"query", key + "\\Sub", "/ve"}, 0,
       "\nHKEY_CURRENT_USER\\Software\\Test\\Sub\n    (Default)    REG_SZ    (value not set)\n\n", ""},
      {"the whole tree", {"query", key + "\\sub", "/s"}, 0,
       "\nHKEY_CURRENT_USER\\Software\\Test\\sub\n    x    REG_SZ    y\n\n", ""},
      {"a value searched in the tree", {"query", key, "/v", "X", "/s"}, 0,
       "\nHKEY_CURRENT_USER\\Software\\Test\\Sub\n    x    REG_SZ    y\n\nEnd of search: 1 match(es) found.\n", ""},
      {"a value deleted", {"delete", key, "/v", "Name", "/f"}, 0, kOk, ""},
      {"is gone", {"query", key, "/v", "Name"}, 1, "", kNotFound},
      {"every value of the key, not of its subkeys", {"delete", key, "/va", "/f"}, 0, kOk, ""},
      {"leaves the key and its subkey", {"query", key}, 0,
       "\nHKEY_CURRENT_USER\\Software\\Test\n\nHKEY_CURRENT_USER\\Software\\Test\\Sub\n", ""},
      {"a key is kept when the user says no", {"delete", key}, 1,
       "Permanently delete the registry key HKEY_CURRENT_USER\\Software\\Test (Yes/No)? "
       "The operation was canceled by the user.\n", "", "n\n"},
      {"and deleted with its subkeys on y", {"delete", key}, 0,
       std::string("Permanently delete the registry key HKEY_CURRENT_USER\\Software\\Test (Yes/No)? ") + kOk, "", "y\n"},
      {"so the subkey is gone too", {"query", key + "\\Sub"}, 1, "", kNotFound},
  });
}

TEST(RegCommandTest, ErrorsSayWhatIsWrongAndChangeNothing) {
  ScopedTestHome home;
  const std::string key = "HKCU\\Software\\Test";
  RunSteps({
      {"a missing key", {"query", key}, 1, "", kNotFound},
      {"a missing value", {"delete", "HKCU\\Software", "/v", "x", "/f"}, 1, "", kNotFound},
      {"deleting a missing key", {"delete", key, "/f"}, 1, "", kNotFound},
      {"an unknown type", {"add", key, "/v", "a", "/t", "REG_MULTI_SZ", "/d", "x"}, 1, "",
       "ERROR: Invalid type REG_MULTI_SZ: give REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_BINARY."},
      {"DWORD text with letters", {"add", key, "/v", "a", "/t", "REG_DWORD", "/d", "12abc"}, 1, "",
       "ERROR: Invalid REG_DWORD data \"12abc\": give a number from 0 to 4294967295"},
      {"a DWORD too large", {"add", key, "/v", "a", "/t", "REG_DWORD", "/d", "4294967296"}, 1, "",
       "ERROR: Invalid REG_DWORD data \"4294967296\""},
      {"a negative DWORD", {"add", key, "/v", "a", "/t", "REG_DWORD", "/d", "-1"}, 1, "",
       "ERROR: Invalid REG_DWORD data \"-1\""},
      {"an empty DWORD", {"add", key, "/v", "a", "/t", "REG_DWORD", "/d", ""}, 1, "",
       "ERROR: Invalid REG_DWORD data \"\""},
      {"hexadecimal without digits", {"add", key, "/v", "a", "/t", "REG_DWORD", "/d", "0x"}, 1, "",
       "ERROR: Invalid REG_DWORD data \"0x\""},
      {"binary with an odd digit", {"add", key, "/v", "a", "/t", "REG_BINARY", "/d", "abc"}, 1, "",
       "ERROR: Invalid REG_BINARY data \"abc\""},
      {"none of that created the key", {"query", key}, 1, "", kNotFound},
      {"another hive", {"add", "HKLM\\Software\\Test", "/f"}, 1, "",
       "ERROR: Invalid key name HKLM\\Software\\Test: QUIL keeps HKCU (HKEY_CURRENT_USER) only."},
      {"an option of another operation", {"query", key, "/f"}, 1, "", "ERROR: Invalid syntax. Unknown option /f."},
      {"/v without its name", {"query", key, "/v"}, 1, "", "ERROR: Invalid syntax. /v needs a value."},
      {"/v and /ve together", {"add", key, "/v", "a", "/ve"}, 1, "", "ERROR: Invalid syntax. Give only one of"},
      {"no key", {"add"}, 1, "", "ERROR: Invalid syntax. The key is missing."},
      {"no operation", {}, 1, "", "ERROR: Invalid syntax. Name an operation"},
      {"an unknown operation", {"copy", key}, 1, "", "ERROR: Invalid operation copy"},
      {"the hive's root stays", {"delete", "HKCU", "/f"}, 1, "", "ERROR: The root of the hive cannot be deleted."},
  });
}

TEST(RegCommandTest, UsageOnRequest) {
  ScopedTestHome home;
  std::istringstream in;
  std::ostringstream out, err;
  EXPECT_EQ(RunRegCommand({"add", "/?"}, in, out, err), 0);
  EXPECT_NE(out.str().find("quil reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]"), std::string::npos);
  EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace quil
