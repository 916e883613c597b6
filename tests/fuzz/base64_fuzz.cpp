// base64 over arbitrary text and bytes: decoding never reads or writes out
// of bounds, and encode then decode gives the bytes back.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "server/UpdateServerRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  size_t decodedSize = 0;
  char* decoded = base64_decode(text, size, &decodedSize);
  if (decoded) {
    if (decodedSize > size || decoded[decodedSize] != '\0') __builtin_trap();
    free(decoded);
  }
  size_t encodedSize = 0;
  char* encoded = base64_encode(text, size, &encodedSize);
  if (!encoded) __builtin_trap();
  size_t backSize = 0;
  char* back = base64_decode(encoded, encodedSize, &backSize);
  if (!back || backSize != size || (size && memcmp(back, data, size) != 0)) __builtin_trap();
  free(back);
  free(encoded);
  return 0;
}
