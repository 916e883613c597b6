#include "sim/module/Endpoint.h"

#include "sdk/api/tUEI.h"

namespace qnsim {

Endpoint::Endpoint(Module* attached, std::vector<Module*> behind, Sink sink)
    : attached_(attached),
      behind_(std::move(behind)),
      sink_(std::move(sink)),
      assembly_(tPacket_Create()),
      lastInterval_(attached->HeartbeatInterval()),
      lastBeat_(std::chrono::steady_clock::now()) {}

Endpoint::~Endpoint() { tPacket_Destroy(&assembly_); }

void Endpoint::FromHost(const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; i++) {
    Frame complete;
    bool have = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (tPacket_AddByte(assembly_, data[i]) != tErrNone) {
        tPacket_Reset(assembly_);  // garbage: wait for the next packet start
        continue;
      }
      if (tPacket_IsComplete(assembly_)) {
        complete = Frame(assembly_->address,
                         std::vector<uint8_t>(assembly_->data, assembly_->data + assembly_->length));
        tPacket_Reset(assembly_);
        have = true;
      }
    }
    if (have) Dispatch(complete);
  }
}

void Endpoint::FromHostPacket(const Frame& frame) { Dispatch(frame); }

void Endpoint::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  tPacket_Reset(assembly_);
  route_ = false;
}

bool Endpoint::routed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return route_;
}

int Endpoint::heartbeatAnswers() {
  std::lock_guard<std::mutex> lock(mutex_);
  return heartbeatAnswers_;
}

void Endpoint::Dispatch(const Frame& frame) {
  const std::vector<uint8_t>& p = frame.payload;
  if (frame.address == cmdMAGIC && p.empty()) {
    if (!attached_->silent()) Send(Frame(attached_->address(), std::vector<uint8_t>()));
    return;
  }
  if (frame.address == cmdFORCEROUTE && p.size() == 1) {
    std::lock_guard<std::mutex> lock(mutex_);
    route_ = p[0] != 0;
    return;
  }
  if (p.size() == 2 && p[0] == cmdHB && (p[1] == 2 || p[1] == 3)) {
    std::lock_guard<std::mutex> lock(mutex_);
    heartbeatAnswers_++;
    return;
  }
  Module* target = nullptr;
  if (frame.address == attached_->address()) {
    target = attached_;
  } else if (routed() || attached_->RoutedToHost()) {
    for (Module* m : behind_) {
      if (m->address() == frame.address) target = m;
    }
  }
  if (target == nullptr) return;  // nobody on the network has that address
  Frames replies;
  target->Handle(frame, &replies);
  for (const Frame& r : replies) Send(r);
}

void Endpoint::Send(const Frame& frame) {
  std::lock_guard<std::mutex> lock(sendMutex_);
  sink_(frame.Bytes());
}

void Endpoint::Tick() {
  if (attached_->silent()) return;
  const uint8_t interval = attached_->HeartbeatInterval();
  const auto now = std::chrono::steady_clock::now();
  bool up = false, down = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (interval == 0 && lastInterval_ != 0) down = true;
    if (interval != 0 && now - lastBeat_ >= std::chrono::milliseconds(100 * interval)) {
      up = true;
      lastBeat_ = now;
    }
    lastInterval_ = interval;
  }
  const uint8_t a = attached_->address();
  if (down) Send(Frame(a, {cmdHB, 1}));
  if (up) Send(Frame(a, {cmdHB, 0}));
}

}  // namespace qnsim
