// The six update server queries over HTTPRequest::GET.
#include "server/UpdateServerRequest.h"

#include <stdio.h>

#include <memory>
#include <stdexcept>

#include "app/Log.h"
#include "server/HTTPRequest.h"

namespace {

std::string sSerialText(uint32_t serial) {
  char text[9];
  snprintf(text, sizeof text, "%08X", serial);
  return text;
}

// The pattern every query shares: GET, status 200, a first line that begins
// "ok". On success `body` holds the answer for the query's own parser.
bool sAsk(const char* method, const char* url, std::map<std::string, std::string> parameters,
          std::string& body) {
  const std::string base = url ? std::string(url) : UpdateServerRequest::DefaultURL();
  std::unique_ptr<HTTPResponse> response;
  try {
    response.reset(new HTTPResponse(HTTPRequest::GET(base.c_str(), parameters)));
  } catch (const std::exception& e) {
    Log::log(DEBUG_ServerComm, "%s ==> [%s]\n", method, e.what());
    return false;
  }
  if (response->get_status() != 200) {
    if (std::string(method) == "ping")
      Log::log(DEBUG_ServerComm, "PING ==> [%d] [%s]\n", int(response->get_status()),
               response->get_response().c_str());
    else
      Log::log(DEBUG_ServerComm, "%s ==> [%d] [%s]\n", method, int(response->get_status()),
               response->get_response().c_str());
    return false;
  }
  if (!UpdateServerRequest::ParsePing(response->get_response())) {
    Log::log(DEBUG_ServerComm, "ServerCommClass: %s failed [%s]\n", method,
             response->get_request().c_str());
    return false;
  }
  body = response->get_response();
  return true;
}

}  // namespace

bool UpdateServerRequest::ping(const char* url) {
  std::string body;
  return sAsk("ping", url, {{"op", "hi"}, {"rv", "2"}}, body);
}

bool UpdateServerRequest::QueryBuild(uint32_t serial, std::string& build, std::string& version,
                                     const char* url) {
  std::string body;
  if (!sAsk("QueryBuild", url, {{"op", "qu"}, {"sn", sSerialText(serial)}}, body)) return false;
  return ParseQueryBuild(body, build, version);
}

bool UpdateServerRequest::GetBuild(uint32_t serial, const char* version, const char* build,
                                   std::string& bird, const char* url, bool noCal) {
  std::string body;
  if (!sAsk("GetBuild", url,
            {{"bld", build ? build : ""},
             {"fw", version ? version : ""},
             {"no_cal", noCal ? "true" : "false"},
             {"op", "bird"},
             {"sn", sSerialText(serial)}},
            body))
    return false;
  return ParseGetBuild(body, bird);
}

bool UpdateServerRequest::GetBuildList(uint32_t serial, std::map<std::string, std::string>& builds,
                                       const char* url) {
  builds.clear();
  std::string body;
  if (!sAsk("GetBuildList", url, {{"op", "builds"}, {"sn", sSerialText(serial)}}, body))
    return false;
  return ParseBuildList(body, builds);
}

bool UpdateServerRequest::GetRecoveryInfo(const uint32_t fingerprint[4], uint32_t* serial,
                                          uint32_t* build, const char* url) {
  char fp[64];
  snprintf(fp, sizeof fp, "%08X%%20%08X%%20%08X%%20%08X", fingerprint[0], fingerprint[1],
           fingerprint[2], fingerprint[3]);
  std::string body;
  if (!sAsk("GetRecoveryInfo", url, {{"brief", "true"}, {"fp", fp}, {"op", "fix"}}, body))
    return false;
  return ParseRecoveryInfo(body, serial, build);
}

bool UpdateServerRequest::GetDeviceJWT(uint32_t serial, std::string& token, const char* url) {
  std::string body;
  if (!sAsk("GetDeviceJWT", url,
            {{"json", "false"}, {"op", "ent_jwt"}, {"sn", sSerialText(serial)}}, body))
    return false;
  return ParseDeviceJWT(body, token);
}
