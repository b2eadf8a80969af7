#pragma once
// The start-up check as the application thread's first task: it runs after
// the page is served and before any method of the page, whose calls queue
// behind it while the page shows its start screen. When the program must
// not go on (refused, updated, or the update failed) it ends the program as
// closeApp does, and no method of the page runs any more.
#include <atomic>

#include "app/host/app_thread.h"
#include "maintenance/self_update.h"

namespace quil::host {

// `successor` gets the process id of the program an update started (it
// stays 0 otherwise), for the end of main() to confirm the update.
void PostStartupCheck(AppThread* app, UpdateTarget target, std::atomic<long>* successor);

}  // namespace quil::host
