// The default endpoint, fixed at build time, and the -u option's forms.
#include "server/UpdateServerRequest.h"

#ifndef QN_UPDATE_SERVER_HOST
#define QN_UPDATE_SERVER_HOST "127.0.0.1:8478"
#endif

const char* UpdateServerRequest::DefaultHost() { return QN_UPDATE_SERVER_HOST; }

std::string UpdateServerRequest::DefaultURL(bool https) {
  return std::string(https ? "https://" : "http://") + QN_UPDATE_SERVER_HOST + "/cgi/u";
}

std::string UpdateServerRequest::URLFromOption(const std::string& value) {
  if (value.find("://") != std::string::npos) return value;
  if (value.find('/') != std::string::npos) return "http://" + value;
  return "http://" + value + "/cgi/u";
}
