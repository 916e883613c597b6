// update-server: serves a firmware repository directory over HTTP or HTTPS
// at "/cgi/u", answering the update server's query protocol. Tests and the
// demo run it on loopback; a lab without internet access can run it as its
// offline mirror.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "sim/update_server/QueryHandler.h"

namespace {

const char sUsage[] =
    "Usage: update-server --repo DIR [options]\n"
    "\n"
    "Serves the firmware repository DIR at /cgi/u (ops hi, qu, bird, builds, fix, ent_jwt).\n"
    "\n"
    "  --repo DIR          the repository (layout below)\n"
    "  --bind ADDR         address to listen on (default 127.0.0.1; 0.0.0.0 for a lab mirror)\n"
    "  --port N            port to listen on (default 8478; 0 picks a free one)\n"
    "  --cert FILE         serve HTTPS with this PEM certificate (chain) ...\n"
    "  --key FILE          ... and this PEM private key\n"
    "  --crlf              end answer lines with CR LF\n"
    "  --fault MODE[:OP]   inject a fault into every answer, or only into OP's answers:\n"
    "                      status500, notok (first line not \"ok\"), truncate (half the\n"
    "                      answer), garbage (lines outside base64), notbird (op=bird sends\n"
    "                      base64 of a file that is no BIRD file), stall (accept, never answer)\n"
    "  --delay MS[:OP]     wait MS milliseconds before answering (every op, or only OP)\n"
    "  --help              this text\n"
    "\n"
    "Repository layout:\n"
    "  DIR/devices/SSSSSSSS/NNN.bird   build NNN of device SSSSSSSS (8 upper-case hex digits);\n"
    "                                  the version is read from the file's description\n"
    "  DIR/devices/SSSSSSSS/latest     optional: the build answered as latest (default: highest)\n"
    "  DIR/devices/SSSSSSSS/token      optional: the device's feature token (one line)\n"
    "  DIR/recovery/AAAAAAAA-BBBBBBBB-CCCCCCCC-DDDDDDDD\n"
    "                                  recovery image of a chip fingerprint: \"SERIAL BUILD\"\n"
    "\n"
    "On start it prints \"update-server: serving DIR on URL\"; every request is logged on\n"
    "standard output. SIGINT or SIGTERM stops it.\n";

struct sConfig {
  std::string repo;
  std::string bind = "127.0.0.1";
  int port = 8478;
  std::string cert, key;
  qnsim::HandlerOptions handler;
};

// Released at shutdown, so that stalled answers end and the pool can join.
std::mutex sShutdownMutex;
std::condition_variable sShutdownCv;
bool sShuttingDown = false;

int sFail(const std::string& text) {
  fprintf(stderr, "update-server: %s\n", text.c_str());
  return 2;
}

// 0 to run, 1 after --help, 2 on a bad command line.
int sParse(int argc, char** argv, sConfig& c) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      fputs(sUsage, stdout);
      return 1;
    } else if (a == "--crlf") {
      c.handler.crlf = true;
    } else if (a == "--repo" && value(v)) {
      c.repo = v;
    } else if (a == "--bind" && value(v)) {
      c.bind = v;
    } else if (a == "--port" && value(v)) {
      char* end = nullptr;
      long port = strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || port < 0 || port > 65535) return sFail("bad port " + v);
      c.port = int(port);
    } else if (a == "--cert" && value(v)) {
      c.cert = v;
    } else if (a == "--key" && value(v)) {
      c.key = v;
    } else if (a == "--fault" && value(v)) {
      std::optional<qnsim::Fault> f = qnsim::ParseFault(v);
      if (!f) return sFail("unknown fault " + v);
      c.handler.faults.push_back(*f);
    } else if (a == "--delay" && value(v)) {
      std::optional<qnsim::Delay> d = qnsim::ParseDelay(v);
      if (!d) return sFail("bad delay " + v);
      c.handler.delays.push_back(*d);
    } else {
      fputs(sUsage, stderr);
      return sFail("unexpected argument " + a);
    }
  }
  if (c.repo.empty()) return sFail("--repo DIR is required (--help for usage)");
  std::error_code ec;
  if (!std::filesystem::is_directory(c.repo, ec)) return sFail("no repository at " + c.repo);
  if (c.cert.empty() != c.key.empty()) return sFail("--cert and --key go together");
  return 0;
}

std::map<std::string, std::string> sParameters(const httplib::Request& req) {
  std::map<std::string, std::string> p;
  for (const auto& kv : req.params) p.emplace(kv.first, kv.second);  // first value wins
  return p;
}

void sServe(const sConfig& c, const qnsim::Repository& repo, const httplib::Request& req,
            httplib::Response& res) {
  qnsim::Answer a = qnsim::AnswerQuery(repo, sParameters(req), c.handler);
  std::unique_lock<std::mutex> lock(sShutdownMutex);
  if (a.stall) {
    printf("%s -> stalled\n", req.target.c_str());
    sShutdownCv.wait(lock, [] { return sShuttingDown; });
    return;
  }
  if (a.delayMilliseconds > 0)
    sShutdownCv.wait_for(lock, std::chrono::milliseconds(a.delayMilliseconds),
                         [] { return sShuttingDown; });
  res.status = a.status;
  res.set_content(a.body, "text/plain");
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  sConfig config;
  int parsed = sParse(argc, argv, config);
  if (parsed == 1) return 0;
  if (parsed != 0) return parsed;

  // Signals are taken by one thread with sigwait, never inside the server.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<httplib::Server> server;
  if (!config.cert.empty()) {
    auto tls = std::make_unique<httplib::SSLServer>(config.cert.c_str(), config.key.c_str());
    if (!tls->is_valid()) return sFail("cannot use certificate " + config.cert + " and key " +
                                       config.key);
    server = std::move(tls);
  } else {
    server = std::make_unique<httplib::Server>();
  }

  qnsim::Repository repo(config.repo);
  server->Get("/cgi/u", [&](const httplib::Request& req, httplib::Response& res) {
    sServe(config, repo, req, res);
  });
  server->set_logger([](const httplib::Request& req, const httplib::Response& res) {
    printf("%s %s -> %d (%zu bytes)\n", req.method.c_str(), req.target.c_str(), res.status,
           res.body.size());
  });

  int port = config.port;
  if (port == 0) {
    port = server->bind_to_any_port(config.bind);
    if (port < 0) return sFail("cannot listen on " + config.bind);
  } else if (!server->bind_to_port(config.bind, port)) {
    return sFail("cannot listen on " + config.bind + ":" + std::to_string(port));
  }
  const char* scheme = config.cert.empty() ? "http" : "https";
  printf("update-server: serving %s on %s://%s:%d/cgi/u\n", config.repo.c_str(), scheme,
         config.bind.c_str(), port);

  std::thread stopper([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    {
      std::lock_guard<std::mutex> lock(sShutdownMutex);
      sShuttingDown = true;
    }
    sShutdownCv.notify_all();
    server->stop();
  });
  server->listen_after_bind();
  // listen ends only through the stopper; if it failed on its own, wake it.
  bool stopped;
  {
    std::lock_guard<std::mutex> lock(sShutdownMutex);
    stopped = sShuttingDown;
  }
  if (!stopped) kill(getpid(), SIGTERM);
  stopper.join();
  printf("update-server: stopped\n");
  return 0;
}
