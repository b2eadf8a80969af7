#pragma once
// The start-up version check as the application thread's first task: it
// runs after the page is served and before any method of the page, whose
// calls queue behind it while the page shows its start screen. When the
// program must not go on (refused, updated, or the update failed) it ends
// the program as closeApp does, and no method of the page runs any more.
#include "app/host/app_thread.h"
#include "maintenance/self_update.h"

namespace quil::host {

void PostStartupCheck(AppThread* app, UpdateTarget target);

}  // namespace quil::host
