// A UEI entity of a simulated module: a table of options, each a call, an
// 8-, 16- or 32-bit value (optionally with subindexes) or a byte array, and
// the conversation the host holds with it:
//   get  (option | 0x40)  -> plain option, index, value
//   set  (option | 0x80)  -> option | 0xC0, index
//   call (option | 0x80, no value) -> option | 0xC0, index
//   failure -> the expected option byte, index | 0x80, a tErr code
// Byte arrays travel as numbered trains (24 data bytes and a sequence byte
// per packet) in both directions; a set train is acknowledged once, after
// its last packet.
#pragma once

#include <stdint.h>

#include <functional>
#include <map>
#include <vector>

#include "sim/module/Frame.h"

namespace qnsim {

class UeiEntity {
 public:
  enum class Kind { Call, Byte, Short, Int, Bytes };

  struct Option {
    Kind kind = Kind::Byte;
    bool get = true;
    bool set = false;
    uint8_t subindexes = 0;   // > 0: the value is chosen by a subindex below this
    uint32_t value = 0;       // current value (masked to its width)
    std::map<uint8_t, uint32_t> subValues;
    std::vector<uint8_t> bytes;
    size_t maxBytes = 255;    // longest byte array a set may store
    size_t bytesUnit = 1;     // a set's length must be a multiple of this
    std::function<uint32_t()> read;   // dynamic value, replaces `value` for gets
    std::function<uint8_t()> onCall;  // a call's result: 0 or a tErr code
    std::function<void(uint32_t)> onSet;
  };

  UeiEntity(uint8_t command, uint8_t indexes) : command_(command), indexes_(indexes) {}
  virtual ~UeiEntity() = default;

  Option& Define(uint8_t option, Kind kind, bool get, bool set);
  Option* Find(uint8_t option);
  // True when the entity answers this UEI (directionFlags 0x40 get,
  // 0x80 set, 0 call).
  bool Implements(uint8_t option, uint8_t index, uint8_t directionFlags);

  // One request packet's payload; the answers go to *replies.
  void Handle(uint8_t address, const std::vector<uint8_t>& payload, Frames* replies);

  uint8_t command() const { return command_; }

 private:
  struct Train {
    std::vector<uint8_t> bytes;
    uint8_t expected = 0;
  };

  void Error(uint8_t address, uint8_t optionByte, uint8_t index, uint8_t code, Frames* replies);
  void Get(uint8_t address, uint8_t option, uint8_t index, const std::vector<uint8_t>& payload, Option& o,
           Frames* replies);
  void Set(uint8_t address, uint8_t option, uint8_t index, const std::vector<uint8_t>& payload, Option& o,
           Frames* replies);
  void SetBytes(uint8_t address, uint8_t option, uint8_t index, const std::vector<uint8_t>& payload, Option& o,
                Frames* replies);

  const uint8_t command_;
  const uint8_t indexes_;
  std::map<uint8_t, Option> options_;
  std::map<uint8_t, Train> trains_;  // set trains in progress, by option
};

}  // namespace qnsim
