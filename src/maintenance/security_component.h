#pragma once
// The operator's browser security component: whether it is installed in
// the version the operator requires (settings component.activeX.classId32
// and component.activeX.version32), and its installation on request from
// meroCpnt.dlUrl. Blocking; application thread only.
#include <string>

namespace quil {

// True when the component of the configured class reports exactly the
// configured version text (no version arithmetic: "1.0.0.1" is not
// "1.0.0.10").
bool isSecurityComponentCurrent();

// Method cpntAutoUpdate: nothing when the component is current; otherwise
// asks the user, downloads the installer to env.userHome + "/mero/" +
// local time (14 digits) + ".exe" and starts it without waiting. Declining
// downloads nothing; a failed download is reported, a failed start is not.
void cpntAutoUpdate();

}  // namespace quil
