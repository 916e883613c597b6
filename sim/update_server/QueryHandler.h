// The update server's answers to "/cgi/u": the query protocol itself, with
// the fault modes layered on top. Kept apart from the HTTP server so that
// it can be tested on its own.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/update_server/Repository.h"

namespace qnsim {

enum class FaultMode {
  Status500,  // status 500 with a short body
  NotOk,      // status 200, but a first line other than "ok"
  Truncate,   // the answer cut to half its length
  Garbage,    // every line after the first replaced by text outside base64
  NotBird,    // op=bird: valid base64 of bytes that are no BIRD file
  Stall,      // the connection is accepted and never answered
};

// A fault applies to one op, or to every op when `op` is empty.
struct Fault {
  FaultMode mode;
  std::string op;
};

struct Delay {
  int milliseconds = 0;
  std::string op;
};

struct HandlerOptions {
  bool crlf = false;  // end answer lines with "\r\n" instead of "\n"
  std::vector<Fault> faults;
  std::vector<Delay> delays;
};

struct Answer {
  int status = 200;
  std::string body;
  bool stall = false;       // the server must never answer
  int delayMilliseconds = 0;
};

// "MODE" or "MODE:OP", MODE one of status500, notok, truncate, garbage,
// notbird, stall.
std::optional<Fault> ParseFault(const std::string& text);
// "MS" or "MS:OP".
std::optional<Delay> ParseDelay(const std::string& text);

Answer AnswerQuery(const Repository& repository,
                   const std::map<std::string, std::string>& parameters,
                   const HandlerOptions& options);

std::string Base64Encode(const std::string& bytes);

}  // namespace qnsim
