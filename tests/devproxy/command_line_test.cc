// The quil-devproxy program as `quil --demo` runs it: first stdout line is
// the base URL, DIR/quil.env holds the QUIL_* variables, --reset starts
// clean but keeps the keys.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "devproxy/form.h"
#include "proxy/transport.h"
#include "test_client.h"

namespace quil::devproxy::testing {
namespace {

struct Running {
  pid_t pid = -1;
  std::string first_line;
  int Stop() {
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

Running Launch(std::vector<std::string> args) {
  std::string program = std::string(QUIL_TEST_BINARY_DIR) + "/devproxy/quil-devproxy";
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  Running r;
  r.pid = fork();
  if (r.pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') r.first_line += c;
  close(out[0]);
  return r;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(DevProxyProgram, PrintsItsUrlWritesTheEnvironmentAndResets) {
  std::string dir = FreshDataDir("program");
  Running first = Launch({"--data", dir, "--key-set", quil::testing::TestKeySet()});
  ASSERT_EQ(first.first_line.rfind("https://127.0.0.1:", 0), 0u) << first.first_line;
  ASSERT_GT(first.first_line.size(), 17u);
  EXPECT_EQ(first.first_line.substr(first.first_line.size() - 17), "/PELIProxy/proxy/");
  std::string env = ReadAll(dir + "/quil.env");
  EXPECT_NE(env.find("QUIL_PROXY_URL=" + first.first_line + "\n"), std::string::npos);
  for (const char* key : {"QUIL_PROXY_PUBKEY=", "QUIL_PROXY_CA=", "QUIL_BRIDGE_URL=", "QUIL_IP_SERVICES="})
    EXPECT_NE(env.find(std::string("\n") + key), std::string::npos) << key;
  std::string pubkey = ReadAll(dir + "/proxy_pubkey.pem");
  EXPECT_EQ(pubkey, PublicKeyPem(LoadPrivateKeyPem(quil::testing::TestKeyPem("envelope")).get()))
      << "the key set's envelope key";
  // Already accepting: the URL was printed after the listener was up.
  std::string port = first.first_line.substr(18, first.first_line.find('/', 18) - 18);
  std::string cmd = "curl -s --cacert '" + dir + "/ca/ca_bundle.pem' https://127.0.0.1:" + port +
                    "/mobile/bridge/bridge.ashx";
  std::string answer;
  if (FILE* f = popen(cmd.c_str(), "r")) {
    char buf[64];
    while (fgets(buf, sizeof buf, f)) answer += buf;
    pclose(f);
  }
  EXPECT_EQ(answer, "127.0.0.1\r\n");
  std::string token = ReadAll(dir + "/admin_token");
  token.pop_back();
  cmd = "curl -s -o /dev/null -w '%{http_code}' --cacert '" + dir + "/ca/ca_bundle.pem' -H 'X-Admin-Token: " +
        token + "' -d '{\"idno\":\"R100000001\",\"password\":\"abc12345\",\"branch\":\"9A00\",\"account\":\"1111111\"}' "
        "https://127.0.0.1:" + port + "/admin/customer";
  answer.clear();
  if (FILE* f = popen(cmd.c_str(), "r")) {
    char buf[64];
    while (fgets(buf, sizeof buf, f)) answer += buf;
    pclose(f);
  }
  EXPECT_EQ(answer, "200");
  // A port in use is an error, not a silent second proxy.
  Running clash = Launch({"--data", FreshDataDir("clash"), "--key-set", quil::testing::TestKeySet(), "--port", port});
  EXPECT_EQ(clash.first_line, "");
  int status = 0;
  waitpid(clash.pid, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(first.Stop(), 0);

  // Same folder again: state kept. With --reset: the customer is gone, the
  // demo customers are back, the keys are the same.
  for (bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "restart");
    std::vector<std::string> args{"--data", dir, "--http"};
    if (reset) args.push_back("--reset");
    Running again = Launch(args);
    ASSERT_EQ(again.first_line.rfind("http://127.0.0.1:", 0), 0u) << again.first_line;
    EXPECT_EQ(ReadAll(dir + "/proxy_pubkey.pem"), pubkey);
    std::string port2 = again.first_line.substr(17, again.first_line.find('/', 17) - 17);
    std::string url = "http://127.0.0.1:" + port2;
    PKey pub = LoadPublicKeyPem(pubkey);
    auto login = [&](const std::string& aid, const std::string& pw) {
      std::string form = proxy::formEncode({{"aid", SealRsaField(pub.get(), aid).value()},
                                     {"pw", SealRsaField(pub.get(), pw).value()}});
      std::string reply;
      std::string c = "curl -s --data-binary '" + form + "' " + url + "/PELIProxy/proxy/doLogin";
      if (FILE* f = popen(c.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) reply.append(buf, n);
        pclose(f);
      }
      return OpenRsaReply(pub.get(), reply).find("<rtnCode>0</rtnCode>") != std::string::npos;
    };
    EXPECT_EQ(login("R100000001", "abc12345"), !reset);
    EXPECT_TRUE(login("9A000000001", "demo1234"));
    EXPECT_EQ(again.Stop(), 0);
  }
}

// A stop request is never lost, whenever it comes: here right after the
// address, while the program may still be on its way to waiting for it.
TEST(DevProxyProgram, EndsWithinTwoSecondsOfSigtermSentRightAfterItsAddress) {
  std::string dir = FreshDataDir("sigterm");
  Launch({"--data", dir, "--key-set", quil::testing::TestKeySet(), "--http"}).Stop();  // the folder is made once
  constexpr int kStarts = 30;
  int late = 0;
  for (int i = 0; i < kStarts; ++i) {
    Running r = Launch({"--data", dir, "--http"});
    ASSERT_EQ(r.first_line.rfind("http://127.0.0.1:", 0), 0u) << r.first_line;
    kill(r.pid, SIGTERM);
    int status = 0;
    pid_t ended = 0;
    for (int waited = 0; waited < 200 && (ended = waitpid(r.pid, &status, WNOHANG)) == 0; ++waited) usleep(10 * 1000);
    if (ended == r.pid) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "start " << i;
      continue;
    }
    ++late;
    kill(r.pid, SIGKILL);
    waitpid(r.pid, nullptr, 0);
  }
  EXPECT_EQ(late, 0) << "of " << kStarts << " starts, still running 2 s after SIGTERM";
}

TEST(DevProxyProgram, RefusesBadArguments) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {}, {"--port", "80000", "--data", "/tmp/x"}, {"--data"}, {"--data", "/tmp/x", "--bogus"},
           {"--data", "/tmp/x", "--key-set"}}) {
    Running r = Launch(args);
    EXPECT_EQ(r.first_line, "");
    int status = 0;
    waitpid(r.pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 2);
  }
}

}  // namespace
}  // namespace quil::devproxy::testing
