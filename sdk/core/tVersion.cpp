#include "sdk/core/tVersion.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr uint32_t sCurrentMarker = 0x2F000000u;

struct sFeature {
  const char* name;
  const char* description;
};

const sFeature sFeatures[] = {
    {"VERSION", "Version Query API"},
};

char sVersionText[15];
bool sVersionTextBuilt = false;

}  // namespace

uint32_t tVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch) {
  if (major > 2 || (major == 2 && minor > 14))
    return sCurrentMarker | (uint32_t(major) << 16) | (uint32_t(minor) << 8) | patch;
  return (uint32_t(major) << 28) | (uint32_t(minor & 0xF) << 24) | patch;
}

bool tVersion_IsLegacyFormat(uint32_t v) {
  // Legacy numbers read as (bits 28-31).(bits 24-27) stay below 2.15.
  return tVersion_IsAtLeastCompare(2, 15, 0, uint8_t(v >> 28), uint8_t((v >> 24) & 0xF), 255);
}

uint8_t tVersion_ParseMajor(uint32_t v) {
  return tVersion_IsLegacyFormat(v) ? uint8_t(v >> 28) : uint8_t((v >> 16) & 0xFF);
}

uint8_t tVersion_ParseMinor(uint32_t v) {
  return tVersion_IsLegacyFormat(v) ? uint8_t((v >> 24) & 0xF) : uint8_t((v >> 8) & 0xFF);
}

uint32_t tVersion_ParsePatch(uint32_t v) {
  return tVersion_IsLegacyFormat(v) ? (v & 0xFFFFFF) : (v & 0xFF);
}

void tVersion_ParseString(uint32_t v, char* buffer, size_t size) {
  if (!buffer || size == 0) return;
  snprintf(buffer, size, "%d.%d.%d", tVersion_ParseMajor(v), tVersion_ParseMinor(v),
           int(tVersion_ParsePatch(v)));
}

bool tVersion_IsAtLeastCompare(uint8_t major, uint8_t minor, uint8_t patch, uint8_t otherMajor,
                               uint8_t otherMinor, uint8_t otherPatch) {
  if (major != otherMajor) return major > otherMajor;
  if (minor != otherMinor) return minor > otherMinor;
  return patch >= otherPatch;
}

bool tVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch) {
  return tVersion_IsAtLeastCompare(tVERSION_MAJOR, tVERSION_MINOR, tVERSION_PATCH, major, minor,
                                   patch);
}

uint8_t tVersion_GetMajor(void) { return tVERSION_MAJOR; }
uint8_t tVersion_GetMinor(void) { return tVERSION_MINOR; }
uint8_t tVersion_GetPatch(void) { return tVERSION_PATCH; }

const char* tVersion_GetString(void) {
  if (!sVersionTextBuilt) {
    memset(sVersionText, 0, sizeof sVersionText);
    snprintf(sVersionText, sizeof sVersionText, "%d.%d%s%d", tVERSION_MAJOR, tVERSION_MINOR,
             tVERSION_PHASE, tVERSION_PATCH);
    sVersionTextBuilt = true;
  }
  return sVersionText;
}

bool tVersion_HasFeature(const char* name) {
  if (!name) return false;
  for (const sFeature& f : sFeatures)
    if (strcmp(f.name, name) == 0) return true;
  return false;
}

char* tVersion_GetFeatureList(void) {
  size_t length = 1;
  for (const sFeature& f : sFeatures) length += strlen(f.name) + 3 + strlen(f.description) + 1;
  char* list = static_cast<char*>(malloc(length));
  if (!list) return nullptr;
  list[0] = '\0';
  size_t used = 0;
  for (size_t i = 0; i < sizeof sFeatures / sizeof sFeatures[0]; ++i) {
    used += snprintf(list + used, length - used, "%s%s - %s", i ? "\n" : "", sFeatures[i].name,
                     sFeatures[i].description);
  }
  return list;
}

void tVersion_DestroyFeatureList(char** list) {
  if (!list) return;
  free(*list);
  *list = nullptr;
}
