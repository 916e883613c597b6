#include "store/KeyValueStore.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "app/Log.h"
#include "store/tFile.h"

namespace {

// 2047 characters, the newline and the NUL.
const size_t _line_buffer_size = 2049;

bool _is_blank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

std::string _trimmed(const char* begin, const char* end) {
  while (begin < end && _is_blank(*begin)) ++begin;
  while (end > begin && _is_blank(end[-1])) --end;
  return std::string(begin, end);
}

}  // namespace

KeyValueStore::KeyValueStore(const char* path) {
  if (path) Load(path);
}

std::string KeyValueStore::CurrentTime() {
  time_t now = time(nullptr);
  char text[64];
  if (!ctime_r(&now, text)) return std::string();
  size_t n = strlen(text);
  if (n > 0 && text[n - 1] == '\n') text[n - 1] = '\0';
  return text;
}

void KeyValueStore::_parse_line(const char* line, size_t length) {
  if (length < 3 || line[0] == '#') return;
  const char* end = line + length;
  const char* equals = static_cast<const char*>(memchr(line, '=', length));
  std::string key = _trimmed(line, equals ? equals : end);
  if (key.empty()) return;
  entries[key] = equals ? _trimmed(equals + 1, end) : std::string();
}

tErr KeyValueStore::Load(const char* filePath) {
  if (!filePath) return tErrParam;
  tFileRef file = tFile_Open(filePath, tFileModeRead);
  if (!file) {
    Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file: '%s' (%d)\n",
             filePath, errno);
    Add(KEY_CREATED_TIME, CurrentTime());
    Save(filePath);
  }
  path = filePath;
  modified = false;
  if (!file) return tErrParam;

  char line[_line_buffer_size];
  size_t length = 0;
  tErr read;
  while ((read = tFile_ReadLine(file, line, sizeof line, &length)) == tErrNone) {
    // A full buffer without its newline is a line over 2047 characters, also
    // when the file ends right after it.
    if (length == sizeof line - 1 && line[length - 1] != '\n') break;
    _parse_line(line, length);
  }
  tErr closed = tFile_Close(&file);
  // The end of the file and an over-long line end the reading normally; a
  // read that failed did not read the file.
  return read == tErrIO ? tErrIO : closed;
}

tErr KeyValueStore::Save(const char* filePath) {
  if (filePath) {
    path = filePath;
  } else if (path.empty()) {
    path = DEFAULT_FILENAME;
    Log::log(DEBUG_Attributes, "Attibutes: no filename given for attributes, using default:[%s]\n",
             path.c_str());
  }
  if (modified) Add(KEY_UPDATED_TIME, CurrentTime());

  std::string text;
  for (const auto& entry : entries) text += entry.first + "=" + entry.second + "\n";
  errno = 0;
  tErr result = tFile_Replace(path.c_str(), text.data(), text.size());
  if (result != tErrNone) {
    Log::log(DEBUG_Attributes,
             "Attibutes: Error - cannot open attributes file for writting: '%s' (%d)\n",
             path.c_str(), errno);
    return result;
  }
  modified = false;
  return tErrNone;
}

const char* KeyValueStore::operator[](const char* key) const {
  if (!key) return nullptr;
  auto found = entries.find(key);
  return found == entries.end() ? nullptr : found->second.c_str();
}

std::string KeyValueStore::GetString(const char* key, const char* defaultValue) const {
  const char* value = (*this)[key];
  if (value) return value;
  return defaultValue ? defaultValue : "";
}

int KeyValueStore::GetInt(const char* key, int defaultValue) {
  if (!key) return defaultValue;
  const std::string& value = entries[key];
  return value.empty() ? defaultValue : atoi(value.c_str());
}

uint32_t KeyValueStore::GetHex(const char* key, uint32_t defaultValue) {
  if (!key) return defaultValue;
  const std::string& value = entries[key];
  return value.empty() ? defaultValue : uint32_t(strtoll(value.c_str(), nullptr, 16));
}

bool KeyValueStore::GetBOOL(const char* key, bool defaultValue) {
  if (!key) return defaultValue;
  const std::string& value = entries[key];
  return value.empty() ? defaultValue : atoi(value.c_str()) != 0;
}

double KeyValueStore::GetDouble(const char* key, double defaultValue) {
  if (!key) return defaultValue;
  const std::string& value = entries[key];
  return value.empty() ? defaultValue : atof(value.c_str());
}

bool KeyValueStore::Add(const char* key, const std::string& value) {
  if (!key) return false;
  std::string& current = entries[key];
  if (current != value) {
    current = value;
    modified = true;
  }
  return true;
}

bool KeyValueStore::Add(const char* key, const char* value) {
  return Add(key, std::string(value ? value : ""));
}

bool KeyValueStore::Add(const char* key, int value) { return Add(key, std::to_string(value)); }

bool KeyValueStore::Add(const char* key, double value) {
  char text[512];
  snprintf(text, sizeof text, "%f", value);
  return Add(key, std::string(text));
}

bool KeyValueStore::AddHex(const char* key, uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", value);
  return Add(key, std::string(text));
}

void KeyValueStore::Add(const KeyValueStore& other) {
  for (const auto& entry : other.entries) entries[entry.first] = entry.second;
  modified = true;
}

void KeyValueStore::Clear() {
  entries.clear();
  modified = true;
}
