// quil-devproxy --data DIR [--port N] [--http] [--reset] [--profile NAME]
//               [--update-file PATH] [--fault ACTION=FAULT]...
// Runs the demo operator proxy on 127.0.0.1 until SIGINT/SIGTERM. The first
// line on stdout is the proxy base URL, printed once connections are
// accepted; DIR/quil.env then holds the QUIL_* variables pointing at it.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "devproxy/devproxy.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

int Usage() {
  std::cerr << "usage: quil-devproxy --data DIR [--port N] [--http] [--reset]\n"
               "                     [--profile pfx|store|pfx,store|store,pfx]\n"
               "                     [--update-file PATH] [--fault ACTION=FAULT]...\n"
               "FAULT: malformed | noroot | empty | drop | rtn:CODE[:MSG] | status:N,\n"
               "      optionally with delay:MS and times:N, joined by ','\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  quil::devproxy::Options options;
  std::string profile;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--data") {
      const char* v = value();
      if (!v) return Usage();
      options.data_dir = v;
    } else if (a == "--port") {
      const char* v = value();
      char* end = nullptr;
      long port = v ? std::strtol(v, &end, 10) : -1;
      if (!v || *end || port < 0 || port > 65535) return Usage();
      options.port = static_cast<int>(port);
    } else if (a == "--http") {
      options.plain_http = true;
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

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
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
            << "  admin token  " << options.data_dir << "/admin_token\n";
  while (!g_stop) pause();
  return 0;
}
