#include "sim/lpc/LpcMemory.h"

#include <string.h>

namespace lpcsim {

LpcMemory::LpcMemory() : flash_(kFlashSize, 0xFF), ram_(kRamSize, 0), ahbRam_(kAhbRamSize, 0) {
  memset(prepared_, 0, sizeof(prepared_));
}

uint32_t LpcMemory::SectorStart(int sector) {
  if (sector < 16) return static_cast<uint32_t>(sector) * 0x1000;
  return 0x10000 + static_cast<uint32_t>(sector - 16) * 0x8000;
}

uint32_t LpcMemory::SectorSize(int sector) { return sector < 16 ? 0x1000 : 0x8000; }

int LpcMemory::SectorOf(uint32_t address) {
  if (address >= kFlashSize) return -1;
  if (address < 0x10000) return static_cast<int>(address / 0x1000);
  return 16 + static_cast<int>((address - 0x10000) / 0x8000);
}

bool LpcMemory::IsFlash(uint32_t address, uint32_t count) const {
  return static_cast<uint64_t>(address) + count <= kFlashSize;
}

bool LpcMemory::IsRam(uint32_t address, uint32_t count) const {
  uint64_t end = static_cast<uint64_t>(address) + count;
  return (address >= kRamBase && end <= kRamBase + kRamSize) ||
         (address >= kAhbRamBase && end <= kAhbRamBase + kAhbRamSize);
}

uint8_t* LpcMemory::RamAt(uint32_t address) {
  return address >= kAhbRamBase ? &ahbRam_[address - kAhbRamBase] : &ram_[address - kRamBase];
}

const uint8_t* LpcMemory::RamAt(uint32_t address) const {
  return address >= kAhbRamBase ? &ahbRam_[address - kAhbRamBase] : &ram_[address - kRamBase];
}

bool LpcMemory::ReadBytes(uint32_t address, uint32_t count, std::vector<uint8_t>* out) const {
  if (IsFlash(address, count)) {
    out->assign(flash_.begin() + address, flash_.begin() + address + count);
    return true;
  }
  if (IsRam(address, count)) {
    const uint8_t* p = count > 0 ? RamAt(address) : nullptr;
    out->assign(p, p + count);
    return true;
  }
  return false;
}

bool LpcMemory::WriteRam(uint32_t address, const uint8_t* data, uint32_t count) {
  if (!IsRam(address, count)) return false;
  if (count > 0) memcpy(RamAt(address), data, count);
  return true;
}

IspCode LpcMemory::Prepare(int first, int last) {
  if (first < 0 || last >= kSectors || first > last) return first > last ? PARAM_ERROR : INVALID_SECTOR;
  for (int s = first; s <= last; s++) prepared_[s] = true;
  return CMD_SUCCESS;
}

IspCode LpcMemory::Erase(int first, int last) {
  if (first < 0 || last >= kSectors || first > last) return first > last ? PARAM_ERROR : INVALID_SECTOR;
  for (int s = first; s <= last; s++) {
    if (!prepared_[s]) return SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION;
  }
  for (int s = first; s <= last; s++) {
    memset(&flash_[SectorStart(s)], 0xFF, SectorSize(s));
    prepared_[s] = false;
  }
  return CMD_SUCCESS;
}

IspCode LpcMemory::BlankCheck(int first, int last, uint32_t* offset, uint32_t* contents) const {
  if (first < 0 || last >= kSectors || first > last) return first > last ? PARAM_ERROR : INVALID_SECTOR;
  uint32_t start = SectorStart(first);
  uint32_t end = SectorStart(last) + SectorSize(last);
  for (uint32_t a = start; a < end; a += 4) {
    uint32_t word = static_cast<uint32_t>(flash_[a]) | static_cast<uint32_t>(flash_[a + 1]) << 8 |
                    static_cast<uint32_t>(flash_[a + 2]) << 16 | static_cast<uint32_t>(flash_[a + 3]) << 24;
    if (word != 0xFFFFFFFFu) {
      *offset = a - start;
      *contents = word;
      return SECTOR_NOT_BLANK;
    }
  }
  return CMD_SUCCESS;
}

IspCode LpcMemory::CopyRamToFlash(uint32_t flash, uint32_t ram, uint32_t count, bool* overwrote) {
  int first = SectorOf(flash);
  int last = SectorOf(flash + count - 1);
  for (int s = first; s <= last; s++) {
    if (!prepared_[s]) return SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION;
  }
  const uint8_t* src = RamAt(ram);
  *overwrote = false;
  for (uint32_t i = 0; i < count; i++) {
    if (flash_[flash + i] != 0xFF) *overwrote = true;
    flash_[flash + i] &= src[i];
  }
  for (int s = first; s <= last; s++) prepared_[s] = false;
  return CMD_SUCCESS;
}

}  // namespace lpcsim
