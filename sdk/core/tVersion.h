// Packed firmware version numbers and the SDK's own version.
//   legacy  (top byte < 0x2F): major bits 28-31, minor 24-27, patch 0-23
//   current (top byte 0x2F)  : major bits 16-23, minor 8-15,  patch 0-7
#pragma once

#include <stddef.h>
#include <stdint.h>

#define tVERSION_MAJOR 2
#define tVERSION_MINOR 12
#define tVERSION_PATCH 3
#define tVERSION_PHASE "."

uint32_t tVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch);
bool tVersion_IsLegacyFormat(uint32_t v);
uint8_t tVersion_ParseMajor(uint32_t v);
uint8_t tVersion_ParseMinor(uint32_t v);
uint32_t tVersion_ParsePatch(uint32_t v);
// Writes "major.minor.patch" into buffer, cut to size as snprintf does.
void tVersion_ParseString(uint32_t v, char* buffer, size_t size);

// Whether (major, minor, patch) is at least (otherMajor, otherMinor, otherPatch).
bool tVersion_IsAtLeastCompare(uint8_t major, uint8_t minor, uint8_t patch, uint8_t otherMajor,
                               uint8_t otherMinor, uint8_t otherPatch);
// Whether the SDK is at least the given version.
bool tVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch);

uint8_t tVersion_GetMajor(void);
uint8_t tVersion_GetMinor(void);
uint8_t tVersion_GetPatch(void);
// "2.12.3"; a static buffer, never freed.
const char* tVersion_GetString(void);

bool tVersion_HasFeature(const char* name);
// "name - description" rows joined by "\n"; free with tVersion_DestroyFeatureList.
char* tVersion_GetFeatureList(void);
void tVersion_DestroyFeatureList(char** list);
