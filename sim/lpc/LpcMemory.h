// Memory of the simulated LPC17xx: 512 KiB of flash in 30 sectors (16 of
// 4 KiB, then 14 of 32 KiB), the two on-chip SRAM blocks, and the boot
// ROM's rules for preparing, erasing, blank-checking and programming
// sectors. Flash programming behaves as the real cells do: it can only
// clear bits, so copying over unerased bytes leaves old & new.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace lpcsim {

// ISP return codes.
enum IspCode : int {
  CMD_SUCCESS = 0,
  INVALID_COMMAND = 1,
  SRC_ADDR_ERROR = 2,
  DST_ADDR_ERROR = 3,
  SRC_ADDR_NOT_MAPPED = 4,
  DST_ADDR_NOT_MAPPED = 5,
  COUNT_ERROR = 6,
  INVALID_SECTOR = 7,
  SECTOR_NOT_BLANK = 8,
  SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION = 9,
  COMPARE_ERROR = 10,
  BUSY = 11,
  PARAM_ERROR = 12,
  ADDR_ERROR = 13,
  ADDR_NOT_MAPPED = 14,
  CMD_LOCKED = 15,
  INVALID_CODE = 16,
  INVALID_BAUD_RATE = 17,
  INVALID_STOP_BIT = 18,
  CODE_READ_PROTECTION_ENABLED = 19,
};

class LpcMemory {
 public:
  static constexpr uint32_t kFlashSize = 512 * 1024;
  static constexpr int kSectors = 30;
  static constexpr uint32_t kRamBase = 0x10000000;    // local SRAM, 32 KiB
  static constexpr uint32_t kRamSize = 0x8000;
  static constexpr uint32_t kAhbRamBase = 0x2007C000;  // AHB SRAM, two banks of 16 KiB
  static constexpr uint32_t kAhbRamSize = 0x8000;

  LpcMemory();

  static uint32_t SectorStart(int sector);
  static uint32_t SectorSize(int sector);
  // The sector that holds a flash address, or -1.
  static int SectorOf(uint32_t address);

  bool IsFlash(uint32_t address, uint32_t count) const;
  bool IsRam(uint32_t address, uint32_t count) const;

  // Bytes of flash or RAM; false when the range is not mapped.
  bool ReadBytes(uint32_t address, uint32_t count, std::vector<uint8_t>* out) const;
  // RAM only.
  bool WriteRam(uint32_t address, const uint8_t* data, uint32_t count);

  IspCode Prepare(int first, int last);
  IspCode Erase(int first, int last);
  // CMD_SUCCESS, or SECTOR_NOT_BLANK with the offset (from the start of
  // `first`) and contents of the first word that is not blank.
  IspCode BlankCheck(int first, int last, uint32_t* offset, uint32_t* contents) const;
  // Copies count bytes of RAM to flash; the sectors touched must be prepared.
  // Addresses and count are checked by the caller. Clears the prepared marks.
  // *overwrote is set when any target byte was not erased.
  IspCode CopyRamToFlash(uint32_t flash, uint32_t ram, uint32_t count, bool* overwrote);
  bool Prepared(int sector) const { return prepared_[sector]; }

  const std::vector<uint8_t>& flash() const { return flash_; }
  std::vector<uint8_t>& flash() { return flash_; }

 private:
  uint8_t* RamAt(uint32_t address);
  const uint8_t* RamAt(uint32_t address) const;

  std::vector<uint8_t> flash_;
  std::vector<uint8_t> ram_;
  std::vector<uint8_t> ahbRam_;
  bool prepared_[kSectors];
};

}  // namespace lpcsim
