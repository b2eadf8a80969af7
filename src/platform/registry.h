#pragma once
// The current user's registry hive (HKEY_CURRENT_USER) with the Windows
// semantics the rest of the program relies on: backslash-separated key
// paths relative to the hive root, key and value names compared without
// regard to letter case but stored with their spelling, the default value
// under the empty name, and typed values.
//
// Names and REG_SZ / REG_EXPAND_SZ data are UTF-8 (the hive is Unicode as on
// Windows); callers holding narrow text convert it. Status values are the
// Windows error numbers so callers read them the same way on every platform.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quil::platform {

enum class RegType : std::uint32_t {
  kSz = 1,        // REG_SZ
  kExpandSz = 2,  // REG_EXPAND_SZ, never expanded by the hive
  kBinary = 3,    // REG_BINARY
  kDword = 4,     // REG_DWORD
};

struct RegValue {
  std::string name;  // as first written
  RegType type = RegType::kSz;
  std::string data;  // text for kSz/kExpandSz, raw bytes otherwise
  std::uint32_t dword = 0;  // kDword only
};

constexpr long kRegSuccess = 0;       // ERROR_SUCCESS
constexpr long kRegNotFound = 2;      // ERROR_FILE_NOT_FOUND
constexpr long kRegAccessDenied = 5;  // ERROR_ACCESS_DENIED
constexpr long kRegInvalid = 87;      // ERROR_INVALID_PARAMETER
constexpr long kRegNoMoreItems = 259; // ERROR_NO_MORE_ITEMS

class RegistryHive {
 public:
  virtual ~RegistryHive() = default;

  // Creates the key and every missing parent; succeeds when it exists.
  virtual long CreateKey(const std::string& path) = 0;
  virtual bool KeyExists(const std::string& path) = 0;
  // Deletes the key with its values and subkeys.
  virtual long DeleteKey(const std::string& path) = 0;

  // Sets a value on an existing key (kRegNotFound when the key is missing).
  virtual long SetValue(const std::string& path, const RegValue& value) = 0;
  // Creates the key when missing and sets every value, all or none: no
  // reader, and no crash at any moment, sees some of them written.
  virtual long SetValues(const std::string& path, const std::vector<RegValue>& values) = 0;
  virtual std::optional<RegValue> QueryValue(const std::string& path,
                                             const std::string& name) = 0;
  virtual long DeleteValue(const std::string& path, const std::string& name) = 0;

  // Enumeration by index, as RegEnumKeyEx / RegEnumValue: subkeys in name
  // order, values in the order they were first written. Nothing past the end.
  virtual std::optional<std::string> EnumKey(const std::string& path, int index) = 0;
  virtual std::optional<RegValue> EnumValue(const std::string& path, int index) = 0;
};

// The process-wide hive, opened on first use at ConfigFolder()/registry.db.
RegistryHive& CurrentUserHive();

// Opens (creating when needed) a hive database at `file`.
std::unique_ptr<RegistryHive> OpenRegistryHive(const std::string& file);

// Points CurrentUserHive() at another database (tests).
void SetCurrentUserHiveForTesting(std::unique_ptr<RegistryHive> hive);

// Helpers for the common value types.
RegValue RegSz(const std::string& name, const std::string& text);
RegValue RegDword(const std::string& name, std::uint32_t value);
RegValue RegBinary(const std::string& name, const std::string& bytes);

}  // namespace quil::platform
