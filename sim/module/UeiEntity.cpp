#include "sim/module/UeiEntity.h"

#include <algorithm>

#include "sdk/api/tUEI.h"
#include "sdk/core/tErr.h"

namespace qnsim {

namespace {

size_t sWidth(UeiEntity::Kind kind) {
  switch (kind) {
    case UeiEntity::Kind::Byte: return 1;
    case UeiEntity::Kind::Short: return 2;
    case UeiEntity::Kind::Int: return 4;
    default: return 0;
  }
}

uint32_t sMask(uint32_t v, size_t width) {
  return width == 4 ? v : (v & ((1u << (8 * width)) - 1));
}

void sPutValue(std::vector<uint8_t>& out, uint32_t v, size_t width) {
  for (size_t i = width; i-- > 0;) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t sGetValue(const uint8_t* p, size_t width) {
  uint32_t v = 0;
  for (size_t i = 0; i < width; i++) v = (v << 8) | p[i];
  return v;
}

}  // namespace

UeiEntity::Option& UeiEntity::Define(uint8_t option, Kind kind, bool get, bool set) {
  Option& o = options_[option];
  o.kind = kind;
  o.get = get && kind != Kind::Call;
  o.set = set || kind == Kind::Call;
  return o;
}

UeiEntity::Option* UeiEntity::Find(uint8_t option) {
  auto it = options_.find(option);
  return it == options_.end() ? nullptr : &it->second;
}

bool UeiEntity::Implements(uint8_t option, uint8_t index, uint8_t directionFlags) {
  Option* o = Find(option);
  if (o == nullptr || index >= indexes_) return false;
  switch (directionFlags) {
    case UEI_OPT_GET: return o->get;
    case UEI_OPT_SET: return o->set && o->kind != Kind::Call;
    case 0: return o->kind == Kind::Call;
    default: return false;
  }
}

void UeiEntity::Error(uint8_t address, uint8_t optionByte, uint8_t index, uint8_t code, Frames* replies) {
  replies->push_back(Frame(address, {command_, optionByte, static_cast<uint8_t>(index | UEI_IDX_ERROR), code}));
}

void UeiEntity::Handle(uint8_t address, const std::vector<uint8_t>& payload, Frames* replies) {
  if (payload.size() < 3) return;  // not a UEI request: nothing to match an answer to
  const uint8_t direction = payload[1] & 0xC0;
  const uint8_t option = payload[1] & UEI_OPT_MASK;
  const uint8_t index = payload[2] & UEI_IDX_MASK;
  if (direction != UEI_OPT_GET && direction != UEI_OPT_SET) return;  // only the host's requests
  const uint8_t answerOption = direction == UEI_OPT_GET ? option : static_cast<uint8_t>(option | UEI_OPT_ACK);
  if (index >= indexes_) {
    Error(address, answerOption, index, tErrInvalidEntity, replies);
    return;
  }
  Option* o = Find(option);
  if (o == nullptr || (direction == UEI_OPT_GET && !o->get) || (direction == UEI_OPT_SET && !o->set)) {
    Error(address, answerOption, index, tErrInvalidOption, replies);
    return;
  }
  if (direction == UEI_OPT_GET) {
    Get(address, option, index, payload, *o, replies);
  } else if (o->kind == Kind::Bytes) {
    SetBytes(address, option, index, payload, *o, replies);
  } else {
    Set(address, option, index, payload, *o, replies);
  }
}

void UeiEntity::Get(uint8_t address, uint8_t option, uint8_t index, const std::vector<uint8_t>& payload,
                    Option& o, Frames* replies) {
  const std::vector<uint8_t> header = {command_, option, index};
  if (o.kind == Kind::Bytes) {
    // A numbered train; an empty array is one packet with sequence 0.
    const std::vector<uint8_t>& data = o.bytes;
    size_t at = 0;
    uint8_t sequence = 0;
    do {
      const size_t n = std::min<size_t>(UEI_BYTES_PER_PACKET, data.size() - at);
      Frame f(address, header);
      f.payload.insert(f.payload.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                       data.begin() + static_cast<std::ptrdiff_t>(at + n));
      at += n;
      f.payload.push_back(static_cast<uint8_t>((sequence & 0x7F) | (at < data.size() ? UEI_BYTES_MORE : 0)));
      replies->push_back(f);
      sequence++;
    } while (at < data.size());
    return;
  }
  const size_t width = sWidth(o.kind);
  const bool withSubindex = payload.size() >= 4;
  const uint8_t subindex = withSubindex ? payload[3] : 0;
  uint32_t value;
  if (o.subindexes > 0) {
    if (subindex >= o.subindexes) {
      Error(address, option, index, tErrIndexRange, replies);
      return;
    }
    value = o.subValues[subindex];
  } else {
    value = o.read ? o.read() : o.value;
  }
  Frame f(address, header);
  // An 8-bit answer to a subindexed get carries the subindex before the
  // value (5 bytes, read by the host as a 16-bit value whose low byte is the
  // value); wider answers never do, so their length tells their width.
  if (withSubindex && width == 1) f.payload.push_back(subindex);
  sPutValue(f.payload, sMask(value, width), width);
  replies->push_back(f);
}

void UeiEntity::Set(uint8_t address, uint8_t option, uint8_t index, const std::vector<uint8_t>& payload,
                    Option& o, Frames* replies) {
  const uint8_t ack = static_cast<uint8_t>(option | UEI_OPT_ACK);
  if (o.kind == Kind::Call) {
    const uint8_t result = o.onCall ? o.onCall() : 0;
    if (result != 0) {
      Error(address, ack, index, result, replies);
    } else {
      replies->push_back(Frame(address, {command_, ack, index}));
    }
    return;
  }
  const size_t width = sWidth(o.kind);
  const size_t plain = 3 + width;
  if (payload.size() != plain && payload.size() != plain + 1) {
    Error(address, ack, index, payload.size() < plain ? tErrShortCommand : tErrSize, replies);
    return;
  }
  const bool withSubindex = payload.size() == plain + 1;
  const uint32_t value = sGetValue(payload.data() + (withSubindex ? 4 : 3), width);
  if (o.subindexes > 0) {
    const uint8_t subindex = withSubindex ? payload[3] : 0;
    if (subindex >= o.subindexes) {
      Error(address, ack, index, tErrIndexRange, replies);
      return;
    }
    o.subValues[subindex] = value;
  } else {
    o.value = value;
  }
  if (o.onSet) o.onSet(value);
  replies->push_back(Frame(address, {command_, ack, index}));
}

void UeiEntity::SetBytes(uint8_t address, uint8_t option, uint8_t index, const std::vector<uint8_t>& payload,
                         Option& o, Frames* replies) {
  const uint8_t ack = static_cast<uint8_t>(option | UEI_OPT_ACK);
  if (payload.size() < 4) {
    Error(address, ack, index, tErrShortCommand, replies);
    return;
  }
  const uint8_t last = payload.back();
  const uint8_t sequence = last & 0x7F;
  const bool more = (last & UEI_BYTES_MORE) != 0;
  Train& t = trains_[option];
  if (sequence == 0) t = Train();
  if (sequence != t.expected) {
    trains_.erase(option);
    Error(address, ack, index, tErrPacket, replies);
    return;
  }
  t.bytes.insert(t.bytes.end(), payload.begin() + 3, payload.end() - 1);
  t.expected = static_cast<uint8_t>((t.expected + 1) & 0x7F);
  if (more) return;  // one acknowledgement for the whole train
  std::vector<uint8_t> bytes = std::move(t.bytes);
  trains_.erase(option);
  if (bytes.size() > o.maxBytes || bytes.size() % o.bytesUnit != 0) {
    Error(address, ack, index, tErrSize, replies);
    return;
  }
  o.bytes = std::move(bytes);
  replies->push_back(Frame(address, {command_, ack, index}));
}

}  // namespace qnsim
