// quil killed with SIGKILL at random moments while it saves PKCS#12 files,
// changes their password and writes the hive, round after round: afterwards every file opens with
// its old or its new content, a login read back is one call's, no temporary
// outlives the next save, and every database passes its integrity check.
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "cert/openssl_providers.h"
#include "cert/pfx_file.h"
#include "devproxy/devproxy.h"
#include "platform/environment.h"
#include "platform/registry.h"
#include "support/test_env.h"

extern char** environ;

namespace quil {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int kRounds = 40;
constexpr char kLoginKey[] = "Software\\MERO\\QUIL\\PELISecuritiesLoginInfo";

// One quil --no-browser process, called over its bridge as automation does.
class QuilProcess {
 public:
  QuilProcess() {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string program = std::string(QUIL_TEST_BINARY_DIR) + "/src/quil";
    std::vector<char*> argv = {program.data(), const_cast<char*>("--no-browser"), nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line = ReadLine(out[0]);
    close(out[0]);
    // http://127.0.0.1:PORT/?token=TOKEN
    size_t colon = line.rfind(':'), slash = line.find('/', colon), eq = line.find("token=");
    if (pid_ > 0 && colon != std::string::npos && slash != std::string::npos && eq != std::string::npos) {
      port_ = std::stoi(line.substr(colon + 1, slash - colon - 1));
      token_ = line.substr(eq + 6);
    }
  }
  ~QuilProcess() { Kill(); }

  bool started() const { return port_ > 0; }

  // The reply text, or nothing when the process did not answer.
  std::optional<std::string> Call(const std::string& method, const std::vector<std::string>& args) {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(60, 0);
    auto res = c.Post("/api/call", {{"X-QUIL-Token", token_}}, json{{"method", method}, {"args", args}}.dump(),
                      "application/json");
    if (!res || res->status != 200) return std::nullopt;
    json body = json::parse(res->body, nullptr, false);
    if (!body.is_object() || !body.contains("value") || !body["value"].is_string()) return std::string();
    return body["value"].get<std::string>();
  }

  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  static std::string ReadLine(int fd) {
    std::string line;
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         std::chrono::steady_clock::now() < until;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      char c;
      if (read(fd, &c, 1) != 1 || c == '\n') break;
      line.push_back(c);
    }
    return line;
  }

  pid_t pid_ = -1;
  int port_ = 0;
  std::string token_;
};

// The value of 'name' in a reply text.
std::string Field(const std::string& reply, const std::string& name) {
  std::string key = "'" + name + "':'";
  size_t at = reply.find(key);
  if (at == std::string::npos) return {};
  at += key.size();
  return reply.substr(at, reply.find('\'', at) - at);
}

std::string IntegrityCheck(const std::string& file) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return result;
}

std::set<std::string> Temporaries(const std::string& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) {
    std::string name = e.path().filename().string();
    if (name.rfind(".quil-tmp-", 0) == 0) out.insert(name);
  }
  return out;
}

TEST(CrashConsistency, KilledWhileSavingChangingPasswordsAndWritingTheHive) {
  testing::ScopedTestHome home;
  std::string error;
  ASSERT_TRUE(LoadOpenSslProviders(&error)) << error;  // to open the files as quil does
  devproxy::Options options;
  options.data_dir = home.path() + "/proxy";
  options.key_set = testing::TestKeySet();
  auto proxy = devproxy::DevProxy::Start(options, &error);
  ASSERT_TRUE(proxy) << error;
  ASSERT_TRUE(proxy->ApplySettingsProfile("pfx"));
  proxy->ExportEnvironment();
  const auto customer = proxy->DemoCustomers().front();

  // One application, whose certificate every round saves again.
  std::string b64Cert, applyId;
  {
    QuilProcess quil;
    ASSERT_TRUE(quil.started());
    ASSERT_EQ(Field(quil.Call("doLogin", {customer.aid, customer.password}).value_or(""), "errCode"), "0");
    std::string reply = quil.Call("crtNewCert2", {customer.idno, ""}).value_or("");
    ASSERT_EQ(Field(reply, "errCode"), "0") << reply;
    b64Cert = Field(reply, "b64Cert");
    applyId = Field(reply, "applyId");
  }

  const std::string folder = home.path() + "/certs";
  fs::create_directories(folder);
  const std::string pfx = folder + "/user.p12";
  std::random_device seed_source;
  const unsigned seed = seed_source();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> kill_after_ms(0, 400);

  int completed = -1;  // the last step that answered
  std::set<std::string> left_by_kills;
  int kills_that_left_a_temporary = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    QuilProcess quil;
    ASSERT_TRUE(quil.started());
    std::atomic<int> started{completed}, answered{completed};
    std::atomic<bool> first_answered{false};
    // Step i leaves the file under "pw<i>": a new save on even steps, a
    // password change from the previous step's on odd ones.
    std::atomic<bool> refused{false};
    std::thread work([&] {
      // The proxy answers the password change's questions in a session only.
      std::string login = quil.Call("doLogin", {customer.aid, customer.password}).value_or("");
      if (Field(login, "errCode") != "0") {
        refused = true;
        ADD_FAILURE() << "login: " << login;
        return;
      }
      for (int i = completed + 1;; ++i) {
        started = i;
        std::string n = std::to_string(i);
        auto reply = i % 2 == 0 ? quil.Call("savePfx2", {applyId, b64Cert, pfx, "pw" + n})
                                : quil.Call("changePfxPwd2", {customer.idno, pfx, "pw" + std::to_string(i - 1), "pw" + n});
        if (!reply) return;
        // 3007: the file is saved, only the proxy refused the repeated report.
        std::string code = Field(*reply, "errCode");
        if (code != "0" && !(i % 2 == 0 && code == "3007")) {
          refused = true;
          ADD_FAILURE() << "step " << i << ": " << *reply;
          return;
        }
        answered = i;
        first_answered = true;
        if (!quil.Call("setLoginInfo", {"type" + n, "value" + n, "branch" + n})) return;
      }
    });
    // Temporaries of the previous round's kill are gone once a save ran.
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         !first_answered && !refused && std::chrono::steady_clock::now() < until;)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!first_answered || refused) {
      quil.Kill();
      work.join();
      FAIL() << "no step answered";
    }
    for (const auto& t : Temporaries(folder)) EXPECT_EQ(left_by_kills.count(t), 0u) << t << " outlived a save";
    std::this_thread::sleep_for(std::chrono::milliseconds(kill_after_ms(rng)));
    quil.Kill();
    work.join();
    completed = answered;

    // The file holds the last answered step's content, or the one under way.
    int opened_with = -1;
    for (int i = completed; i <= started && opened_with < 0; ++i)
      if (checkPfxFile(pfx, "pw" + std::to_string(i)) == 0) opened_with = i;
    ASSERT_GE(opened_with, 0) << "the file opens with neither the old nor the new password";
    completed = opened_with;  // the next round goes on from the file as it is

    auto hive = platform::OpenRegistryHive(platform::ConfigFolder() + "/registry.db");
    ASSERT_TRUE(hive);
    auto type = hive->QueryValue(kLoginKey, "LoginType");
    auto value = hive->QueryValue(kLoginKey, "LoginValue");
    auto branch = hive->QueryValue(kLoginKey, "Branch");
    if (type || value || branch) {
      ASSERT_TRUE(type && value && branch) << "only some parts of a login were written";
      std::string n = type->data.substr(4);
      EXPECT_EQ(value->data, "value" + n) << "the parts of a login come from different calls";
      EXPECT_EQ(branch->data, "branch" + n) << "the parts of a login come from different calls";
    }
    hive.reset();

    EXPECT_EQ(IntegrityCheck(platform::ConfigFolder() + "/registry.db"), "ok");
    if (fs::exists(platform::DataFolder())) {
      for (const auto& e : fs::directory_iterator(platform::DataFolder())) {
        if (e.path().extension() != ".db") continue;
        EXPECT_EQ(IntegrityCheck(e.path().string()), "ok") << e.path();
      }
    }
    left_by_kills = Temporaries(folder);
    if (!left_by_kills.empty()) ++kills_that_left_a_temporary;
  }

  // A last save without a kill leaves no temporary at all.
  QuilProcess quil;
  ASSERT_TRUE(quil.started());
  ASSERT_TRUE(quil.Call("savePfx2", {applyId, b64Cert, pfx, "last"}));
  EXPECT_EQ(checkPfxFile(pfx, "last"), 0);
  EXPECT_TRUE(Temporaries(folder).empty());
  RecordProperty("rounds", kRounds);
  RecordProperty("kills_that_left_a_temporary", kills_that_left_a_temporary);
}

}  // namespace
}  // namespace quil
