// The result of one GET: the URL that was asked for, the HTTP status and the
// whole body in the order it arrived.
#pragma once

#include <stddef.h>

#include <string>

class HTTPResponse {
 public:
  // Bodies above this are refused: no answer of the update server comes near
  // it, and an endless stream must not exhaust memory.
  static constexpr size_t MAX_BODY_BYTES = size_t(64) << 20;

  explicit HTTPResponse(std::string url, size_t maxBody = MAX_BODY_BYTES)
      : request(std::move(url)), maxBody(maxBody) {}

  const std::string& get_request() const { return request; }
  long get_status() const { return status; }
  const std::string& get_response() const { return response; }
  void set_status(long code) { status = code; }

  // Appends bytes to the body. False, with nothing appended, when the body
  // would grow past its cap.
  bool process(const char* data, size_t length);
  bool overflowed() const { return tooLarge; }

 private:
  std::string request;
  long status = 0;
  std::string response;
  size_t maxBody;
  bool tooLarge = false;
};
