// Client side of the update server's query protocol: one GET per question
// to one base URL, "op" naming the operation, and a short text answer whose
// first line begins "ok" on success. Failures are false plus a log line
// (DEBUG_ServerComm); nothing is shown on the console.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

class UpdateServerRequest {
 public:
  using BuildEntry = std::pair<std::string, std::string>;  // build text, version text

  // Each query takes the base URL last; null means the default endpoint.
  static bool ping(const char* url);
  static bool QueryBuild(uint32_t serial, std::string& build, std::string& version,
                         const char* url);
  static bool GetBuild(uint32_t serial, const char* version, const char* build, std::string& bird,
                       const char* url, bool noCal);
  static bool GetBuildList(uint32_t serial, std::map<std::string, std::string>& builds,
                           const char* url);
  static bool GetRecoveryInfo(const uint32_t fingerprint[4], uint32_t* serial, uint32_t* build,
                              const char* url);
  static bool GetDeviceJWT(uint32_t serial, std::string& token, const char* url);

  // Answer parsers, given a body that came with status 200. Each returns
  // whether the first line begins "ok" (and, for the token, whether the
  // token is well formed); outputs are touched only as the queries promise.
  static bool ParsePing(const std::string& body);
  static bool ParseQueryBuild(const std::string& body, std::string& build, std::string& version);
  static bool ParseGetBuild(const std::string& body, std::string& bird);
  static bool ParseBuildList(const std::string& body, std::map<std::string, std::string>& builds);
  static bool ParseRecoveryInfo(const std::string& body, uint32_t* serial, uint32_t* build);
  static bool ParseDeviceJWT(const std::string& body, std::string& token);

  // Newest version first. Unreadable versions come after all readable ones;
  // equal versions (and the unreadable ones among themselves) order by build
  // number, highest first, so the order is total and deterministic.
  static std::vector<BuildEntry> SortBuildsByVersion(
      const std::map<std::string, std::string>& builds);
  // "a.b.c" cut at every "."; empty unless there are exactly three parts.
  static std::vector<std::string> SplitQuillnodeVersion(std::string version);
  // True when a sorts before b in SortBuildsByVersion's order.
  static bool _sortVersion(const BuildEntry& a, const BuildEntry& b);

  // The endpoint used for a null url: "http://" + default host + "/cgi/u".
  static std::string DefaultURL(bool https = false);
  static const char* DefaultHost();
  // The -u option's value as a base URL: a value with a scheme is used as
  // given; "host:port" becomes "http://host:port/cgi/u", and a value with a
  // path but no scheme gets "http://" in front.
  static std::string URLFromOption(const std::string& value);
};

// Standard base64 (RFC 4648, '+' '/', '=' padding). Both return a buffer of
// malloc'ed memory that the caller frees, NUL after the data, and the data
// length in *outLength. Decoding gives null for a length that is not a
// multiple of 4 and for any character outside the alphabet or misplaced
// padding.
char* base64_decode(const char* text, size_t length, size_t* outLength);
char* base64_encode(const char* data, size_t length, size_t* outLength);
