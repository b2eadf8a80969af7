// The reminder's schedule is a systemd user timer, asked and changed
// through systemctl. A QUIL run from where it was built (or unpacked) has
// no timer installed: turning the reminder on then writes the user's own
// units for this program first. Without a user service manager the check
// runs at every login of the desktop session instead (an XDG autostart
// entry).
#include "platform/reminder_schedule.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/linux/run_program.h"

namespace quil::platform {
namespace {

constexpr char kTimer[] = "quil-expiry.timer";
constexpr char kService[] = "quil-expiry.service";
constexpr char kAutostart[] = "quil-expiry.desktop";
constexpr std::chrono::seconds kLimit{20};

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// $XDG_CONFIG_HOME, else ~/.config.
std::string UserConfigFolder() {
  std::string base = GetEnv("XDG_CONFIG_HOME");
  return base.empty() || base[0] != '/' ? HomeFolder() + "/.config" : base;
}

std::string UnitFolder() { return UserConfigFolder() + "/systemd/user"; }
std::string AutostartFile() { return UserConfigFolder() + "/autostart/" + kAutostart; }

// The program as a command line of systemd and of desktop entries: quoted,
// with the characters both treat specially escaped.
std::string QuotedProgram() {
  std::string quoted = "\"";
  for (char c : ProgramPath()) {
    if (c == '"' || c == '\\' || c == '`' || c == '$') quoted += '\\';
    quoted += c;
  }
  return quoted + "\" --check-expiry";
}

// Writes `text` whole at `path` (its folder made), or nothing.
bool WriteWhole(const std::string& path, const std::string& text) {
  if (!MakeFolders(path.substr(0, path.rfind('/')))) return false;
  const std::string scratch = path + ".new";
  {
    std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::remove(scratch.c_str());
      return false;
    }
  }
  if (std::rename(scratch.c_str(), path.c_str()) == 0) return true;
  std::remove(scratch.c_str());
  return false;
}

// is-enabled's answer: "enabled", "disabled", "masked", ...; empty when the
// timer is not installed for this user or nobody could be asked.
std::string TimerState() {
  auto answer = RunProgram("systemctl", {"--user", "is-enabled", kTimer}, kLimit);
  return answer ? FirstLine(answer->out) : std::string();
}

bool Systemctl(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"--user"};
  all.insert(all.end(), args.begin(), args.end());
  auto answer = RunProgram("systemctl", all, kLimit);
  return answer && answer->exit_status == 0;
}

// The user's own units for this program, as the package installs them.
bool WriteUserUnits() {
  const std::string service =
      "[Unit]\nDescription=QUIL certificate expiry reminder\nAfter=graphical-session.target\n\n"
      "[Service]\nType=oneshot\nExecStart=" + QuotedProgram() + "\nTimeoutStartSec=45min\n";
  const std::string timer =
      "[Unit]\nDescription=Daily check for an expiring QUIL certificate\n\n"
      "[Timer]\nOnCalendar=daily\nPersistent=true\nOnStartupSec=2min\n\n[Install]\nWantedBy=timers.target\n";
  return WriteWhole(UnitFolder() + "/" + kService, service) && WriteWhole(UnitFolder() + "/" + kTimer, timer);
}

void RemoveUserUnits() {
  std::remove((UnitFolder() + "/" + kTimer).c_str());
  std::remove((UnitFolder() + "/" + kService).c_str());
}

bool WriteAutostartEntry() {
  return WriteWhole(AutostartFile(),
                    "[Desktop Entry]\nType=Application\nName=QUIL 憑證到期提醒\nExec=" + QuotedProgram() +
                        "\nNoDisplay=true\nX-GNOME-Autostart-enabled=true\n");
}

}  // namespace

ReminderSchedule ReminderScheduleState() {
  if (GetPathInfo(AutostartFile()).kind == PathKind::kFile) return ReminderSchedule::kOn;
  const std::string state = TimerState();
  if (state == "enabled" || state == "enabled-runtime") return ReminderSchedule::kOn;
  // Masked: the user ruled the timer out.
  if (state == "masked" || state == "masked-runtime") return ReminderSchedule::kUnavailable;
  return ReminderSchedule::kOff;
}

bool EnableReminderSchedule(std::string* problem) {
  const bool installed = !TimerState().empty();
  const bool ours = !installed && WriteUserUnits();
  if (ours) (void)Systemctl({"daemon-reload"});
  if ((installed || ours) && Systemctl({"enable", "--now", kTimer})) return true;
  // No user service manager here: the desktop session runs the check.
  if (ours) RemoveUserUnits();
  if (WriteAutostartEntry()) return true;
  *problem = "systemctl --user enable --now " + std::string(kTimer) + " failed";
  return false;
}

}  // namespace quil::platform
