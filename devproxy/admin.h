#pragma once
// The admin endpoint "/admin/<what>": JSON in and out. The caller has
// checked the admin token.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>

#include "devproxy/faults.h"
#include "devproxy/service.h"

namespace quil::devproxy {

void HandleAdmin(const httplib::Request& req, httplib::Response& res, Service* service,
                 FaultTable* faults);

}  // namespace quil::devproxy
