#include "platform/console.h"

namespace quil::platform {

// A Linux program always has the standard streams it was started with.
void UseParentConsole() {}

}  // namespace quil::platform
