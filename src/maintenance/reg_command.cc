#include "maintenance/reg_command.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <istream>
#include <optional>
#include <ostream>

#include "base/hex_text.h"
#include "platform/registry.h"

namespace quil {
namespace {

using platform::RegType;
using platform::RegValue;

constexpr char kRootName[] = "HKEY_CURRENT_USER";
constexpr char kDone[] = "The operation completed successfully.";
constexpr char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.";
constexpr char kDenied[] = "ERROR: Access is denied.";
constexpr char kCanceled[] = "The operation was canceled by the user.";

constexpr char kUsage[] =
    "usage: quil reg query  KEY [/v NAME | /ve] [/s]\n"
    "       quil reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
    "       quil reg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "\n"
    "  KEY    HKCU\\SubKey (or HKEY_CURRENT_USER\\SubKey): QUIL's registry hive\n"
    "  /v     the value NAME         /ve  the default value (no name)\n"
    "  /va    every value of KEY     /s   KEY and all its subkeys\n"
    "  /t     REG_SZ (default), REG_EXPAND_SZ, REG_DWORD or REG_BINARY\n"
    "  /d     the data: text; a DWORD in decimal or 0x hexadecimal; binary as\n"
    "         hexadecimal digit pairs (0a1b2c)\n"
    "  /f     change or delete without asking\n"
    "Key and value names are the same in any letter case. Exit status 0 on\n"
    "success, 1 on failure.\n";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct Command {
  std::string op;                    // "query", "add" or "delete"
  std::string key;                   // below the hive root, no trailing "\"
  std::string shown_key;             // "HKEY_CURRENT_USER\..." as typed
  std::optional<std::string> value;  // /v NAME, or "" for /ve
  bool all_values = false;           // /va
  bool recurse = false;              // /s
  bool force = false;                // /f
  std::optional<std::string> type;   // /t
  std::optional<std::string> data;   // /d
};

std::string SyntaxError(const std::string& op, const std::string& why = {}) {
  return "ERROR: Invalid syntax." + (why.empty() ? "" : " " + why) + "\nType \"quil reg " + op +
         " /?\" for usage.";
}

// "HKCU\a\b" or "HKEY_CURRENT_USER\a\b" -> "a\b"; nothing for other roots.
std::optional<std::string> KeyBelowRoot(const std::string& text) {
  size_t slash = text.find('\\');
  std::string root = Lower(text.substr(0, slash));
  if (root != "hkcu" && root != "hkey_current_user") return std::nullopt;
  std::string rest = slash == std::string::npos ? std::string() : text.substr(slash + 1);
  while (!rest.empty() && rest.back() == '\\') rest.pop_back();
  return rest;
}

// The options each operation takes.
bool Allowed(const std::string& op, const std::string& option) {
  if (option == "/v" || option == "/ve") return true;
  if (op == "query") return option == "/s";
  if (op == "add") return option == "/t" || option == "/d" || option == "/f";
  return option == "/va" || option == "/f";
}

// Parses the words after the operation; the error text when they are wrong.
std::optional<std::string> Parse(const std::vector<std::string>& args, Command* c) {
  c->op = Lower(args[0]);
  if (args.size() < 2) return SyntaxError(c->op, "The key is missing.");
  auto key = KeyBelowRoot(args[1]);
  if (!key)
    return "ERROR: Invalid key name " + args[1] + ": QUIL keeps HKCU (HKEY_CURRENT_USER) only.\nType \"quil reg " +
           c->op + " /?\" for usage.";
  c->key = *key;
  c->shown_key = c->key.empty() ? kRootName : std::string(kRootName) + "\\" + c->key;
  int names = 0;
  for (size_t i = 2; i < args.size(); ++i) {
    std::string option = Lower(args[i]);
    if (option.size() > 1 && option[0] == '-') option[0] = '/';
    if (!Allowed(c->op, option)) return SyntaxError(c->op, "Unknown option " + args[i] + ".");
    bool takes_word = option == "/v" || option == "/t" || option == "/d";
    if (takes_word && i + 1 >= args.size()) return SyntaxError(c->op, args[i] + " needs a value.");
    if (option == "/v") {
      c->value = args[++i];
      ++names;
    } else if (option == "/ve") {
      c->value = "";
      ++names;
    } else if (option == "/va") {
      c->all_values = true;
      ++names;
    } else if (option == "/s") {
      c->recurse = true;
    } else if (option == "/f") {
      c->force = true;
    } else if (option == "/t") {
      if (c->type) return SyntaxError(c->op, "/t is given twice.");
      c->type = args[++i];
    } else if (option == "/d") {
      if (c->data) return SyntaxError(c->op, "/d is given twice.");
      c->data = args[++i];
    }
  }
  if (names > 1) return SyntaxError(c->op, "Give only one of /v, /ve and /va.");
  return std::nullopt;
}

std::string TypeName(RegType type) {
  switch (type) {
    case RegType::kSz: return "REG_SZ";
    case RegType::kExpandSz: return "REG_EXPAND_SZ";
    case RegType::kBinary: return "REG_BINARY";
    case RegType::kDword: return "REG_DWORD";
  }
  return "REG_NONE";
}

std::optional<RegType> TypeFromName(const std::string& name) {
  std::string n = Lower(name);
  if (n == "reg_sz") return RegType::kSz;
  if (n == "reg_expand_sz") return RegType::kExpandSz;
  if (n == "reg_dword") return RegType::kDword;
  if (n == "reg_binary") return RegType::kBinary;
  return std::nullopt;
}

std::string DataText(const RegValue& v) {
  switch (v.type) {
    case RegType::kDword: {
      char out[16];
      std::snprintf(out, sizeof out, "0x%x", v.dword);
      return out;
    }
    case RegType::kBinary:
      return HexText(v.data);
    default:
      return v.data;
  }
}

std::string ValueLine(const RegValue& v) {
  return "    " + (v.name.empty() ? std::string("(Default)") : v.name) + "    " + TypeName(v.type) + "    " +
         DataText(v);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A DWORD written in decimal or as 0x followed by hexadecimal digits.
std::optional<std::uint32_t> ParseDword(const std::string& text) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  size_t start = hex ? 2 : 0;
  if (text.size() <= start) return std::nullopt;
  std::uint64_t n = 0;
  for (size_t i = start; i < text.size(); ++i) {
    int d = hex ? HexDigit(text[i]) : (std::isdigit(static_cast<unsigned char>(text[i])) ? text[i] - '0' : -1);
    if (d < 0) return std::nullopt;
    n = n * (hex ? 16 : 10) + static_cast<std::uint64_t>(d);
    if (n > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<std::uint32_t>(n);
}

std::optional<std::string> ParseBinary(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(hi * 16 + lo));
  }
  return bytes;
}

// The value /t and /d describe; the error text when they are wrong.
std::optional<std::string> MakeValue(const Command& c, RegValue* v) {
  v->name = c.value.value_or("");
  RegType type = RegType::kSz;
  if (c.type) {
    auto t = TypeFromName(*c.type);
    if (!t)
      return "ERROR: Invalid type " + *c.type + ": give REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_BINARY.";
    type = *t;
  }
  v->type = type;
  std::string data = c.data.value_or("");
  if (type == RegType::kDword) {
    auto n = c.data ? ParseDword(data) : std::optional<std::uint32_t>(0);
    if (!n)
      return "ERROR: Invalid REG_DWORD data \"" + data +
             "\": give a number from 0 to 4294967295, in decimal or as 0x followed by hexadecimal digits.";
    v->dword = *n;
  } else if (type == RegType::kBinary) {
    auto bytes = ParseBinary(data);
    if (!bytes)
      return "ERROR: Invalid REG_BINARY data \"" + data + "\": give pairs of hexadecimal digits, such as 0a1b2c.";
    v->data = *bytes;
  } else {
    v->data = data;
  }
  return std::nullopt;
}

class Runner {
 public:
  Runner(const Command& c, std::istream& in, std::ostream& out, std::ostream& err)
      : c_(c), hive_(platform::CurrentUserHive()), in_(in), out_(out), err_(err) {}

  int Query();
  int Add();
  int Delete();

 private:
  int Fail(const std::string& message) {
    err_ << message << "\n";
    return 1;
  }
  int Done() {
    out_ << kDone << "\n";
    return 0;
  }
  // Asks unless /f was given; true to go on.
  bool Confirm(const std::string& question) {
    if (c_.force) return true;
    out_ << question << " (Yes/No)? " << std::flush;
    std::string answer;
    std::getline(in_, answer);
    answer = Lower(answer);
    while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) answer.pop_back();
    if (answer == "y" || answer == "yes") return true;
    out_ << kCanceled << "\n";
    return false;
  }
  std::vector<RegValue> Values(const std::string& key) {
    std::vector<RegValue> values;
    for (int i = 0;; ++i) {
      auto v = hive_.EnumValue(key, i);
      if (!v) return values;
      values.push_back(*v);
    }
  }
  std::vector<std::string> Subkeys(const std::string& key) {
    std::vector<std::string> names;
    for (int i = 0;; ++i) {
      auto k = hive_.EnumKey(key, i);
      if (!k) return names;
      names.push_back(*k);
    }
  }
  static std::string Child(const std::string& parent, const std::string& name) {
    return parent.empty() ? name : parent + "\\" + name;
  }
  void ListTree(const std::string& key, const std::string& shown);
  int SearchTree(const std::string& key, const std::string& shown);

  const Command& c_;
  platform::RegistryHive& hive_;
  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
};

void Runner::ListTree(const std::string& key, const std::string& shown) {
  out_ << "\n" << shown << "\n";
  for (const auto& v : Values(key)) out_ << ValueLine(v) << "\n";
  for (const auto& name : Subkeys(key)) ListTree(Child(key, name), shown + "\\" + name);
}

// Prints the keys below `key` (itself included) that hold the value; the
// number of matches.
int Runner::SearchTree(const std::string& key, const std::string& shown) {
  int found = 0;
  if (auto v = hive_.QueryValue(key, *c_.value)) {
    out_ << "\n" << shown << "\n" << ValueLine(*v) << "\n";
    ++found;
  }
  for (const auto& name : Subkeys(key)) found += SearchTree(Child(key, name), shown + "\\" + name);
  return found;
}

int Runner::Query() {
  if (!hive_.KeyExists(c_.key)) return Fail(kNotFound);
  if (c_.value && c_.recurse) {
    int found = SearchTree(c_.key, c_.shown_key);
    out_ << "\nEnd of search: " << found << " match(es) found.\n";
    return 0;
  }
  if (c_.value) {
    auto v = hive_.QueryValue(c_.key, *c_.value);
    if (!v && !c_.value->empty()) return Fail(kNotFound);
    out_ << "\n" << c_.shown_key << "\n";
    out_ << (v ? ValueLine(*v) : "    (Default)    REG_SZ    (value not set)") << "\n\n";
    return 0;
  }
  if (c_.recurse) {
    ListTree(c_.key, c_.shown_key);
    out_ << "\n";
    return 0;
  }
  out_ << "\n" << c_.shown_key << "\n";
  for (const auto& v : Values(c_.key)) out_ << ValueLine(v) << "\n";
  out_ << "\n";
  for (const auto& name : Subkeys(c_.key)) out_ << c_.shown_key << "\\" << name << "\n";
  return 0;
}

int Runner::Add() {
  bool names_value = c_.value || c_.type || c_.data;
  RegValue value;
  if (names_value) {
    if (auto problem = MakeValue(c_, &value)) return Fail(*problem);
  }
  if (hive_.CreateKey(c_.key) != platform::kRegSuccess) return Fail(kDenied);
  if (!names_value) return Done();
  if (hive_.QueryValue(c_.key, value.name) &&
      !Confirm("Value " + (value.name.empty() ? std::string("(Default)") : value.name) + " exists, overwrite"))
    return 1;
  if (hive_.SetValue(c_.key, value) != platform::kRegSuccess) return Fail(kDenied);
  return Done();
}

int Runner::Delete() {
  if (!hive_.KeyExists(c_.key)) return Fail(kNotFound);
  if (c_.value) {
    if (!hive_.QueryValue(c_.key, *c_.value)) return Fail(kNotFound);
    if (!Confirm("Delete the registry value " + (c_.value->empty() ? std::string("(Default)") : *c_.value)))
      return 1;
    if (hive_.DeleteValue(c_.key, *c_.value) != platform::kRegSuccess) return Fail(kDenied);
    return Done();
  }
  if (c_.all_values) {
    if (!Confirm("Delete all values under the registry key " + c_.shown_key)) return 1;
    for (const auto& v : Values(c_.key))
      if (hive_.DeleteValue(c_.key, v.name) != platform::kRegSuccess) return Fail(kDenied);
    return Done();
  }
  if (c_.key.empty()) return Fail("ERROR: The root of the hive cannot be deleted.");
  if (!Confirm("Permanently delete the registry key " + c_.shown_key)) return 1;
  if (hive_.DeleteKey(c_.key) != platform::kRegSuccess) return Fail(kDenied);
  return Done();
}

bool AsksForUsage(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a == "/?" || a == "-?" || a == "-h" || a == "--help") return true;
  return false;
}

}  // namespace

int RunRegCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  if (AsksForUsage(args)) {
    out << kUsage;
    return 0;
  }
  if (args.empty()) {
    err << "ERROR: Invalid syntax. Name an operation: query, add or delete.\n" << kUsage;
    return 1;
  }
  Command c;
  std::string op = Lower(args[0]);
  if (op != "query" && op != "add" && op != "delete") {
    err << "ERROR: Invalid operation " << args[0] << ": give query, add or delete.\n" << kUsage;
    return 1;
  }
  if (auto problem = Parse(args, &c)) {
    err << *problem << "\n";
    return 1;
  }
  Runner run(c, in, out, err);
  if (op == "query") return run.Query();
  if (op == "add") return run.Add();
  return run.Delete();
}

}  // namespace quil
