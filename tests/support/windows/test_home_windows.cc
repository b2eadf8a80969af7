// The test home on Windows: the profile folders in a fresh temporary
// folder, a registry key standing in for HKEY_CURRENT_USER, and the system
// stores put back as they were; commands through cmd.exe.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <utility>
#include <vector>

#include "platform/environment.h"
#include "platform/random.h"
#include "platform/registry.h"
#include "support/test_env.h"

namespace quil::testing {
namespace {

const wchar_t* const kVars[] = {L"USERPROFILE", L"TEMP", L"TMP", L"APPDATA", L"LOCALAPPDATA"};
const wchar_t* const kStores[] = {L"MY", L"CA", L"ROOT"};
constexpr char kHivesKey[] = "Software\\QUIL tests";

std::wstring Env(const wchar_t* name) {
  DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return L"\x01";
  std::wstring v(n, L'\0');
  v.resize(GetEnvironmentVariableW(name, v.data(), n));
  return v;
}

void SetEnv(const wchar_t* name, const std::wstring& value) {
  // Through the C runtime, which passes it on to the process environment.
  _wputenv_s(name, value == L"\x01" ? L"" : value.c_str());
}

std::string RandomHex() {
  unsigned char b[8] = {};
  (void)platform::SecureRandomBytes(b, sizeof b);
  std::string out;
  for (unsigned char c : b) {
    out.push_back("0123456789ABCDEF"[c >> 4]);
    out.push_back("0123456789ABCDEF"[c & 15]);
  }
  return out;
}

// The SHA-1 hashes of the certificates in a system store's registry part.
std::set<std::string> Thumbprints(const wchar_t* store_name) {
  std::set<std::string> out;
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, store_name);
  if (!store) return out;
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(store, c)) != nullptr) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (CertGetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, hash, &size))
      out.insert(std::string(reinterpret_cast<char*>(hash), size));
  }
  CertCloseStore(store, 0);
  return out;
}

// Through the store's registry part: Wine does not pass a deletion made
// through the system store on to it.
void RemoveAllBut(const wchar_t* store_name, const std::set<std::string>& keep) {
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, store_name);
  if (!store) return;
  std::vector<PCCERT_CONTEXT> doomed;
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(store, c)) != nullptr) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (CertGetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, hash, &size) &&
        !keep.count(std::string(reinterpret_cast<char*>(hash), size)))
      doomed.push_back(CertDuplicateCertificateContext(c));
  }
  for (PCCERT_CONTEXT d : doomed) CertDeleteCertificateFromStore(d);  // frees d
  CertCloseStore(store, 0);
}

}  // namespace

const char* WineVersion() {
  using Fn = const char*(CDECL*)();
  auto fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
  return fn ? fn() : nullptr;
}

struct ScopedTestHome::Saved {
  std::vector<std::pair<const wchar_t*, std::wstring>> vars;  // "\x01" = unset
  std::vector<std::set<std::string>> stores;
  std::string hive_key;
};

ScopedTestHome::ScopedTestHome() : saved_(new Saved) {
  std::filesystem::path base = std::filesystem::temp_directory_path() / ("quil-test-" + RandomHex());
  std::filesystem::create_directories(base / "tmp");
  std::filesystem::create_directories(base / "AppData" / "Roaming");
  std::filesystem::create_directories(base / "AppData" / "Local");
  root_ = base.u8string();
  for (auto& c : root_)
    if (c == '\\') c = '/';
  for (const wchar_t* v : kVars) saved_->vars.emplace_back(v, Env(v));
  for (const wchar_t* s : kStores) saved_->stores.push_back(Thumbprints(s));
  SetEnv(L"USERPROFILE", base.wstring());
  SetEnv(L"TEMP", (base / "tmp").wstring());
  SetEnv(L"TMP", (base / "tmp").wstring());
  SetEnv(L"APPDATA", (base / "AppData" / "Roaming").wstring());
  SetEnv(L"LOCALAPPDATA", (base / "AppData" / "Local").wstring());
  saved_->hive_key = std::string(kHivesKey) + "\\" + RandomHex();
  platform::SetCurrentUserHiveForTesting(platform::OpenRegistryHive(saved_->hive_key));
}

ScopedTestHome::~ScopedTestHome() {
  platform::SetCurrentUserHiveForTesting(nullptr);
  RegDeleteTreeW(HKEY_CURRENT_USER, std::filesystem::u8path(saved_->hive_key).wstring().c_str());
  for (size_t i = 0; i < saved_->stores.size(); ++i) RemoveAllBut(kStores[i], saved_->stores[i]);
  for (const auto& [name, value] : saved_->vars) SetEnv(name, value);
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::u8path(root_), ec);
  delete saved_;
}

int RunCommand(const std::string& command, std::string* output) {
  FILE* p = _popen((command + " 2>&1").c_str(), "rb");
  if (!p) return -1;
  char buf[4096];
  std::string out;
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = _pclose(p);  // the exit code itself
  if (output) *output = out;
  return status;
}

}  // namespace quil::testing
