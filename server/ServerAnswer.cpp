// The answer parsers of the update server queries.
#include <stdlib.h>
#include <string.h>

#include "app/Log.h"
#include "server/AnswerTokens.h"
#include "server/UpdateServerRequest.h"

namespace {

bool sFirstLineOk(AnswerTokens& tokens) {
  std::string first;
  return tokens.Next("\n", first) && first.compare(0, 2, "ok") == 0;
}

}  // namespace

bool UpdateServerRequest::ParsePing(const std::string& body) {
  AnswerTokens tokens(body);
  return sFirstLineOk(tokens);
}

bool UpdateServerRequest::ParseQueryBuild(const std::string& body, std::string& build,
                                          std::string& version) {
  AnswerTokens tokens(body);
  if (!sFirstLineOk(tokens)) return false;
  std::string field;
  if (tokens.Next("\n", field)) build = field;
  if (tokens.Next("\r\n", field)) version = field;
  return true;
}

bool UpdateServerRequest::ParseGetBuild(const std::string& body, std::string& bird) {
  AnswerTokens tokens(body);
  if (!sFirstLineOk(tokens)) return false;
  bird.clear();
  std::string line;
  if (tokens.Next("\n", line)) {
    // A server that ends its lines with "\r\n" must not spoil the base64.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    bird = line;
  }
  return true;
}

bool UpdateServerRequest::ParseBuildList(const std::string& body,
                                         std::map<std::string, std::string>& builds) {
  AnswerTokens tokens(body);
  if (!sFirstLineOk(tokens)) return false;
  std::string line;
  while (tokens.Next("\n", line)) {
    if (line.size() < 3) continue;
    Log::log(DEBUG_ServerComm, "%s processing entry: [%s]\n", "GetBuildList", line.c_str());
    AnswerTokens fields(line);
    std::string key, value;
    if (!fields.Next(";\r\n", key)) continue;
    fields.Next(";\r\n", value);
    builds.emplace(key, value);  // a duplicate keeps its first value
    Log::log(DEBUG_ServerComm, "%s [%.10s][%.10s]\n", "GetBuildList", key.c_str(), value.c_str());
  }
  return true;
}

bool UpdateServerRequest::ParseRecoveryInfo(const std::string& body, uint32_t* serial,
                                            uint32_t* build) {
  AnswerTokens tokens(body);
  std::string first;
  if (!tokens.Next("\n", first) || first.compare(0, 2, "ok") != 0) return false;
  std::string second, third;
  bool haveSerial = tokens.Next("\n", second);
  bool haveBuild = tokens.Next("\n", third);
  Log::log(DEBUG_ServerComm, "%s [%.20s][%.20s][%.20s]\n", "GetRecoveryInfo", first.c_str(),
           second.c_str(), third.c_str());
  if (haveSerial && serial) *serial = uint32_t(strtoul(second.c_str(), nullptr, 16));
  if (haveBuild && build) *build = uint32_t(strtoul(third.c_str(), nullptr, 0));
  return true;
}

bool UpdateServerRequest::ParseDeviceJWT(const std::string& body, std::string& token) {
  AnswerTokens tokens(body);
  if (!sFirstLineOk(tokens)) return false;
  std::string line;
  if (!tokens.Next("\n", line) || line.size() <= 2) return false;
  Log::log(DEBUG_ServerComm, "%s processing entry: [%s]\n", "GetDeviceJWT", line.c_str());
  AnswerTokens parts(line);
  std::string header, payload, signature;
  if (!parts.Next(".", header) || !parts.Next(".", payload) || !parts.Next("\r\n", signature))
    return false;
  if (header.size() < 2 || payload.size() < 2 || signature.size() < 2) return false;
  token = header + "." + payload + "." + signature;
  return true;
}
