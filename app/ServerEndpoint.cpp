#include "app/Parameters.h"

#ifndef QN_UPDATE_SERVER_HOST
#define QN_UPDATE_SERVER_HOST "127.0.0.1:8478"
#endif

const char* DefaultUpdateServerHost() { return QN_UPDATE_SERVER_HOST; }

std::string DefaultUpdateServerURL(bool https) {
  return std::string(https ? "https://" : "http://") + QN_UPDATE_SERVER_HOST + "/cgi/u";
}
