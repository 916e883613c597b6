// The module's side of one link, whatever carries it. It assembles the
// host's packets from the byte stream (or takes them whole from a framed
// transport), and:
//   - answers every magic packet (0xAD 0x00) with an empty packet from the
//     attached module's own address;
//   - takes route packets (0xAF 0x01 on|off) without an answer;
//   - counts the host's heartbeat answers (A 0x02 0x00 2|3);
//   - hands every other packet to the module with that address: the
//     attached module, or, while the host is routed to, a module behind it;
//   - sends heartbeats (A 0x02 0x00 0) while the module's interval is set,
//     and one A 0x02 0x00 1 when the host sets it back to 0.
// Each outgoing packet goes to the sink whole, one call per packet.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

#include "sdk/core/tPacket.h"
#include "sim/module/Frame.h"
#include "sim/module/Module.h"

namespace qnsim {

class Endpoint {
 public:
  using Sink = std::function<void(const std::vector<uint8_t>& packetBytes)>;

  // `behind` are the modules on the attached module's I2C network.
  Endpoint(Module* attached, std::vector<Module*> behind, Sink sink);
  ~Endpoint();
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  // Bytes of the host's packet stream, in order.
  void FromHost(const uint8_t* data, size_t length);
  // One whole packet (framed transports).
  void FromHostPacket(const Frame& frame);
  // A new host session: drops a half-assembled packet and the route state.
  void Reset();
  // Sends what is due (heartbeats); called every few tens of milliseconds.
  void Tick();

  bool routed();
  int heartbeatAnswers();

 private:
  void Dispatch(const Frame& frame);
  void Send(const Frame& frame);

  Module* const attached_;
  const std::vector<Module*> behind_;
  const Sink sink_;
  std::mutex mutex_;      // assembly and state
  std::mutex sendMutex_;  // keeps outgoing packets whole and in order
  tPacket* assembly_;
  bool route_ = false;
  int heartbeatAnswers_ = 0;
  uint8_t lastInterval_ = 0;
  std::chrono::steady_clock::time_point lastBeat_;
};

}  // namespace qnsim
