#include "sim/module/Module.h"

#include <stdio.h>

#include <algorithm>

#include "sdk/api/tUEI.h"
#include "sdk/core/tErr.h"

namespace qnsim {

namespace {

uint32_t sCapabilityKey(uint8_t command, uint8_t option, uint8_t index, uint8_t flags) {
  return (static_cast<uint32_t>(command) << 24) | (static_cast<uint32_t>(option) << 16) |
         (static_cast<uint32_t>(index) << 8) | flags;
}

}  // namespace

Module::Module(const ModuleConfig& config) : config_(config), system_(config) {}

std::string Module::serialText() const {
  char text[16];
  snprintf(text, sizeof text, "%08X", config_.serial);
  return text;
}

uint8_t Module::HeartbeatInterval() {
  std::lock_guard<std::mutex> lock(mutex_);
  return system_.heartbeatInterval();
}

bool Module::RoutedToHost() {
  std::lock_guard<std::mutex> lock(mutex_);
  return system_.routedToHost();
}

void Module::SetHandler(uint8_t command, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handlers_[command] = std::move(handler);
}

void Module::AddCapability(uint8_t command, uint8_t option, uint8_t index, uint8_t directionFlags) {
  std::lock_guard<std::mutex> lock(mutex_);
  capabilities_.insert(sCapabilityKey(command, option, index, directionFlags));
}

void Module::Handle(const Frame& request, Frames* replies) {
  if (config_.silent || request.payload.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  const uint8_t command = request.payload[0];
  auto custom = handlers_.find(command);
  if (custom != handlers_.end()) {
    custom->second(*this, request, replies);
    return;
  }
  switch (command) {
    case cmdSYSTEM: system_.Handle(config_.address, request.payload, replies); return;
    case cmdMODULEINFO: HandleModuleInfo(request, replies); return;
    case cmdDEBUG: HandleDebug(request, replies); return;
    case cmdI2C: HandleI2C(request, replies); return;
    default: break;
  }
  // A UEI request to an entity class the module does not have is refused;
  // a raw command it does not know goes unanswered.
  tPacket probe;
  probe.check = tPACKETCHECK;
  probe.length = static_cast<uint8_t>(std::min<size_t>(request.payload.size(), tPACKET_MAX_DATA));
  probe.data[0] = command;
  if (tUEI_isNotUEIPayload(&probe) || request.payload.size() < 3) return;
  const uint8_t direction = request.payload[1] & 0xC0;
  if (direction != UEI_OPT_GET && direction != UEI_OPT_SET) return;
  const uint8_t option = request.payload[1] & UEI_OPT_MASK;
  const uint8_t answer = direction == UEI_OPT_GET ? option : static_cast<uint8_t>(option | UEI_OPT_ACK);
  replies->push_back(Frame(config_.address, {command, answer,
                                             static_cast<uint8_t>((request.payload[2] & UEI_IDX_MASK) | UEI_IDX_ERROR),
                                             tErrInvalidEntity}));
}

uint8_t Module::HasUEI(uint8_t command, uint8_t option, uint8_t index, uint8_t flags) {
  if (capabilities_.count(sCapabilityKey(command, option, index, flags))) return tErrNone;
  if (command == cmdSYSTEM) return system_.Implements(option, index, flags) ? tErrNone : tErrInvalidOption;
  return tErrInvalidEntity;
}

void Module::HandleModuleInfo(const Frame& request, Frames* replies) {
  const std::vector<uint8_t>& p = request.payload;
  if (p.size() < 2) return;
  const uint8_t a = config_.address;
  switch (p[1]) {
    case val_INFO_BUILD: {
      const uint32_t b = config_.build;
      replies->push_back(Frame(a, {cmdMODULEINFO, val_INFO_BUILD, static_cast<uint8_t>(b >> 24),
                                   static_cast<uint8_t>(b >> 16), static_cast<uint8_t>(b >> 8), static_cast<uint8_t>(b)}));
      return;
    }
    case val_INFO_HASUEI:
      if (p.size() < 6) return;
      replies->push_back(Frame(a, {cmdMODULEINFO, val_INFO_HASUEI, p[2], p[3], p[4], HasUEI(p[2], p[3], p[4], p[5])}));
      return;
    case val_INFO_CLASSQUANTITY: {
      if (p.size() < 3) return;
      const uint8_t count = p[2] == cmdSYSTEM || p[2] == cmdI2C ? 1 : 0;
      replies->push_back(Frame(a, {cmdMODULEINFO, val_INFO_CLASSQUANTITY, p[2], count}));
      return;
    }
    case val_INFO_SUBCLASSQUANTITY:
    case val_INFO_ENTITYGROUP:
      if (p.size() < 4) return;
      replies->push_back(Frame(a, {cmdMODULEINFO, p[1], p[2], p[3], 0}));
      return;
    default:
      return;
  }
}

void Module::HandleDebug(const Frame& request, Frames* replies) {
  replies->push_back(Frame(config_.address, request.payload));
}

void Module::HandleI2C(const Frame& request, Frames* replies) {
  const std::vector<uint8_t>& p = request.payload;
  if (p.size() < 4) return;
  const uint8_t a = config_.address;
  const uint8_t index = p[1];
  const uint8_t target = p[2];
  if (p.size() == 4 && target == 1) {  // pull-up: 8, index, 1, on
    const uint8_t status = index == 0 ? 0 : static_cast<uint8_t>(0x80 | tErrInvalidEntity);
    if (index == 0) bus_.SetPullup(p[3] != 0);
    replies->push_back(Frame(a, {cmdI2C, index, 1, 0, status}));
    return;
  }
  if (p.size() < 5) return;
  const uint8_t length = p[3];
  if (index != 0) {
    replies->push_back(Frame(a, {cmdI2C, index, target, 0, static_cast<uint8_t>(0x80 | tErrInvalidEntity)}));
    return;
  }
  if (target & 1) {  // read: 8, index, address|1, length, speed
    std::vector<uint8_t> data;
    const uint8_t status = bus_.Read(target, std::min<uint8_t>(length, 23), &data);
    Frame f(a, {cmdI2C, index, target, static_cast<uint8_t>(data.size()), status});
    f.payload.insert(f.payload.end(), data.begin(), data.end());
    replies->push_back(f);
    return;
  }
  // write: 8, index, address, length, speed, data
  std::vector<uint8_t> data(p.begin() + 5, p.end());
  if (data.size() > length) data.resize(length);
  replies->push_back(Frame(a, {cmdI2C, index, target, 0, bus_.Write(target, data)}));
}

}  // namespace qnsim
