// One blocking HTTP or HTTPS GET through libcurl's easy interface.
//
// Every request is bounded: the connection must be made within
// CONNECT_TIMEOUT_SECONDS, a transfer that moves no byte for
// STALL_TIMEOUT_SECONDS is aborted, and a body above
// HTTPResponse::MAX_BODY_BYTES is refused. HTTPS verifies the server's
// certificate chain and host name against the system's CA store; the
// environment can name another CA bundle (CA_BUNDLE_ENV, for a private
// mirror) or switch verification off (NO_VERIFY_ENV=1, logged as a warning).
#pragma once

#include <stddef.h>

#include <map>
#include <string>

#include "server/HTTPResponse.h"

class HTTPRequest {
 public:
  static constexpr long CONNECT_TIMEOUT_SECONDS = 10;
  static constexpr long STALL_TIMEOUT_SECONDS = 30;
  static constexpr const char* CA_BUNDLE_ENV = "QN_CA_BUNDLE";
  static constexpr const char* NO_VERIFY_ENV = "QN_TLS_NO_VERIFY";

  // Throws std::runtime_error with libcurl's message when the transfer fails.
  // Any status, 404 and 500 included, is a normal return.
  static HTTPResponse GET(const char* url, std::map<std::string, std::string>& parameters);

  // url, then "?" and key=value& for each parameter in key order. Keys and
  // values are not escaped.
  static std::string RequestText(const char* url,
                                 const std::map<std::string, std::string>& parameters);
};

// libcurl's write callback; `response` is the HTTPResponse being filled.
// Returns size * count, or 0 (which makes libcurl abort) once the body would
// pass its cap.
size_t _rcv_data(void* data, size_t size, size_t count, void* response);
