#include "app/Parameters.h"
#include "server/UpdateServerRequest.h"

const char* DefaultUpdateServerHost() { return UpdateServerRequest::DefaultHost(); }

std::string DefaultUpdateServerURL(bool https) { return UpdateServerRequest::DefaultURL(https); }
