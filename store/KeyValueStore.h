// A small set of named text values, kept in memory and in a plain text file
// of key=value lines (the ".settings" file of every device directory in the
// store). The file is meant to be read and edited by hand.
//
// File format, as read:
//  - one entry per line, "key=value"; the value runs to the end of the line
//    and may itself contain '=';
//  - white space before and after the key, right after the '=' and at the
//    end of the value is dropped;
//  - lines shorter than 3 characters (newline included), lines starting with
//    '#' and lines whose key is empty are skipped; a line without '=' is a
//    key with an empty value;
//  - a later line with the same key wins;
//  - a line longer than 2047 characters (newline not counted) ends the
//    reading there.
// As written: every entry as "%s=%s\n", in byte-wise key order.
#pragma once

#include <stdint.h>

#include <map>
#include <string>

#include "sdk/core/tErr.h"

class KeyValueStore {
 public:
  static constexpr const char* DEFAULT_FILENAME = ".settings";
  static constexpr const char* KEY_CREATED_TIME = "CREATED_TIME";
  static constexpr const char* KEY_UPDATED_TIME = "UPDATED_TIME";

  // With a path, Load(path); a load error is not reported.
  KeyValueStore(const char* path = nullptr);

  // Reads the file at path into the entries (keys not in the file keep their
  // values), then remembers path and clears the modified flag. A file that
  // cannot be opened is created at once, holding CREATED_TIME and
  // UPDATED_TIME set to now; the result is then tErrParam. tErrIO when the
  // file opened but could not be read (a directory, a failing disk); the
  // entries read before the failure stay. tErrNone after a successful read.
  tErr Load(const char* path);

  // Writes every entry to `path` (or, with null, to the path it was loaded
  // from or last saved to; with neither, ".settings" in the current
  // directory). When anything changed since the last load or save,
  // UPDATED_TIME is set to now first. The file is replaced atomically: on
  // any failure the previous file stays as it was, the entries stay in
  // memory, the modified flag keeps its value and the result says why
  // (tFile_Replace codes). tErrNone when written.
  tErr Save(const char* path);

  // Lookups that never insert. operator[] gives null for an absent key;
  // GetString gives `defaultValue` (or "" when that is null).
  const char* operator[](const char* key) const;
  std::string GetString(const char* key, const char* defaultValue) const;

  // Typed getters. An absent key is first inserted with an empty value,
  // without marking the store modified (so the next save writes "key=").
  // An empty value gives the default.
  int GetInt(const char* key, int defaultValue);               // atoi: "12.bird" gives 12
  uint32_t GetHex(const char* key, uint32_t defaultValue);     // base 16, "0x" optional
  bool GetBOOL(const char* key, bool defaultValue);            // atoi(value) != 0
  double GetDouble(const char* key, double defaultValue);      // atof

  // Setters: store the formatted value and mark the store modified when the
  // text differs from the current one (an absent key counts as ""). They
  // return true (false only for a null key).
  bool Add(const char* key, int value);                 // "%d"
  bool Add(const char* key, double value);              // "%f"
  bool Add(const char* key, const char* value);         // null stores ""
  bool Add(const char* key, const std::string& value);
  bool AddHex(const char* key, uint32_t value);         // "0x%08X"

  // Copies every entry of other over this store's entries; marks modified.
  void Add(const KeyValueStore& other);
  // Removes all entries; marks modified.
  void Clear();

  const std::string& Path() const { return path; }
  const std::map<std::string, std::string>& Entries() const { return entries; }
  bool IsModified() const { return modified; }

  // The current local time as ctime writes it, without the newline
  // ("Tue May 19 14:03:07 2026"): the form of every date key of the store.
  static std::string CurrentTime();

 private:
  void _parse_line(const char* line, size_t length);

  std::string path;
  std::map<std::string, std::string> entries;
  bool modified = false;
};
