// Standard base64 with '+', '/' and '=' padding.
#include <stdlib.h>
#include <string.h>

#include "server/UpdateServerRequest.h"

namespace {

const char sAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of a base64 character, -1 for anything else (padding included).
int sValue(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

char* base64_decode(const char* text, size_t length, size_t* outLength) {
  if ((!text && length) || length % 4 != 0) return nullptr;
  size_t padding = 0;
  if (length >= 4 && text[length - 1] == '=') ++padding;
  if (length >= 4 && text[length - 2] == '=') ++padding;
  size_t size = length / 4 * 3 - padding;
  char* out = static_cast<char*>(malloc(size + 1));
  if (!out) return nullptr;
  size_t o = 0;
  for (size_t i = 0; i < length; i += 4) {
    bool last = i + 4 == length;
    int v[4];
    for (int k = 0; k < 4; ++k) {
      unsigned char c = static_cast<unsigned char>(text[i + k]);
      bool padSlot = last && k >= 4 - int(padding);
      v[k] = padSlot ? (c == '=' ? 0 : -1) : sValue(c);
      if (v[k] < 0) {
        free(out);
        return nullptr;
      }
    }
    uint32_t triple = uint32_t(v[0]) << 18 | uint32_t(v[1]) << 12 | uint32_t(v[2]) << 6 | v[3];
    out[o++] = char(triple >> 16);
    if (o < size) out[o++] = char(triple >> 8 & 0xFF);
    if (o < size) out[o++] = char(triple & 0xFF);
  }
  out[size] = '\0';
  if (outLength) *outLength = size;
  return out;
}

char* base64_encode(const char* data, size_t length, size_t* outLength) {
  if (!data && length) return nullptr;
  size_t size = (length + 2) / 3 * 4;
  char* out = static_cast<char*>(malloc(size + 1));
  if (!out) return nullptr;
  const unsigned char* in = reinterpret_cast<const unsigned char*>(data);
  size_t o = 0;
  for (size_t i = 0; i < length; i += 3) {
    size_t n = length - i < 3 ? length - i : 3;
    uint32_t triple = uint32_t(in[i]) << 16;
    if (n > 1) triple |= uint32_t(in[i + 1]) << 8;
    if (n > 2) triple |= in[i + 2];
    out[o++] = sAlphabet[triple >> 18 & 0x3F];
    out[o++] = sAlphabet[triple >> 12 & 0x3F];
    out[o++] = n > 1 ? sAlphabet[triple >> 6 & 0x3F] : '=';
    out[o++] = n > 2 ? sAlphabet[triple & 0x3F] : '=';
  }
  out[size] = '\0';
  if (outLength) *outLength = size;
  return out;
}
