# cpp-httplib is used beyond its public surface: BridgeServer subclasses
# httplib::Server for its protected process_request() and svr_sock_ and
# implements httplib::Stream; the host's pre-routing handler edits the
# request's headers; the demo proxy and two tests call httplib::detail
# functions. Newer releases change those, so the build stops on any other
# version than the one this code was written for.
set(QUIL_HTTPLIB_VERSION "0.11.4")

function(quil_check_httplib_version header)
  if(NOT EXISTS "${header}")
    message(FATAL_ERROR "cpp-httplib: ${header} not found")
  endif()
  file(STRINGS "${header}" line REGEX "^#define CPPHTTPLIB_VERSION \"[^\"]*\"" LIMIT_COUNT 1)
  string(REGEX REPLACE "^#define CPPHTTPLIB_VERSION \"([^\"]*)\".*" "\\1" found "${line}")
  if(NOT found STREQUAL QUIL_HTTPLIB_VERSION)
    message(FATAL_ERROR
      "cpp-httplib ${found} (${header}) is not ${QUIL_HTTPLIB_VERSION}, the version this code was written for. "
      "Revisit what uses its internals before changing QUIL_HTTPLIB_VERSION in cmake/httplib_version.cmake: "
      "src/app/host/bridge_server.h and bridge_server.cc (subclass of httplib::Server: process_request, "
      "svr_sock_, httplib::Stream), src/app/host/http_host.cc (the pre-routing handler drops Accept-Encoding "
      "from the const request), devproxy/form.cc and tests/proxy/fake_proxy.cc (httplib::detail::decode_url), "
      "tests/app/http_host_test.cc (httplib::detail::encode_query_param). A release with WebSocket support "
      "would replace src/app/host/web_socket.* and much of bridge_server.*.")
  endif()
endfunction()
