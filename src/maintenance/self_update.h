#pragma once
// The start-up version check: the proxy decides whether this client's
// version may still be used; an outdated client fetches its successor from
// `app.dlUrl`, swaps its own program file and starts the new one. Files
// beside the program: ".new" (the download) and ".dpc" (the retired
// program, deleted by the next start). Blocking; application thread only;
// every message reaches the user through ui::CurrentUi().
#include <string>
#include <vector>

#include "base/result_codes.h"

namespace quil {

// The program file being checked and how its successor is started.
struct UpdateTarget {
  std::string program;                    // path of the running program file (UTF-8)
  std::vector<std::string> restart_args;  // the options the new program gets
};

struct StartupCheck {
  int code = kFailed;  // kOk accepted, 53705 update needed, else the failed check's code
  bool close = false;  // the program must end now (updated, update failed, or refused)
  bool successor_started = false;  // the new program file runs
};

// The whole start-up sequence: clean-up of the last update's ".dpc", the
// check, and for an outdated client the download, the swap and the start
// of the new program. Only a check that passes leaves `close` false. Its
// pauses (base/pause.h): 500 ms after each failed clean-up attempt, 1000 ms
// after the first message, 2000 ms after a failed download.
StartupCheck RunStartupVersionCheck(const UpdateTarget& target);

}  // namespace quil
