#include "server/HTTPResponse.h"

bool HTTPResponse::process(const char* data, size_t length) {
  if (length > maxBody - response.size()) {
    tooLarge = true;
    return false;
  }
  response.append(data, length);
  return true;
}
