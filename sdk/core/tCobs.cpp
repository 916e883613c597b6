#include "sdk/core/tCobs.h"

#include <string.h>

size_t cobs_encode(const uint8_t* source, size_t length, uint8_t* destination) {
  if (destination == NULL || (source == NULL && length > 0)) return 0;
  size_t write = 1;
  size_t codeIndex = 0;
  uint8_t code = 1;
  for (size_t read = 0; read < length; read++) {
    if (source[read] == 0) {
      destination[codeIndex] = code;
      code = 1;
      codeIndex = write++;
      continue;
    }
    destination[write++] = source[read];
    if (++code == 0xFF) {
      destination[codeIndex] = code;
      code = 1;
      codeIndex = write++;
    }
  }
  destination[codeIndex] = code;
  return write;
}

size_t cobs_encode_inplace(uint8_t* buffer, size_t length) {
  if (buffer == NULL) return 0;
  size_t run = 0;
  for (size_t i = 0; i < length; i++) {
    run = buffer[i] != 0 ? run + 1 : 0;
    if (run >= 254) return 0;
  }
  // Shifted up by one, the input is read one position ahead of the write:
  // without long runs the encoder writes exactly where it has just read.
  memmove(buffer + 1, buffer, length);
  size_t write = 1;
  size_t codeIndex = 0;
  uint8_t code = 1;
  for (size_t read = 1; read <= length; read++) {
    uint8_t b = buffer[read];
    if (b == 0) {
      buffer[codeIndex] = code;
      code = 1;
      codeIndex = write++;
    } else {
      buffer[write++] = b;
      code++;
    }
  }
  buffer[codeIndex] = code;
  return write;
}

size_t cobs_decode(const uint8_t* source, size_t length, uint8_t* destination) {
  if (source == NULL || destination == NULL) return 0;
  size_t read = 0;
  size_t write = 0;
  while (read < length) {
    uint8_t code = source[read];
    if (code == 0 || read + code > length) return 0;
    read++;
    for (uint8_t i = 1; i < code; i++) destination[write++] = source[read++];
    if (code != 0xFF && read < length) destination[write++] = 0;
  }
  return write;
}

size_t cobs_decode_inplace(uint8_t* buffer, size_t length) { return cobs_decode(buffer, length, buffer); }
