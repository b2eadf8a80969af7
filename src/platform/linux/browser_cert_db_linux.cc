#include "platform/browser_cert_db.h"

#include <fcntl.h>
#include <nss.h>
#include <p12.h>
#include <pk11pub.h>
#include <prerror.h>
#include <secerr.h>
#include <secmod.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <algorithm>
#include <fstream>
#include <memory>
#include <mutex>

#include "platform/environment.h"

namespace quil::platform {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// An XDG base folder: the variable when it holds an absolute path, else
// the home's default.
std::string XdgFolder(const char* variable, const char* fallback) {
  std::string value = GetEnv(variable);
  return !value.empty() && value[0] == '/' ? value : HomeFolder() + fallback;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string NssErrorText() {
  PRErrorCode code = PR_GetError();
  const char* text = PR_ErrorToString(code, PR_LANGUAGE_I_DEFAULT);
  if (text && *text) return text;
  return "錯誤代碼:" + std::to_string(code);
}

// NSS without a database of its own; each browser database is opened as a
// slot of its own. Never asks for a password.
bool NssReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    ready = NSS_IsInitialized() || NSS_NoDB_Init(nullptr) == SECSuccess;
    if (ready) PK11_SetPasswordFunc([](PK11SlotInfo*, PRBool, void*) -> char* { return nullptr; });
  });
  return ready;
}

// A value of the NSS module parameters, in single quotes.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

struct SlotCloser {
  void operator()(PK11SlotInfo* slot) const {
    SECMOD_CloseUserDB(slot);
    PK11_FreeSlot(slot);
  }
};
using OpenSlot = std::unique_ptr<PK11SlotInfo, SlotCloser>;

struct Opened {
  OpenSlot slot;
  CertDbResult failure;  // when !slot
};

// Opens the database folder as a slot, logged in with the empty password
// (set on a database that has none yet).
Opened OpenDb(const std::string& folder) {
  Opened o;
  o.failure.status = CertDbStatus::kUnopenable;
  if (!NssReady()) {
    o.failure.reason = NssErrorText();
    return o;
  }
  static int opened = 0;
  std::string params = "configdir=" + Quoted("sql:" + folder) + " tokenDescription=" +
                       Quoted("QUIL browser database " + std::to_string(++opened));
  PK11SlotInfo* raw = SECMOD_OpenUserDB(params.c_str());
  if (!raw) {
    o.failure.reason = NssErrorText();
    return o;
  }
  OpenSlot slot(raw);
  if (!PK11_IsPresent(slot.get())) {
    o.failure.reason = NssErrorText();
    return o;
  }
  if (PK11_NeedUserInit(slot.get()) && PK11_InitPin(slot.get(), nullptr, "") != SECSuccess) {
    o.failure.reason = NssErrorText();
    return o;
  }
  if (PK11_NeedLogin(slot.get()) && !PK11_IsLoggedIn(slot.get(), nullptr) &&
      PK11_CheckUserPassword(slot.get(), "") != SECSuccess) {
    o.failure.status = CertDbStatus::kPasswordProtected;
    o.failure.reason = NssErrorText();
    return o;
  }
  o.slot = std::move(slot);
  return o;
}

bool HasDatabase(const std::string& folder) {
  return Exists(folder + "/cert9.db") || Exists(folder + "/cert8.db");
}

// The PKCS#12 password as the key derivation takes it: each byte widened to
// big-endian UCS-2 and two zero bytes at the end, as OpenSSL makes it.
std::string BmpPassword(const std::string& password) {
  std::string bmp;
  for (char c : password) {
    bmp += '\0';
    bmp += c;
  }
  bmp.append(2, '\0');
  return bmp;
}

struct Nickname {
  std::string user_cert_der;
  std::string nickname;
};

SECStatus RenameUserCert(const CERTCertificate* cert, const SECItem*, SECItem** new_nickname, void* arg) {
  const auto* want = static_cast<const Nickname*>(arg);
  *new_nickname = nullptr;
  if (cert->derCert.len != want->user_cert_der.size() ||
      !std::equal(want->user_cert_der.begin(), want->user_cert_der.end(),
                  reinterpret_cast<const char*>(cert->derCert.data)))
    return SECSuccess;
  SECItem* item = SECITEM_AllocItem(nullptr, nullptr, static_cast<unsigned>(want->nickname.size() + 1));
  if (!item) return SECFailure;
  item->type = siAsciiString;
  std::copy(want->nickname.begin(), want->nickname.end(), item->data);
  item->data[want->nickname.size()] = 0;
  *new_nickname = item;
  return SECSuccess;
}

// Another certificate with the same nickname and another subject: NSS asks
// for a new one.
SECItem* Collision(SECItem* old_nickname, PRBool* cancel, void*) {
  *cancel = PR_FALSE;
  std::string base = old_nickname && old_nickname->data
                         ? std::string(reinterpret_cast<char*>(old_nickname->data), old_nickname->len)
                         : std::string("QUIL");
  while (!base.empty() && base.back() == '\0') base.pop_back();
  std::string name = base + " (2)";
  SECItem* item = SECITEM_AllocItem(nullptr, nullptr, static_cast<unsigned>(name.size() + 1));
  if (!item) return nullptr;
  item->type = siAsciiString;
  std::copy(name.begin(), name.end(), item->data);
  item->data[name.size()] = 0;
  return item;
}

struct DecoderCloser {
  void operator()(SEC_PKCS12DecoderContext* d) const { SEC_PKCS12DecoderFinish(d); }
};

CertDbResult Refused() {
  CertDbResult r;
  r.status = CertDbStatus::kRefused;
  r.reason = NssErrorText();
  return r;
}

CertDbResult Import(PK11SlotInfo* slot, const std::string& der, std::string bmp, Nickname* nickname) {
  SECItem pw{siBuffer, reinterpret_cast<unsigned char*>(bmp.data()), static_cast<unsigned>(bmp.size())};
  std::unique_ptr<SEC_PKCS12DecoderContext, DecoderCloser> dcx(
      SEC_PKCS12DecoderStart(&pw, slot, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!dcx) return Refused();
  std::string bytes = der;
  if (SEC_PKCS12DecoderUpdate(dcx.get(), reinterpret_cast<unsigned char*>(bytes.data()), bytes.size()) !=
          SECSuccess ||
      SEC_PKCS12DecoderVerify(dcx.get()) != SECSuccess ||
      SEC_PKCS12DecoderRenameCertNicknames(dcx.get(), RenameUserCert, nickname) != SECSuccess ||
      SEC_PKCS12DecoderValidateBags(dcx.get(), Collision) != SECSuccess ||
      SEC_PKCS12DecoderImportBags(dcx.get()) != SECSuccess)
    return Refused();
  CertDbResult done;
  done.status = CertDbStatus::kDone;
  return done;
}

// profiles.ini: the folder of each [Profile...] section, relative ones
// under the file's folder.
void ReadProfiles(const std::string& base, BrowserPackage package, std::vector<BrowserCertDb>& out) {
  std::ifstream in(base + "/profiles.ini");
  if (!in) return;
  struct Section {
    std::string name, path;
    bool relative = true;
    bool profile = false;
  };
  std::vector<Section> sections;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      sections.push_back({});
      sections.back().profile = line.rfind("[Profile", 0) == 0;
      continue;
    }
    size_t eq = line.find('=');
    if (sections.empty() || eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "Name") sections.back().name = value;
    else if (key == "Path") sections.back().path = value;
    else if (key == "IsRelative") sections.back().relative = value != "0";
  }
  for (const auto& s : sections) {
    if (!s.profile || s.path.empty()) continue;
    std::string folder = s.relative ? base + "/" + s.path : s.path;
    bool seen = std::any_of(out.begin(), out.end(), [&](const BrowserCertDb& db) { return db.folder == folder; });
    if (!seen && IsFolder(folder)) out.push_back({BrowserCertDb::Kind::kFirefox, package, folder, s.name});
  }
}

}  // namespace

std::vector<BrowserCertDb> ChromiumCertDbs(BrowserPackage package) {
  const std::string home = HomeFolder();
  std::string browser_home = home, data_home = XdgFolder("XDG_DATA_HOME", "/.local/share");
  // The package's own folder, made by its package manager when the browser
  // first runs (snapd links "current" to the revision's folder): never made
  // here, so a browser that never ran has no database to fill yet.
  std::string package_folder;
  if (package == BrowserPackage::kSnap) {
    browser_home = package_folder = home + "/snap/chromium/current";
    data_home = browser_home + "/.local/share";
  } else if (package == BrowserPackage::kFlatpak) {
    package_folder = home + "/.var/app/org.chromium.Chromium";
    data_home = package_folder + "/data";
  }
  std::string legacy = browser_home + "/.pki/nssdb";
  if (IsFolder(legacy)) return {{BrowserCertDb::Kind::kChromium, package, legacy, ""}};
  if (!package_folder.empty() && !IsFolder(package_folder)) return {};
  return {{BrowserCertDb::Kind::kChromium, package, data_home + "/pki/nssdb", ""}};
}

std::vector<BrowserCertDb> FirefoxCertDbs(BrowserPackage package) {
  const std::string home = HomeFolder();
  std::vector<std::string> bases;
  switch (package) {
    case BrowserPackage::kNative:
      bases = {home + "/.mozilla/firefox", XdgFolder("XDG_CONFIG_HOME", "/.config") + "/mozilla/firefox"};
      break;
    case BrowserPackage::kSnap:
      bases = {home + "/snap/firefox/common/.mozilla/firefox", home + "/snap/firefox/common/.config/mozilla/firefox"};
      break;
    case BrowserPackage::kFlatpak:
      bases = {home + "/.var/app/org.mozilla.firefox/.mozilla/firefox",
               home + "/.var/app/org.mozilla.firefox/config/mozilla/firefox"};
      break;
  }
  std::vector<BrowserCertDb> dbs;
  for (const auto& base : bases) ReadProfiles(base, package, dbs);
  return dbs;
}

bool FillsBrowserCertDbs() { return true; }

bool CertDbExists(const BrowserCertDb& db) { return HasDatabase(db.folder); }

bool CertDbInUse(const BrowserCertDb& db) {
  if (db.kind != BrowserCertDb::Kind::kFirefox) return false;
  // A running Firefox holds a lock on .parentlock; F_GETLK sees it also
  // from outside the browser's sandbox.
  int fd = open((db.folder + "/.parentlock").c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd >= 0) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    bool held = fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close(fd);
    if (held) return true;
  }
  // "lock" names "<address>:+<pid>" of the running browser.
  char target[256];
  ssize_t n = readlink((db.folder + "/lock").c_str(), target, sizeof target - 1);
  if (n <= 0) return false;
  std::string text(target, static_cast<size_t>(n));
  size_t plus = text.rfind(":+");
  if (plus == std::string::npos) return false;
  long pid = std::strtol(text.c_str() + plus + 2, nullptr, 10);
  return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

CertDbResult ImportPkcs12IntoCertDb(const BrowserCertDb& db, const std::string& pkcs12_der,
                                    const std::string& password, const std::string& user_cert_der,
                                    const std::string& nickname) {
  if (!MakeFolders(db.folder)) {
    CertDbResult r;
    r.status = CertDbStatus::kUnopenable;
    r.reason = "無法建立資料夾 " + db.folder;
    return r;
  }
  Opened opened = OpenDb(db.folder);
  if (!opened.slot) return opened.failure;
  Nickname name{user_cert_der, nickname};
  CertDbResult r = Import(opened.slot.get(), pkcs12_der, BmpPassword(password), &name);
  // A file made with an empty password may carry no password at all.
  if (r.status != CertDbStatus::kDone && password.empty())
    r = Import(opened.slot.get(), pkcs12_der, std::string(), &name);
  return r;
}

CertDbResult RemoveFromCertDb(const BrowserCertDb& db, const std::function<bool(const std::string&)>& matches) {
  CertDbResult r;
  r.status = CertDbStatus::kDone;
  if (!HasDatabase(db.folder)) return r;
  Opened opened = OpenDb(db.folder);
  if (!opened.slot) return opened.failure;
  CERTCertList* list = PK11_ListCertsInSlot(opened.slot.get());
  if (!list) return r;  // an empty database lists nothing
  for (CERTCertListNode* node = CERT_LIST_HEAD(list); !CERT_LIST_END(node, list); node = CERT_LIST_NEXT(node)) {
    std::string der(reinterpret_cast<const char*>(node->cert->derCert.data), node->cert->derCert.len);
    if (!matches(der)) continue;
    if (PK11_DeleteTokenCertAndKey(node->cert, nullptr) != SECSuccess) {
      r.status = CertDbStatus::kRefused;
      r.reason = NssErrorText();
      continue;
    }
    ++r.removed;
  }
  CERT_DestroyCertList(list);
  return r;
}

}  // namespace quil::platform
