#pragma once
// The version of the security component (the signing host and its
// extension), as GetVersion reports it and the operator's setting
// component.activeX.version32 names it: "1,0,0,2".
#include "build_config.h"

namespace quil::signer {

inline constexpr char kSignerVersion[] = QUIL_SIGNER_VERSION;

}  // namespace quil::signer
