// A module's I2C bus entity. Each device on the bus sits at an 8-bit bus
// address (bit 0 is the read bit) and holds 256 bytes: a write's first data
// byte sets the register pointer and the rest go from there, a read returns
// bytes from the pointer on. Modules behind a routing module sit on its bus
// at their module address, so the host's probe write finds them. Transfers to
// an address where nobody answers end with a NACK status.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <map>
#include <vector>

namespace qnsim {

class I2CBus {
 public:
  // Status byte of a reply: 0 done; bit 7 set and a tErr code in the low bits.
  static constexpr uint8_t kNack = 0x80 | 6;  // nobody answered: tErrIO

  void AddDevice(uint8_t address);
  bool HasDevice(uint8_t address) const;
  // Writes data to the device (address bit 0 ignored); returns the status.
  uint8_t Write(uint8_t address, const std::vector<uint8_t>& data);
  // Reads length bytes into *out; returns the status.
  uint8_t Read(uint8_t address, uint8_t length, std::vector<uint8_t>* out);
  void SetPullup(bool on) { pullup_ = on; }
  bool pullup() const { return pullup_; }

 private:
  struct Device {
    std::array<uint8_t, 256> memory{};
    uint8_t pointer = 0;
  };
  std::map<uint8_t, Device> devices_;
  bool pullup_ = false;
};

}  // namespace qnsim
