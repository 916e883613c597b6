#include "sim/update_server/QueryHandler.h"

#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>

namespace qnsim {
namespace {

using Params = std::map<std::string, std::string>;

Answer sError(int status, const std::string& text) {
  Answer a;
  a.status = status;
  a.body = "error: " + text + "\n";
  return a;
}

Answer sOk(const std::vector<std::string>& lines, bool crlf) {
  const char* eol = crlf ? "\r\n" : "\n";
  Answer a;
  a.body = std::string("ok") + eol;
  for (const std::string& line : lines) a.body += line + eol;
  return a;
}

const std::string* sParam(const Params& p, const char* key) {
  auto it = p.find(key);
  return it == p.end() ? nullptr : &it->second;
}

bool sMissing(const Params& p, std::initializer_list<const char*> keys, std::string* which) {
  for (const char* k : keys) {
    if (!sParam(p, k)) {
      *which = k;
      return true;
    }
  }
  return false;
}

std::string sReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Exactly the client's form: four words of 8 upper-case hex digits, one
// space between them (the "%20" of the query, decoded).
bool sParseFingerprint(const std::string& text, uint32_t words[4]) {
  if (text.size() != 35) return false;
  for (int i = 0; i < 4; ++i) {
    const std::string word = text.substr(size_t(i) * 9, 8);
    if (!Repository::IsSerialText(word) || (i < 3 && text[size_t(i) * 9 + 8] != ' '))
      return false;
    words[i] = uint32_t(strtoul(word.c_str(), nullptr, 16));
  }
  return true;
}

Answer sBuildAnswer(const Repository& repo, const Params& p, bool crlf) {
  const std::string& op = *sParam(p, "op");
  std::string missing;
  if (op == "hi") {
    if (sMissing(p, {"rv"}, &missing)) return sError(400, "missing " + missing);
    return sOk({}, crlf);
  }
  if (op == "fix") {
    if (sMissing(p, {"brief", "fp"}, &missing)) return sError(400, "missing " + missing);
    uint32_t fp[4];
    if (!sParseFingerprint(*sParam(p, "fp"), fp)) return sError(400, "bad fingerprint");
    std::optional<RecoveryImage> image = repo.Recovery(fp);
    if (!image) return sError(404, "no recovery image for this fingerprint");
    char serial[9];
    snprintf(serial, sizeof serial, "%08X", image->serial);
    return sOk({serial, std::to_string(image->build)}, crlf);
  }

  // Every other op is about one device.
  if (sMissing(p, {"sn"}, &missing)) return sError(400, "missing sn");
  const std::string& sn = *sParam(p, "sn");
  if (!Repository::IsSerialText(sn)) return sError(400, "bad serial number");
  if (!repo.HasDevice(sn)) return sError(404, "unknown device " + sn);

  if (op == "qu") {
    std::optional<uint32_t> latest = repo.Latest(sn);
    if (!latest) return sError(404, "no builds for " + sn);
    std::map<uint32_t, Build> builds = repo.Builds(sn);
    auto it = builds.find(*latest);
    return sOk({std::to_string(*latest), it == builds.end() ? "" : it->second.version}, crlf);
  }
  if (op == "builds") {
    std::vector<std::string> lines;
    for (const auto& b : repo.Builds(sn)) lines.push_back(std::to_string(b.first) + ";" +
                                                          b.second.version);
    return sOk(lines, crlf);
  }
  if (op == "bird") {
    if (sMissing(p, {"bld", "fw", "no_cal"}, &missing)) return sError(400, "missing " + missing);
    const std::string& noCal = *sParam(p, "no_cal");
    if (noCal != "true" && noCal != "false") return sError(400, "no_cal must be true or false");
    const std::string& bld = *sParam(p, "bld");
    if (bld.empty() || bld.size() > 9 || bld.find_first_not_of("0123456789") != std::string::npos)
      return sError(400, "bad build number");
    std::map<uint32_t, Build> builds = repo.Builds(sn);
    auto it = builds.find(uint32_t(strtoul(bld.c_str(), nullptr, 10)));
    if (it == builds.end()) return sError(404, "no build " + bld + " for " + sn);
    return sOk({Base64Encode(sReadAll(it->second.path))}, crlf);
  }
  if (op == "ent_jwt") {
    if (sMissing(p, {"json"}, &missing)) return sError(400, "missing json");
    std::optional<std::string> token = repo.Token(sn);
    if (!token) return sError(404, "no token for " + sn);
    return sOk({*token}, crlf);
  }
  return sError(400, "unknown op " + op);
}

bool sApplies(const std::string& faultOp, const std::string& op) {
  return faultOp.empty() || faultOp == op;
}

void sInjectFault(FaultMode mode, const std::string& op, Answer& a) {
  switch (mode) {
    case FaultMode::Status500:
      a.status = 500;
      a.body = "error: injected server fault\n";
      break;
    case FaultMode::NotOk: {
      size_t eol = a.body.find('\n');
      a.body = "failed" + (eol == std::string::npos ? std::string("\n") : a.body.substr(eol));
      break;
    }
    case FaultMode::Truncate:
      a.body.resize(a.body.size() / 2);
      break;
    case FaultMode::Garbage: {
      size_t eol = a.body.find('\n');
      size_t rest = eol == std::string::npos ? 0 : a.body.size() - eol - 1;
      size_t n = (rest + 3) / 4 * 4;
      a.body = "ok\n" + std::string(n ? n : 4, '#') + "\n";
      break;
    }
    case FaultMode::NotBird:
      if (op == "bird")
        a.body = "ok\n" + Base64Encode("This is a text file, not firmware.\n") + "\n";
      break;
    case FaultMode::Stall:
      a.stall = true;
      break;
  }
}

}  // namespace

std::optional<Fault> ParseFault(const std::string& text) {
  static const std::map<std::string, FaultMode> modes = {
      {"status500", FaultMode::Status500}, {"notok", FaultMode::NotOk},
      {"truncate", FaultMode::Truncate},   {"garbage", FaultMode::Garbage},
      {"notbird", FaultMode::NotBird},     {"stall", FaultMode::Stall}};
  size_t colon = text.find(':');
  auto it = modes.find(text.substr(0, colon));
  if (it == modes.end()) return std::nullopt;
  Fault f{it->second, colon == std::string::npos ? "" : text.substr(colon + 1)};
  return f;
}

std::optional<Delay> ParseDelay(const std::string& text) {
  size_t colon = text.find(':');
  std::string ms = text.substr(0, colon);
  if (ms.empty() || ms.size() > 7 || ms.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  Delay d;
  d.milliseconds = atoi(ms.c_str());
  if (colon != std::string::npos) d.op = text.substr(colon + 1);
  return d;
}

Answer AnswerQuery(const Repository& repository, const Params& parameters,
                   const HandlerOptions& options) {
  const std::string* op = sParam(parameters, "op");
  Answer answer = op ? sBuildAnswer(repository, parameters, options.crlf)
                     : sError(400, "missing op");
  const std::string opText = op ? *op : "";
  for (const Fault& f : options.faults)
    if (sApplies(f.op, opText)) sInjectFault(f.mode, opText, answer);
  for (const Delay& d : options.delays)
    if (sApplies(d.op, opText)) answer.delayMilliseconds += d.milliseconds;
  return answer;
}

std::string Base64Encode(const std::string& bytes) {
  static const char table[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  unsigned bits = 0;
  int count = 0;
  for (unsigned char c : bytes) {
    bits = bits << 8 | c;
    count += 8;
    while (count >= 6) {
      count -= 6;
      out += table[bits >> count & 0x3F];
    }
  }
  if (count > 0) out += table[bits << (6 - count) & 0x3F];
  while (out.size() % 4) out += '=';
  return out;
}

}  // namespace qnsim
