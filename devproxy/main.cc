// quil-devproxy --data DIR [--key-set DIR] [--port N] [--http] [--reset]
//               [--profile NAME] [--update-file PATH] [--fault ACTION=FAULT]... [--end-with-stdin]
// quil-devproxy --help | --version
// Runs the demo operator proxy on 127.0.0.1 until SIGINT/SIGTERM (or, with
// --end-with-stdin, until its standard input ends: the parent holds the
// other end of a pipe, which closes however the parent ends). The first
// line on stdout is the proxy base URL, printed once connections are
// accepted; DIR/quil.env then holds the QUIL_* variables pointing at it.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "build_config.h"
#include "devproxy/devproxy.h"

namespace {

constexpr char kSynopsis[] =
    "usage: quil-devproxy --data DIR [--key-set DIR] [--port N] [--http] [--reset]\n"
    "                     [--profile pfx|store|pfx,store|store,pfx]\n"
    "                     [--update-file PATH] [--fault ACTION=FAULT]... [--end-with-stdin]\n"
    "       quil-devproxy --help | --version\n";

int Usage() {
  std::cerr << kSynopsis << "Try 'quil-devproxy --help'.\n";
  return 2;
}

int Help() {
  std::cout << kSynopsis
            << "\n"
               "The demo certificate proxy for QUIL: the proxy protocol, a certificate\n"
               "authority of its own and its state in SQLite, served on 127.0.0.1 until\n"
               "SIGINT or SIGTERM. The first line on standard output is the proxy base URL.\n"
               "\n"
               "Options:\n"
               "  --data DIR             the data folder (keys, authority, database, quil.env)\n"
               "  --key-set DIR          a new data folder takes its keys from DIR (envelope.key,\n"
               "                         root.key, issuing.key, tls.key: PEM private keys)\n"
               "                         instead of making them\n"
               "  --port N               listen on port N (default 0: a free port)\n"
               "  --http                 plain HTTP instead of HTTPS\n"
               "  --reset                empty the database and seed the demo customers again\n"
               "  --profile NAME         where the client stores certificates: pfx, store,\n"
               "                         pfx,store or store,pfx\n"
               "  --update-file PATH     the client update served when quil checks its version\n"
               "                         (default: the quil built with this proxy)\n"
               "  --fault ACTION=FAULT   misbehave on ACTION (or * for every action); FAULT is\n"
               "                         malformed | noroot | empty | drop | lost |\n"
               "                         rtn:CODE[:MSG] | status:N, optionally with\n"
               "                         delay:MS and times:N, joined by ','\n"
               "  --end-with-stdin       also stop when standard input ends (the parent's end\n"
               "                         of the pipe closes however the parent ends)\n"
               "  -h, --help             show this text\n"
               "  --version              show the version\n"
               "\n"
               "Files:\n"
               "  DIR/quil.env           the QUIL_* variables that point QUIL at this proxy\n"
               "  DIR/admin_token        token of the /admin/ endpoint, new on every start\n"
               "  DIR/devproxy.db        customers, certificates, codes, audit, mailbox\n"
               "  DIR/ca/                the authority, the TLS certificate, ca_bundle.pem\n"
               "\n"
               "See quil-devproxy(1).\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  quil::devproxy::Options options;
  std::string profile;
  bool end_with_stdin = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--help" || a == "-h") {
      return Help();
    } else if (a == "--version") {
      std::cout << "quil-devproxy " << QUIL_SOURCE_VERSION << "\n";
      return 0;
    } else if (a == "--data") {
      const char* v = value();
      if (!v) return Usage();
      options.data_dir = v;
    } else if (a == "--key-set") {
      const char* v = value();
      if (!v) return Usage();
      options.key_set = v;
    } else if (a == "--port") {
      const char* v = value();
      char* end = nullptr;
      long port = v ? std::strtol(v, &end, 10) : -1;
      if (!v || *end || port < 0 || port > 65535) return Usage();
      options.port = static_cast<int>(port);
    } else if (a == "--http") {
      options.plain_http = true;
    } else if (a == "--end-with-stdin") {
      end_with_stdin = true;
    } else if (a == "--reset") {
      options.reset = true;
    } else if (a == "--profile") {
      const char* v = value();
      if (!v) return Usage();
      profile = v;
    } else if (a == "--update-file") {
      const char* v = value();
      if (!v) return Usage();
      options.update_file = v;
    } else if (a == "--fault") {
      const char* v = value();
      if (!v) return Usage();
      if (!options.faults.empty()) options.faults += ";";
      options.faults += v;
    } else {
      return Usage();
    }
  }
  if (options.data_dir.empty()) return Usage();

  // SIGINT and SIGTERM stay pending until the wait below takes them, in
  // whatever thread and at whatever moment they arrive (the server's
  // threads inherit the mask).
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  std::string error;
  auto proxy = quil::devproxy::DevProxy::Start(options, &error);
  if (!proxy) {
    std::cerr << "quil-devproxy: " << error << "\n";
    return 1;
  }
  if (!profile.empty() && !proxy->ApplySettingsProfile(profile)) {
    std::cerr << "quil-devproxy: unknown profile " << profile << "\n";
    return 2;
  }
  std::cout << proxy->base_url() << std::endl;
  std::cerr << "quil-devproxy: serving " << proxy->origin() << "\n"
            << "  environment  " << proxy->env_file() << "\n"
            << "  mailbox      " << proxy->mailbox_url() << "\n"
            << "  trading page " << proxy->trading_url() << "\n"
            << "  admin token  " << options.data_dir << "/admin_token\n";
  if (end_with_stdin) {
    pthread_t main_thread = pthread_self();
    std::thread([main_thread] {
      char buf[256];
      while (read(0, buf, sizeof buf) > 0) {
      }
      pthread_kill(main_thread, SIGTERM);  // ends the wait below
    }).detach();
  }
  int signal_number = 0;
  while (sigwait(&stop, &signal_number) != 0) {
  }
  return 0;
}
