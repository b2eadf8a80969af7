#pragma once
// The start-up version check: the proxy decides whether this client's
// version may still be used; an outdated client fetches its successor from
// `app.dlUrl`, swaps its own program file and starts the new one. Files
// beside the program: ".new" (the download) and ".dpc" (the retired
// program, deleted by the next start). An update never leaves a program
// that cannot start: the download must answer as QUIL before the swap, and
// a successor that does not come up is replaced by the retired program.
// Blocking; application thread only (ConfirmUpdate: the main thread, once
// the page is gone); every message reaches the user through ui::CurrentUi().
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/result_codes.h"

namespace quil {

// Set ("1") in the environment of the old program started again after an
// update whose successor did not come up.
inline constexpr char kUpdateFailedVariable[] = "QUIL_UPDATE_FAILED";

// The program file being checked and how its successor is started.
struct UpdateTarget {
  std::string program;                    // path of the running program file (UTF-8)
  std::vector<std::string> restart_args;  // the options the new program gets
  // This program was started again after a failed update: the check only
  // tells the customer so and ends the program (another update would fail
  // the same way now).
  bool after_failed_update = false;
};

struct StartupCheck {
  int code = kFailed;  // kOk accepted, 53705 update needed, else the failed check's code
  bool close = false;  // the program must end now (updated, update failed, or refused)
  bool successor_started = false;  // the new program file runs
  long successor = 0;              // its process id
};

// The whole start-up sequence: clean-up of the last update's ".dpc", the
// check, and for an outdated client the download, the swap and the start
// of the new program. Only a check that passes leaves `close` false. Its
// pauses (base/pause.h): 500 ms after each failed clean-up attempt, 1000 ms
// after the first message, 2000 ms after a failed download.
StartupCheck RunStartupVersionCheck(const UpdateTarget& target);

// How long the downloaded program may take to answer --version.
inline constexpr std::chrono::seconds kVersionAnswerLimit{5};

// After the old program has let go of what its successor takes over (the
// page's port): waits until the successor `successor` has come up
// (`came_up()`), at most `limit`, looking every 100 ms. A successor that
// ends first or is not up by then is ended, the retired program is put back
// in place and started again with kUpdateFailedVariable set, and false is
// returned. A stop request (SIGTERM) ends the wait and leaves things as
// they are; true then, as when the successor came up.
bool ConfirmUpdate(const UpdateTarget& target, long successor, const std::function<bool()>& came_up,
                   std::chrono::milliseconds limit);

}  // namespace quil
