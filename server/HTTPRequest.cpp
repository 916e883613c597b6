#include "server/HTTPRequest.h"

#include <curl/curl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <stdexcept>

#include "app/Log.h"

namespace {

// curl_easy_init would do this implicitly, but not thread-safely; the
// download runs its request on a worker thread.
void sGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool sEnvSet(const char* name) {
  const char* v = getenv(name);
  return v && *v && strcmp(v, "0") != 0;
}

// Applies the options in order; the first that fails ends the sequence.
CURLcode sConfigure(CURL* curl, HTTPResponse* response) {
  CURLcode rc;
#define QN_SET(option, value) \
  if ((rc = curl_easy_setopt(curl, option, value)) != CURLE_OK) return rc
  QN_SET(CURLOPT_WRITEFUNCTION, _rcv_data);
  QN_SET(CURLOPT_WRITEDATA, response);
  QN_SET(CURLOPT_URL, response->get_request().c_str());
  QN_SET(CURLOPT_PROTOCOLS_STR, "http,https");
  QN_SET(CURLOPT_NOSIGNAL, 1L);  // no SIGALRM games on a worker thread
  QN_SET(CURLOPT_CONNECTTIMEOUT, HTTPRequest::CONNECT_TIMEOUT_SECONDS);
  QN_SET(CURLOPT_LOW_SPEED_LIMIT, 1L);
  QN_SET(CURLOPT_LOW_SPEED_TIME, HTTPRequest::STALL_TIMEOUT_SECONDS);
  QN_SET(CURLOPT_MAXFILESIZE_LARGE, curl_off_t(HTTPResponse::MAX_BODY_BYTES));
  if (sEnvSet(HTTPRequest::NO_VERIFY_ENV)) {
    static std::once_flag warned;
    std::call_once(warned, [] {
      Log::log(0, "WARNING: %s is set: the update server's TLS certificate is not verified\n",
               HTTPRequest::NO_VERIFY_ENV);
    });
    QN_SET(CURLOPT_SSL_VERIFYHOST, 0L);
    QN_SET(CURLOPT_SSL_VERIFYPEER, 0L);
  } else {
    QN_SET(CURLOPT_SSL_VERIFYHOST, 2L);
    QN_SET(CURLOPT_SSL_VERIFYPEER, 1L);
    const char* bundle = getenv(HTTPRequest::CA_BUNDLE_ENV);
    if (bundle && *bundle) QN_SET(CURLOPT_CAINFO, bundle);
  }
  QN_SET(CURLOPT_SSL_VERIFYSTATUS, 0L);
#undef QN_SET
  return CURLE_OK;
}

}  // namespace

size_t _rcv_data(void* data, size_t size, size_t count, void* response) {
  HTTPResponse* r = static_cast<HTTPResponse*>(response);
  size_t n = size * count;
  // The chunk is not NUL-terminated: never print past its end.
  int shown = n < 100 ? int(n) : 100;
  Log::log(DEBUG_ServerComm, "rcv_data called (..., %d, %d, %08X) [%100.*s]\n", int(size),
           int(count), unsigned(uintptr_t(response) & 0xFFFFFFFFu), shown,
           static_cast<const char*>(data));
  if (!r->process(static_cast<const char*>(data), n)) {
    Log::log(DEBUG_ServerComm, "rcv_data refuses a body above %zu bytes\n",
             size_t(HTTPResponse::MAX_BODY_BYTES));
    return 0;
  }
  Log::log(DEBUG_ServerComm, "rcv_data returns %d\n", int(n));
  return n;
}

std::string HTTPRequest::RequestText(const char* url,
                                     const std::map<std::string, std::string>& parameters) {
  std::string text = url ? url : "";
  if (!parameters.empty()) text += "?";
  for (const auto& p : parameters) text += p.first + "=" + p.second + "&";
  return text;
}

HTTPResponse HTTPRequest::GET(const char* url, std::map<std::string, std::string>& parameters) {
  sGlobalInit();
  CURL* curl = curl_easy_init();
  if (!curl) throw std::runtime_error("Could not create curl instance");

  HTTPResponse response(RequestText(url, parameters));
  CURLcode rc = sConfigure(curl, &response);
  if (rc == CURLE_OK) {
    Log::log(DEBUG_ServerComm, "GET(%s)\n", response.get_request().c_str());
    rc = curl_easy_perform(curl);
  }
  long status = 0;
  CURLcode infoRc = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if (rc == CURLE_OK) rc = infoRc;
  if (rc != CURLE_OK) {
    curl_easy_cleanup(curl);
    if (response.overflowed() || rc == CURLE_FILESIZE_EXCEEDED)
      throw std::runtime_error("Answer larger than " +
                               std::to_string(HTTPResponse::MAX_BODY_BYTES) + " bytes refused");
    throw std::runtime_error(curl_easy_strerror(rc));
  }
  response.set_status(status);
  curl_easy_cleanup(curl);
  return response;
}
