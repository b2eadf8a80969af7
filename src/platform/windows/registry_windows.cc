// The hive on the Windows registry functions. A hive is HKEY_CURRENT_USER
// itself, or (tests) one of its keys standing in for the root.
#include "platform/registry.h"

#include <windows.h>
#include <ktmw32.h>

#include <mutex>

#include "platform/windows/wide_text.h"

namespace quil::platform {
namespace {

class Key {
 public:
  Key() = default;
  explicit Key(HKEY h) : h_(h) {}
  ~Key() {
    if (h_) RegCloseKey(h_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &h_; }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

std::uint32_t LittleEndian32(const std::string& b) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[static_cast<size_t>(i)]);
  return v;
}

RegValue MakeValue(const std::wstring& name, DWORD type, const std::string& raw) {
  RegValue v;
  v.name = win::Utf8(name);
  v.type = static_cast<RegType>(type);
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::wstring text(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    v.data = win::Utf8(text);
  } else {
    v.data = raw;
    if (type == REG_DWORD && raw.size() >= 4) v.dword = LittleEndian32(raw);
  }
  return v;
}

long Write(HKEY key, const RegValue& value) {
  std::wstring name = win::Utf16(value.name);
  std::string raw;
  if (value.type == RegType::kSz || value.type == RegType::kExpandSz) {
    std::wstring text = win::Utf16(value.data);
    text.push_back(L'\0');
    raw.assign(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  } else if (value.type == RegType::kDword) {
    for (int i = 0; i < 4; ++i) raw.push_back(static_cast<char>((value.dword >> (8 * i)) & 0xFF));
  } else {
    raw = value.data;
  }
  return RegSetValueExW(key, name.c_str(), 0, static_cast<DWORD>(value.type),
                        reinterpret_cast<const BYTE*>(raw.data()), static_cast<DWORD>(raw.size()));
}

class WindowsHive : public RegistryHive {
 public:
  // `root`: the subkey of HKEY_CURRENT_USER that is this hive's root ("" for
  // the whole hive).
  explicit WindowsHive(std::string root) : root_(std::move(root)) {}

  long CreateKey(const std::string& path) override {
    Key key;
    return RegCreateKeyExW(HKEY_CURRENT_USER, Full(path).c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                           key.out(), nullptr);
  }

  bool KeyExists(const std::string& path) override {
    Key key;
    return Open(path, KEY_READ, &key) == ERROR_SUCCESS;
  }

  long DeleteKey(const std::string& path) override {
    if (path.find_first_not_of('\\') == std::string::npos) return kRegAccessDenied;  // the hive root stays
    Key key;
    long rc = Open(path, KEY_READ | KEY_WRITE | DELETE, &key);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegDeleteTreeW(key.get(), nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    return RegDeleteKeyW(HKEY_CURRENT_USER, Full(path).c_str());
  }

  long SetValue(const std::string& path, const RegValue& value) override {
    Key key;
    long rc = Open(path, KEY_SET_VALUE, &key);
    if (rc != ERROR_SUCCESS) return rc;
    return Write(key.get(), value);
  }

  // All values or none, in a registry transaction where the system has
  // them (Wine has the calls but answers ERROR_CALL_NOT_IMPLEMENTED: there
  // the values are written one by one).
  long SetValues(const std::string& path, const std::vector<RegValue>& values) override {
    HANDLE tx = CreateTransaction(nullptr, nullptr, 0, 0, 0, 0, nullptr);
    if (tx != INVALID_HANDLE_VALUE) {
      long rc = WriteValues(path, values, tx);
      if (rc == ERROR_SUCCESS && !CommitTransaction(tx)) rc = static_cast<long>(GetLastError());
      if (rc != ERROR_SUCCESS) RollbackTransaction(tx);
      CloseHandle(tx);
      if (rc != ERROR_CALL_NOT_IMPLEMENTED) return rc;
    }
    return WriteValues(path, values, nullptr);
  }

  // By enumeration, so the value comes back with the spelling it was first
  // written with, whatever the letter case of `name`.
  std::optional<RegValue> QueryValue(const std::string& path, const std::string& name) override {
    Key key;
    if (Open(path, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    std::wstring wanted = win::Utf16(name);
    for (DWORD i = 0;; ++i) {
      auto v = ValueAt(key.get(), i, &wanted);
      if (!v) return std::nullopt;
      if (v->first) return std::move(v->second);
    }
  }

  long DeleteValue(const std::string& path, const std::string& name) override {
    Key key;
    long rc = Open(path, KEY_SET_VALUE, &key);
    if (rc != ERROR_SUCCESS) return rc;
    return RegDeleteValueW(key.get(), win::Utf16(name).c_str());
  }

  std::optional<std::string> EnumKey(const std::string& path, int index) override {
    Key key;
    if (index < 0 || Open(path, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    wchar_t name[256];
    DWORD len = 256;
    if (RegEnumKeyExW(key.get(), static_cast<DWORD>(index), name, &len, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return std::nullopt;
    return win::Utf8(name, len);
  }

  std::optional<RegValue> EnumValue(const std::string& path, int index) override {
    Key key;
    if (index < 0 || Open(path, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    auto v = ValueAt(key.get(), static_cast<DWORD>(index), nullptr);
    if (!v) return std::nullopt;
    return std::move(v->second);
  }

 private:
  long WriteValues(const std::string& path, const std::vector<RegValue>& values, HANDLE tx) {
    Key key;
    long rc = tx ? RegCreateKeyTransactedW(HKEY_CURRENT_USER, Full(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                           nullptr, key.out(), nullptr, tx, nullptr)
                 : RegCreateKeyExW(HKEY_CURRENT_USER, Full(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                   key.out(), nullptr);
    for (const auto& v : values) {
      if (rc != ERROR_SUCCESS) break;
      rc = Write(key.get(), v);
    }
    return rc;
  }

  std::wstring Full(const std::string& path) const {
    std::string full = root_;
    if (!full.empty() && !path.empty()) full += "\\";
    full += path;
    return win::Utf16(full);
  }

  long Open(const std::string& path, REGSAM access, Key* key) const {
    return RegOpenKeyExW(HKEY_CURRENT_USER, Full(path).c_str(), 0, access, key->out());
  }

  // The value at `index`, with whether its name equals `*wanted` ignoring
  // letter case (always false without `wanted`); nothing past the end.
  static std::optional<std::pair<bool, RegValue>> ValueAt(HKEY key, DWORD index, const std::wstring* wanted) {
    DWORD max_name = 0, max_data = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &max_name, &max_data,
                         nullptr, nullptr) != ERROR_SUCCESS)
      return std::nullopt;
    for (int attempt = 0; attempt < 3; ++attempt) {
      std::wstring name(max_name + 1, L'\0');
      std::string data(max_data, '\0');
      DWORD name_len = max_name + 1, type = 0, data_len = max_data;
      LONG rc = RegEnumValueW(key, index, name.data(), &name_len, nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &data_len);
      if (rc == ERROR_MORE_DATA) {  // written meanwhile: grow and try again
        max_name = max_name * 2 + 64;
        max_data = max_data * 2 + 64;
        continue;
      }
      if (rc != ERROR_SUCCESS) return std::nullopt;
      name.resize(name_len);
      data.resize(data_len);
      bool match = wanted && CompareStringOrdinal(name.c_str(), static_cast<int>(name.size()), wanted->c_str(),
                                                  static_cast<int>(wanted->size()), TRUE) == CSTR_EQUAL;
      return std::make_pair(match, MakeValue(name, type, data));
    }
    return std::nullopt;
  }

  std::string root_;
};

std::mutex g_hive_mutex;
std::unique_ptr<RegistryHive> g_hive;

}  // namespace

std::unique_ptr<RegistryHive> OpenRegistryHive(const std::string& location) {
  std::string root = location;
  for (auto& c : root)
    if (c == '/') c = '\\';
  auto hive = std::make_unique<WindowsHive>(root);
  if (!root.empty() && hive->CreateKey("") != kRegSuccess) return nullptr;
  return hive;
}

RegistryHive& CurrentUserHive() {
  std::lock_guard<std::mutex> lock(g_hive_mutex);
  if (!g_hive) g_hive = std::make_unique<WindowsHive>("");
  return *g_hive;
}

void SetCurrentUserHiveForTesting(std::unique_ptr<RegistryHive> hive) {
  std::lock_guard<std::mutex> lock(g_hive_mutex);
  g_hive = std::move(hive);
}

}  // namespace quil::platform
