// quil: serves the page on loopback, opens its window and runs the bridge.
#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/app_control.h"
#include "app/host/app_thread.h"
#include "app/host/browser_window.h"
#include "app/host/command_line.h"
#include "app/host/demo_proxy.h"
#include "app/host/event_channel.h"
#include "app/host/http_host.h"
#include "app/host/launch_page.h"
#include "app/host/page_ui.h"
#include "app/host/sign_confirmations.h"
#include "app/host/startup_check.h"
#include "cert/openssl_providers.h"
#include "maintenance/reg_command.h"
#include "build_config.h"
#include "browsers/signer_settings.h"
#include "maintenance/expiry_reminder.h"
#include "maintenance/self_update.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/socket_io.h"
#include "proxy/operator_config.h"
#include "proxy/settings_loader.h"
#include "proxy/transport.h"
#include "ui/ui.h"

namespace {

std::atomic<bool> g_quit{false};

// How long --check-expiry stays to start QUIL when a reminder's action is chosen.
constexpr std::chrono::minutes kReminderActionWait{30};
// How long an update's successor may take to serve the page's port.
constexpr std::chrono::seconds kSuccessorStartLimit{30};
// How long the end of the program waits for the method that runs; a
// cancelled network call ends within about a second.
constexpr std::chrono::milliseconds kRunningMethodWait{1300};

int CheckExpiry() {
  quil::ExpiryCheck check;
  check.app_id = QUIL_APP_ID;
  check.open_command = {quil::platform::ProgramPath()};
  check.wait = kReminderActionWait;
  check.now = std::time(nullptr);
  quil::ExpiryCheckResult result = quil::RunExpiryCheck(check);
  if (result.status != 0) std::fprintf(stderr, "quil: --check-expiry: %s\n", result.problem.c_str());
  return result.status;
}

}  // namespace

int main(int argc, char** argv) {
  quil::platform::UseParentConsole();
  // The first lookup of a setting fetches the operator's settings, whatever
  // the command; each load also tells the signing host which sites may ask.
  quil::proxy::InstallSettingsLoader([](const quil::FieldMap& settings) {
    quil::RememberSigningOrigins(settings, quil::proxy::CurrentOperatorConfig().proxy_url);
  });
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "reg")
    return quil::RunRegCommand({args.begin() + 1, args.end()}, std::cin, std::cout, std::cerr);
  std::string error;
  auto options = quil::host::ParseCommandLine(args, &error);
  if (!options) {
    std::fprintf(stderr, "quil: %s\nTry 'quil --help'.\n", error.c_str());
    return 2;
  }
  if (options->log_level) {
    quil::platform::SetLogLevel(*options->log_level);
  } else if (const std::string level = quil::platform::GetEnv("QUIL_LOG"); !level.empty()) {
    if (!quil::platform::ParseLogLevel(level))
      std::fprintf(stderr, "quil: QUIL_LOG=%s is no log level (off, error, warning, info, debug); error is used\n",
                   level.c_str());
  }
  if (options->help) {
    std::fputs(quil::host::UsageText(), stdout);
    return 0;
  }
  if (options->version) {
    std::fputs(quil::host::VersionText().c_str(), stdout);
    return 0;
  }
  if (options->check_expiry) return CheckExpiry();
  // Started again after an update that failed: said once, not passed on.
  const bool after_failed_update = quil::platform::GetEnv(quil::kUpdateFailedVariable) == "1";
  if (after_failed_update) quil::platform::SetEnv(quil::kUpdateFailedVariable, "");

  for (const std::string& problem : quil::proxy::OperatorConfigProblems())
    std::fprintf(stderr, "quil: %s\n", problem.c_str());

  if (!quil::LoadOpenSslProviders(&error)) {
    std::fprintf(stderr, "quil: %s\n", error.c_str());
    return 1;
  }

  // Stop requests are taken by the main loop only; catch them before any thread starts.
  quil::platform::CatchStopRequests();

  quil::host::DemoProxy demo;
  if (options->demo && !demo.Start(&error)) {
    std::fprintf(stderr, "quil: --demo: %s\n", error.c_str());
    return 1;
  }

  quil::host::EventChannel channel;
  quil::host::PageUi page_ui(&channel);
  quil::ui::SetUi(&page_ui);
  quil::host::AppThread app;
  quil::SetQuitHandler([] { g_quit = true; });
  std::vector<std::string> restart(argv, argv + argc);
  quil::SetRestartCommand(restart);

  std::string token = quil::host::MakeToken();
  if (token.empty()) {
    std::fputs("quil: the system random generator failed\n", stderr);
    return 1;
  }
  quil::host::HttpHost host(&channel, &app, token);
  if (!host.Bind(options->port)) {
    std::fprintf(stderr, "quil: cannot listen on 127.0.0.1:%d\n", options->port);
    return 1;
  }
  host.Start();
  // The security component's signing host asks this QUIL to confirm
  // signatures and may start QUIL the way it was started.
  quil::host::SignConfirmations confirmations(&channel, &app);
  (void)confirmations.Start();  // without it the host finds no QUIL and refuses
  quil::RememberQuilProgram(quil::platform::ProgramPath(), options->demo ? "--demo" : "");
  const quil::UpdateTarget update{quil::platform::ProgramPath(), quil::host::SuccessorArgs(args, host.port()),
                                  after_failed_update};
  std::atomic<long> successor{0};
  quil::host::PostStartupCheck(&app, update, &successor);
  std::printf("%s\n", host.PageAddress().c_str());
  std::fflush(stdout);

  std::unique_ptr<quil::host::LaunchPage> launch;
  if (options->open_browser) {
    std::string problem;
    launch = quil::host::LaunchPage::Create(host.PageAddress(), &problem);
    if (!launch || !quil::host::OpenAppWindow(launch->url(), &problem))
      std::fprintf(stderr, "quil: cannot open a window (%s); open the address above in a browser\n",
                   problem.c_str());
  }

  // Run until closeApp, a signal, or the window has been gone for 5 s.
  bool stop_requested = false;
  while (!g_quit) {
    if (quil::platform::WaitForStopRequest(std::chrono::milliseconds(250))) {
      stop_requested = true;
      break;
    }
    if (launch && channel.PageConnected()) launch.reset();  // the page is up: the file has done its work
    if (channel.PageGoneFor(std::chrono::seconds(5))) break;
  }
  // Nothing goes to the network any more; a call in flight ends now.
  quil::proxy::CancelTransfers();

  // A successor started by openApp or the update keeps the demo proxy.
  if (quil::SuccessorStarted()) demo.HandOver();

  // Let the reply of closeApp reach the page, then end. Open questions are
  // answered with nothing; a method still running after the wait (a file
  // manager that does not answer) is left behind: every file is replaced
  // whole, so ending in its midst loses nothing.
  if (!stop_requested) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  channel.Close();
  app.Stop();
  confirmations.Stop();
  if (!app.WaitForEnd(kRunningMethodWait)) {
    std::fflush(stdout);
    std::_Exit(0);
  }
  host.Stop();
  quil::ui::SetUi(nullptr);

  // After an update: the new program must take over the page's port, or
  // the old one comes back.
  if (const long pid = successor.load(); pid > 0 && !stop_requested)
    quil::ConfirmUpdate(update, pid, [&] { return quil::platform::LoopbackPortTaken(host.port()); },
                        kSuccessorStartLimit);
  return 0;
}
