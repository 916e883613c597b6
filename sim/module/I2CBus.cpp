#include "sim/module/I2CBus.h"

namespace qnsim {

void I2CBus::AddDevice(uint8_t address) { devices_[address & 0xFE]; }

bool I2CBus::HasDevice(uint8_t address) const { return devices_.count(address & 0xFE) != 0; }

uint8_t I2CBus::Write(uint8_t address, const std::vector<uint8_t>& data) {
  auto it = devices_.find(address & 0xFE);
  if (it == devices_.end()) return kNack;
  Device& d = it->second;
  if (data.empty()) return 0;
  d.pointer = data[0];
  for (size_t i = 1; i < data.size(); i++) d.memory[d.pointer++] = data[i];
  return 0;
}

uint8_t I2CBus::Read(uint8_t address, uint8_t length, std::vector<uint8_t>* out) {
  out->clear();
  auto it = devices_.find(address & 0xFE);
  if (it == devices_.end()) return kNack;
  Device& d = it->second;
  for (uint8_t i = 0; i < length; i++) out->push_back(d.memory[d.pointer++]);
  return 0;
}

}  // namespace qnsim
