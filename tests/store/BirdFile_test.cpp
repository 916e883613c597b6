#include "store/BirdFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/store/LogCapture.h"
#include "tests/support/Process.h"
#include "tools/BirdWriter.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qntest::LogCapture;
using qntest::TempDir;

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = uint8_t(seed + i * 7);
  return b;
}

BirdWriter::Description HubDescription() { return {"1234", "2.1.0", 0x40F5849A, "HubQuad2"}; }

// Loads a whole file image from memory.
BirdFile LoadBytes(const Bytes& bytes, bool expectLoaded = true) {
  BirdFile file;
  EXPECT_EQ(file.LoadFromMemory(bytes.data(), bytes.size()), expectLoaded);
  return file;
}

// Contents of a writer with the length field of block `index` replaced.
Bytes WithLength(const BirdWriter& writer, size_t index, uint32_t length) {
  Bytes contents = writer.Contents();
  size_t pos = 4;
  for (size_t i = 0; i < index; ++i) pos += 5 + BirdFile::GetInt(&contents[pos + 1]);
  for (int k = 0; k < 4; ++k) contents[pos + 1 + k] = uint8_t(length >> (24 - 8 * k));
  return BirdWriter::Wrap(contents);
}

TEST(BirdFileLoad, ToolFileReadsBackExactly) {
  TempDir dir;
  Bytes loader = Pattern(300, 1), firmwareA = Pattern(2000, 2), firmwareB = Pattern(17, 3);
  BirdWriter writer;
  writer.AddDescription(HubDescription())
      .AddSerialOffsets(0x1010, 0x1100)
      .AddEntryAddress(0x20000100)
      .AddLoader(0x10000000, loader, 5)
      .AddFirmware(0x1000, firmwareA, 0)
      .AddFirmware(0x8000, firmwareB, 7);
  std::string error;
  ASSERT_TRUE(writer.WriteTo(dir / "1234.bird", &error)) << error;

  EXPECT_TRUE(BirdFile::VerifyFile((dir / "1234.bird").c_str()));
  BirdFile file((dir / "1234.bird").c_str());
  EXPECT_EQ(file.signature, 0x62697264u);  // "bird"
  EXPECT_EQ(file.version, 0x0101u);
  EXPECT_EQ(file.blockCount, 6u);
  ASSERT_EQ(file.blocks.size(), 6u);
  EXPECT_EQ(file.GetBuild(), 1234u);
  EXPECT_EQ(file.GetVersion(), "2.1.0");
  EXPECT_EQ(file.GetSerialNumber(), 0x40F5849Au);
  EXPECT_TRUE(file.ValidateSerialNumber(0x40F5849A));
  EXPECT_TRUE(file.ValidateModel("HubQuad2"));
  EXPECT_TRUE(file.hasSerialOffsets);
  EXPECT_EQ(file.serialNumberOffset, 0x1010u);
  EXPECT_EQ(file.descriptorOffset, 0x1100u);

  auto entry = file.FindBlocks(BirdFile::BLOCK_ENTRY_ADDRESS);
  ASSERT_EQ(entry.size(), 1u);
  EXPECT_EQ(BirdFile::GetInt(entry[0].data), 0x20000100u);

  struct Expected {
    uint32_t address;
    uint8_t flags;
    const Bytes* code;
  };
  auto check = [](const std::vector<BirdBlock>& blocks, std::vector<Expected> expected) {
    ASSERT_EQ(blocks.size(), expected.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_EQ(blocks[i].address, expected[i].address);
      EXPECT_EQ(blocks[i].flags, expected[i].flags);
      ASSERT_EQ(blocks[i].length, expected[i].code->size() + 4);
      EXPECT_EQ(BirdFile::GetInt(blocks[i].data), expected[i].address);
      EXPECT_EQ(Bytes(blocks[i].data + 4, blocks[i].data + blocks[i].length), *expected[i].code);
    }
  };
  check(file.FindBlocks(BirdFile::BLOCK_LOADER), {{0x10000000, 5, &loader}});
  check(file.FindBlocks(BirdFile::BLOCK_FIRMWARE), {{0x1000, 0, &firmwareA}, {0x8000, 7, &firmwareB}});

  Bytes contents = writer.Contents();
  EXPECT_EQ(file.contentsSize, contents.size());
  EXPECT_EQ(file.fileChecksum, BirdWriter::Checksum(contents.data(), contents.size() - 4));
}

TEST(BirdFileLoad, ScanLogsEveryBlock) {
  LogCapture log(DEBUG_BirdFile);
  BirdWriter writer;
  writer.AddDescription(HubDescription()).AddFirmware(0, Pattern(10, 0), 3);
  BirdFile file = LoadBytes(writer.Build());
  std::string text = log.Text();
  for (const char* line : {"BIRDFILE:\t\t File reports 2 blocks\n", "BIRDFILE: Bird file objects:\n",
                           "BIRDFILE: \t\tType Flags Length\n", "BIRDFILE:\t\t 04   00   64\n",
                           "BIRDFILE:\t\t \t[1234            ]\n",
                           "BIRDFILE:\t\t \t[HubQuad2        ]\n", "BIRDFILE:\t\t 01   03   14\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "in\n" << text;
  char checksum[64];
  snprintf(checksum, sizeof checksum, "BIRDFILE:\t\t File checksum %08X\n", file.fileChecksum);
  EXPECT_NE(text.find(checksum), std::string::npos);
  EXPECT_EQ(text.find("mismatch"), std::string::npos);
}

TEST(BirdFileLoad, HeaderTests) {
  TempDir dir;
  Bytes good = BirdWriter().AddDescription(HubDescription()).Build();
  Bytes otherSignature = good, lowVersion = good, zeroLow = good;
  memcpy(otherSignature.data(), "burd", 4);
  lowVersion[4] = 0x01, lowVersion[5] = 0x00;
  zeroLow[4] = 0x00, zeroLow[5] = 0x01;
  struct Case {
    const char* name;
    Bytes bytes;
    bool verifies;
    bool loads;
  } cases[] = {
      {"good", good, true, true},
      {"other signature", otherSignature, false, true},  // Load does not compare it
      {"version 01 00", lowVersion, false, true},
      {"version 00 01", zeroLow, false, true},
      {"header only", Bytes(good.begin(), good.begin() + 6), true, false},
      {"five bytes", Bytes(good.begin(), good.begin() + 5), false, false},
      {"empty", Bytes(), false, false},
  };
  for (const Case& c : cases) {
    std::string path = dir / c.name;
    qntest::WriteFile(path, std::string(c.bytes.begin(), c.bytes.end()));
    EXPECT_EQ(BirdFile::VerifyFile(path.c_str()), c.verifies) << c.name;
    BirdFile file;
    file.path = path;
    EXPECT_EQ(file.Load(), c.loads) << c.name;
  }
  LogCapture log(DEBUG_BirdFile);
  EXPECT_FALSE(BirdFile::VerifyFile((dir / "missing").c_str()));
  EXPECT_TRUE(log.Contains("BIRDFILE: Error - cannot open bird file: '" + (dir / "missing") + "'\n"));
}

TEST(BirdFileLoad, FailuresAreLoggedAndThrown) {
  TempDir dir;
  Bytes good = BirdWriter().AddFirmware(0, Pattern(100, 0)).Build();
  Bytes truncated(good.begin(), good.end() - 3);
  Bytes garbage = good;
  for (size_t i = 6; i < garbage.size(); ++i) garbage[i] = 0xA5;
  // Contents of 7 bytes: a block count and no room for the checksum.
  Bytes tiny = BirdWriter::Wrap(Bytes{0, 0, 0, 0, 1, 2, 3});
  struct Case {
    const char* name;
    Bytes bytes;
    std::string logLine;
  } cases[] = {
      {"truncated", truncated, "BIRDFILE: Error (-3) decompressing bird file.\n"},
      {"garbage", garbage, "BIRDFILE: Error (-3) decompressing bird file.\n"},
      {"tiny", tiny, "7 bytes of contents cannot hold a block count and checksum"},
  };
  for (const Case& c : cases) {
    std::string path = dir / c.name;
    qntest::WriteFile(path, std::string(c.bytes.begin(), c.bytes.end()));
    LogCapture log(DEBUG_BirdFile);
    EXPECT_THROW(BirdFile file(path.c_str()), std::runtime_error) << c.name;
    EXPECT_TRUE(log.Contains(c.logLine)) << c.name << ":\n" << log.Text();
  }
  LogCapture log(DEBUG_BirdFile);
  try {
    BirdFile missing((dir / "missing.bird").c_str());
    ADD_FAILURE() << "loaded a missing file";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Failed to load bird data");
  }
  EXPECT_TRUE(log.Contains("BIRDFILE: Loading File [" + (dir / "missing.bird") + "]\n"));
  EXPECT_TRUE(log.Contains("BIRDFILE: BIRD file not found [" + (dir / "missing.bird") + "]\n"));
}

TEST(BirdFileLoad, HighCompressionRatiosLoadUpToTheCap) {
  // A 1 MiB image of erased flash around a little code: far beyond 20:1.
  Bytes image(1 << 20, 0xFF);
  Bytes code = Pattern(256, 9);
  std::copy(code.begin(), code.end(), image.begin());
  Bytes file = BirdWriter().AddDescription(HubDescription()).AddFirmware(0, image).Build();
  ASSERT_GT(image.size(), 20 * file.size());
  BirdFile loaded = LoadBytes(file);
  auto firmware = loaded.FindBlocks(BirdFile::BLOCK_FIRMWARE);
  ASSERT_EQ(firmware.size(), 1u);
  EXPECT_EQ(Bytes(firmware[0].data + 4, firmware[0].data + firmware[0].length), image);
  EXPECT_EQ(loaded.GetBuild(), 1234u);
}

TEST(BirdFileLoad, ContentsBeyondTheCapFail) {
  const uint32_t cap = BirdFile::MAX_CONTENTS_SIZE;
  // Contents of exactly the cap: a block count, one unknown block filling
  // the rest, and the checksum.
  Bytes contents(cap, 0);
  contents[3] = 1;
  contents[4] = 3;
  uint32_t length = cap - 4 - 5 - 4;
  for (int k = 0; k < 4; ++k) contents[5 + k] = uint8_t(length >> (24 - 8 * k));
  {
    BirdFile atCap = LoadBytes(BirdWriter::Wrap(contents, 1));
    EXPECT_EQ(atCap.contentsSize, cap);
    EXPECT_EQ(atCap.blockCount, 1u);
  }
  contents.push_back(0);
  LogCapture log(DEBUG_BirdFile);
  BirdFile over = LoadBytes(BirdWriter::Wrap(contents, 1), false);
  EXPECT_TRUE(log.Contains("BIRDFILE: Contents exceed the limit of 67108864 bytes.\n"));
  EXPECT_TRUE(log.Contains("BIRDFILE: Error (-5) decompressing bird file.\n"));
  EXPECT_EQ(over.contentsSize, 0u);
  EXPECT_TRUE(over.blocks.empty());
}

TEST(BirdFileLoad, OversizedFileIsRefusedBeforeItIsRead) {
  // No compressed file of contents within the cap comes near 65 MiB; a
  // larger one is refused without reading it into memory.
  TempDir dir;
  std::string path = dir / "huge.bird";
  qntest::WriteFile(path, "bird\x01\x01");
  ASSERT_EQ(truncate(path.c_str(), off_t(BirdFile::MAX_CONTENTS_SIZE) + (1 << 20) + 1), 0);
  EXPECT_TRUE(BirdFile::VerifyFile(path.c_str()));
  LogCapture log(DEBUG_BirdFile);
  BirdFile file;
  file.path = path;
  EXPECT_FALSE(file.Load());
  EXPECT_TRUE(log.Contains("BIRDFILE: Error (14) getting bird file size from " + path + "\n"))
      << log.Text();
}

TEST(BirdFileScan, ShortBlocksAreSkipped) {
  struct Case {
    const char* name;
    uint8_t type;
    size_t length;
  } cases[] = {
      {"loader without address", BirdFile::BLOCK_LOADER, 3},
      {"empty firmware", BirdFile::BLOCK_FIRMWARE, 0},
      {"serial offsets of 7", BirdFile::BLOCK_SERIAL_OFFSETS, 7},
      {"description of 63", BirdFile::BLOCK_DESCRIPTION, 63},
      {"entry address of 3", BirdFile::BLOCK_ENTRY_ADDRESS, 3},
  };
  for (const Case& c : cases) {
    LogCapture log(DEBUG_BirdFile);
    BirdWriter writer;
    writer.AddRaw(c.type, 0, Bytes(c.length, 0x41)).AddLoader(0x100, Pattern(8, 1));
    BirdFile file = LoadBytes(writer.Build());
    EXPECT_EQ(file.blockCount, 1u) << c.name;
    ASSERT_EQ(file.blocks.size(), 1u) << c.name;
    EXPECT_EQ(file.blocks[0].address, 0x100u) << c.name;
    EXPECT_TRUE(log.Contains("Block parsing mismatch in number of blocks. (1 != 2)")) << c.name;
    // Every query stays inside the buffers.
    EXPECT_EQ(file.GetSerialNumber(), 0u);
    EXPECT_EQ(file.GetBuild(), 0u);
    EXPECT_EQ(file.GetVersion(), "");
    EXPECT_FALSE(file.ValidateModel(""));
    EXPECT_FALSE(file.hasSerialOffsets);
    EXPECT_FALSE(file.ReplaceSerialNumber(0x12345678));
    const uint32_t key[4] = {1, 2, 3, 4};
    EXPECT_TRUE(file.DecodeFirmwareBlocks(key));
    EXPECT_TRUE(file.ReplaceVectorChecksum());
  }
}

TEST(BirdFileScan, LengthsRunningPastTheEnd) {
  BirdWriter writer;
  writer.AddDescription(HubDescription()).AddFirmware(0x10, Pattern(40, 1)).AddLoader(0, Pattern(8, 2));
  Bytes contents = writer.Contents();
  struct Case {
    const char* name;
    uint32_t length;
    uint32_t parsed;
  } cases[] = {
      {"into the checksum", 44 + 5 + 12 + 1, 1},  // over the loader and one checksum byte
      {"huge", 0xFFFFFFF0u, 1},
      {"maximum", 0xFFFFFFFFu, 1},
  };
  for (const Case& c : cases) {
    LogCapture log(DEBUG_BirdFile);
    BirdFile file = LoadBytes(WithLength(writer, 1, c.length));
    EXPECT_EQ(file.blockCount, c.parsed) << c.name;
    EXPECT_TRUE(log.Contains("Block parsing mismatch in data size.")) << c.name;
    EXPECT_EQ(file.GetBuild(), 1234u);
    EXPECT_TRUE(file.FindBlocks(BirdFile::BLOCK_FIRMWARE).empty());
  }
}

TEST(BirdFileScan, CountAndSizeMismatchesStillLoad) {
  BirdWriter writer;
  writer.AddFirmware(0, Pattern(8, 0)).SetReportedBlockCount(7);
  {
    LogCapture log(DEBUG_BirdFile);
    BirdFile file = LoadBytes(writer.Build());
    EXPECT_EQ(file.blockCount, 1u);
    EXPECT_TRUE(log.Contains("BIRDFILE: Block parsing mismatch in number of blocks. (1 != 7)\n"));
  }
  // Two stray bytes between the last block and the checksum.
  Bytes contents = BirdWriter().AddFirmware(0, Pattern(8, 0)).Contents();
  contents.insert(contents.end() - 4, {0xAB, 0xCD});
  LogCapture log(DEBUG_BirdFile);
  BirdFile file = LoadBytes(BirdWriter::Wrap(contents));
  EXPECT_EQ(file.blockCount, 1u);
  EXPECT_TRUE(log.Contains("BIRDFILE: Block parsing mismatch in data size. (2 bytes remaining)\n"));
  EXPECT_EQ(file.fileChecksum, BirdFile::GetInt(&contents[contents.size() - 4]));
}

TEST(BirdFileScan, EmptyFileAndUnknownTypes) {
  BirdFile empty = LoadBytes(BirdWriter().Build());
  EXPECT_EQ(empty.blockCount, 0u);
  EXPECT_FALSE(empty.FindSerialNumberOffsets());
  BirdFile unknown = LoadBytes(BirdWriter().AddRaw(3, 2, Bytes{1, 2}).AddRaw(31, 7, Bytes()).Build());
  ASSERT_EQ(unknown.blocks.size(), 2u);
  EXPECT_EQ(unknown.blocks[0].type, 3);
  EXPECT_EQ(unknown.blocks[0].flags, 2);
  EXPECT_EQ(unknown.blocks[0].address, 0u);
  EXPECT_EQ(unknown.blocks[1].type, 31);
  EXPECT_EQ(unknown.blocks[1].flags, 7);
}

TEST(BirdFileQueries, Description) {
  struct Case {
    const char* model;
    bool matches;
  } cases[] = {{"HubQuad2", true}, {"Hub", true}, {"", true}, {"HubQuad2x", false}, {"Quad", false},
               {"hubquad2", false}};
  BirdFile file = LoadBytes(BirdWriter().AddDescription(HubDescription()).Build());
  for (const Case& c : cases) EXPECT_EQ(file.ValidateModel(c.model), c.matches) << c.model;
  EXPECT_FALSE(file.ValidateModel(nullptr));
  EXPECT_FALSE(file.ValidateSerialNumber(0x40F5849B));

  // Fields written by hand: a version with a suffix after a space, and the
  // first of two descriptions wins.
  std::string text = "000777         X" "3.0.1 beta      " "00ABCDEF        " "Switch8         ";
  Bytes raw(text.begin(), text.end());
  BirdFile custom = LoadBytes(
      BirdWriter().AddRaw(4, 0, raw).AddDescription(HubDescription()).Build());
  EXPECT_EQ(custom.GetBuild(), 777u);
  EXPECT_EQ(custom.GetVersion(), "3.0.1");
  EXPECT_EQ(custom.GetSerialNumber(), 0x00ABCDEFu);
  EXPECT_TRUE(custom.ValidateModel("Switch8"));

  BirdFile none = LoadBytes(BirdWriter().AddFirmware(0, Pattern(8, 0)).Build());
  EXPECT_EQ(none.GetSerialNumber(), 0u);
  EXPECT_EQ(none.GetBuild(), 0u);
  EXPECT_EQ(none.GetVersion(), "");
  EXPECT_FALSE(none.ValidateModel("Hub"));
}

TEST(BirdFileQueries, ModelMatchIsLogged) {
  BirdFile file = LoadBytes(BirdWriter().AddDescription(HubDescription()).Build());
  LogCapture log(DEBUG_BirdFile);
  EXPECT_TRUE(file.ValidateModel("Hub"));
  EXPECT_EQ(log.Text(), "Model matches model number ([HubQuad2] == [Hub])\n");
}

// Firmware at 0x1000 of 64 code bytes; offsets relative to it.
struct PatchCase {
  const char* name;
  uint32_t serialOffset;
  uint32_t descriptorOffset;
  bool result;
  int serialAt;      // code offset of the patched serial, -1 for none
  int descriptorAt;  // code offset of the patched descriptor, -1 for none
};

TEST(BirdFileEdit, SerialNumberPatch) {
  const PatchCase cases[] = {
      {"both inside", 0x1010, 0x1020, true, 0x10, 0x20},
      {"at the very ends", 0x1000, 0x1030, true, 0x00, 0x30},
      {"serial straddles the end", 0x103E, 0, true, -1, -1},
      {"serial before the block", 0x0FFE, 0, true, -1, -1},
      {"descriptor straddles the end", 0, 0x1031, false, -1, -1},
      {"descriptor only", 0, 0x1008, true, -1, 0x08},
      {"near the top of the address space", 0xFFFFFFFE, 0xFFFFFFF8, true, -1, -1},
  };
  for (const PatchCase& c : cases) {
    Bytes code = Pattern(64, 0x30);
    BirdFile file = LoadBytes(
        BirdWriter().AddSerialOffsets(c.serialOffset, c.descriptorOffset).AddFirmware(0x1000, code).Build());
    ASSERT_TRUE(file.hasSerialOffsets);
    LogCapture log(DEBUG_BirdFile);
    EXPECT_EQ(file.ReplaceSerialNumber(0x40F5849A), c.result) << c.name;
    Bytes expected = code;
    if (c.serialAt >= 0) {
      const uint8_t le[4] = {0x9A, 0x84, 0xF5, 0x40};
      std::copy(le, le + 4, expected.begin() + c.serialAt);
      char line[96];
      snprintf(line, sizeof line, "BIRDFILE: updating serial number from %02X%02X%02X%02X ==> 40F5849A\n",
               code[c.serialAt + 3], code[c.serialAt + 2], code[c.serialAt + 1], code[c.serialAt]);
      EXPECT_TRUE(log.Contains(line)) << c.name << "\n" << log.Text();
    }
    if (c.descriptorAt >= 0) {
      const char* digits = "40F5849A";
      for (int i = 0; i < 8; ++i) expected[c.descriptorAt + 2 * i] = uint8_t(digits[i]);
    }
    BirdBlock block = file.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0];
    EXPECT_EQ(Bytes(block.data + 4, block.data + block.length), expected) << c.name;
  }
}

TEST(BirdFileEdit, SerialPatchReachesTheRightBlock) {
  Bytes low = Pattern(32, 1), high = Pattern(32, 2);
  BirdFile file = LoadBytes(BirdWriter()
                                .AddSerialOffsets(0x2004, 0)
                                .AddLoader(0x2000, Pattern(32, 3))  // loaders are never patched
                                .AddFirmware(0x1000, low)
                                .AddFirmware(0x2000, high)
                                .Build());
  EXPECT_TRUE(file.ReplaceSerialNumber(0x01020304));
  auto firmware = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
  EXPECT_EQ(Bytes(firmware[0].data + 4, firmware[0].data + 36), low);
  EXPECT_EQ(Bytes(firmware[1].data + 8, firmware[1].data + 12), (Bytes{4, 3, 2, 1}));
  auto loader = file.FindBlocks(BirdFile::BLOCK_LOADER);
  EXPECT_EQ(Bytes(loader[0].data + 4, loader[0].data + 36), Pattern(32, 3));
}

TEST(BirdFileEdit, NoOffsetsNoPatch) {
  BirdFile file = LoadBytes(BirdWriter().AddFirmware(0, Pattern(64, 0)).Build());
  EXPECT_FALSE(file.hasSerialOffsets);
  EXPECT_FALSE(file.ReplaceSerialNumber(0x40F5849A));
  BirdFile noFirmware = LoadBytes(BirdWriter().AddSerialOffsets(4, 8).Build());
  EXPECT_FALSE(noFirmware.ReplaceSerialNumber(0x40F5849A));
}

TEST(BirdFileEdit, VectorChecksum) {
  Bytes table(40, 0);
  const uint32_t words[7] = {0x10002000, 0x00000101, 0x00000201, 0x00000301, 0x00000401,
                             0xDEADBEEF, 0x00000601};
  for (int w = 0; w < 7; ++w)
    for (int b = 0; b < 4; ++b) table[4 * w + b] = uint8_t(words[w] >> (8 * b));
  uint32_t sum = 0;
  for (int w = 0; w < 7; ++w)
    if (w != 5) sum += words[w];
  Bytes shortTable(31, 0x11);
  BirdFile file = LoadBytes(BirdWriter()
                                .AddFirmware(0, table)
                                .AddFirmware(0x100, table)  // not at address 0
                                .AddFirmware(0, shortTable)
                                .Build());
  LogCapture log(DEBUG_BirdFile);
  EXPECT_TRUE(file.ReplaceVectorChecksum());
  auto firmware = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
  const uint8_t* patched = firmware[0].data + 4 + 28;
  uint32_t stored = uint32_t(patched[0]) | patched[1] << 8 | patched[2] << 16 | uint32_t(patched[3]) << 24;
  EXPECT_EQ(stored, 0u - sum);
  EXPECT_EQ(Bytes(firmware[1].data + 4, firmware[1].data + 44), table);
  EXPECT_EQ(Bytes(firmware[2].data + 4, firmware[2].data + 35), shortTable);
  char line[96];
  snprintf(line, sizeof line, "BIRDFILE: updating vector checksum from 00000000 ==> %08X\n", 0u - sum);
  EXPECT_EQ(log.Text(), line);
}

TEST(BirdFileEdit, DecodingWithAKnownKey) {
  const uint32_t key[4] = {0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10};
  // Worked by hand: out[j] = in[j] ^ key[j % 16] ^ out[j - 1].
  Bytes scrambled = {0x00, 0x00, 0x00, 0xFF};
  Bytes expected = {0x01, 0x03, 0x00, 0xFB};
  Bytes seventeen(17, 0x00);  // the key stream wraps after 16 bytes
  BirdFile file = LoadBytes(BirdWriter()
                                .AddFirmware(0x100, scrambled)
                                .AddFirmware(0x200, scrambled)  // restarts per block
                                .AddLoader(0x300, scrambled)    // loaders stay as they are
                                .AddFirmware(0x400, seventeen)
                                .Build());
  EXPECT_TRUE(file.DecodeFirmwareBlocks(key));
  auto firmware = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
  EXPECT_EQ(Bytes(firmware[0].data + 4, firmware[0].data + 8), expected);
  EXPECT_EQ(Bytes(firmware[1].data + 4, firmware[1].data + 8), expected);
  EXPECT_EQ(BirdFile::GetInt(firmware[0].data), 0x100u) << "the address is not decoded";
  auto loader = file.FindBlocks(BirdFile::BLOCK_LOADER);
  EXPECT_EQ(Bytes(loader[0].data + 4, loader[0].data + 8), scrambled);
  uint8_t previous = 0;
  for (int j = 0; j < 17; ++j) {
    uint8_t k = uint8_t(key[(j % 16) / 4] >> (24 - 8 * (j % 4)));
    previous = uint8_t(k ^ previous);
    EXPECT_EQ(firmware[2].data[4 + j], previous) << j;
  }

  // The tool's encoding is the inverse.
  Bytes image = Pattern(1000, 5);
  BirdFile encoded =
      LoadBytes(BirdWriter().EncodeFirmwareWith(key).AddFirmware(0, image).Build());
  auto before = encoded.FindBlocks(BirdFile::BLOCK_FIRMWARE);
  EXPECT_NE(Bytes(before[0].data + 4, before[0].data + before[0].length), image);
  encoded.DecodeFirmwareBlocks(key);
  EXPECT_EQ(Bytes(before[0].data + 4, before[0].data + before[0].length), image);
}

TEST(BirdFileEdit, DumpFormat) {
  Bytes content = {'A', 'B', 0x01, 0x02};
  Bytes fifty(51, '0');
  fifty[50] = 'z';
  BirdFile file = LoadBytes(BirdWriter().AddEntryAddress(0x41420102).AddRaw(3, 0, fifty).Build());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(file.DumpBlocks(BirdFile::BLOCK_ENTRY_ADDRESS));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "BIRDFILE: BLOCK DUMP [BLOCK_ENTRY_ADDRESS]\n \r\n000000: 41 42 01 02  AB  \n\n");
  std::string row;
  for (int i = 0; i < 50; ++i) row += "30 ";
  testing::internal::CaptureStdout();
  file.DumpBlocks(BirdFile::BLOCK_TYPE(3));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "BIRDFILE: BLOCK DUMP [UNKNOWN]\n \r\n000000: " + row + " " + std::string(50, '0') +
                "\r\n000050: 7A  z\n\n");
}

TEST(BirdFileObject, MoveKeepsBlockViews) {
  BirdFile source = LoadBytes(BirdWriter().AddDescription(HubDescription()).Build());
  const uint8_t* data = source.blocks[0].data;
  BirdFile moved(std::move(source));
  EXPECT_EQ(moved.blocks[0].data, data);
  EXPECT_EQ(moved.GetBuild(), 1234u);
  BirdFile assigned;
  assigned = std::move(moved);
  EXPECT_EQ(assigned.GetSerialNumber(), 0x40F5849Au);
  EXPECT_EQ(assigned.blocks[0].data, assigned.contents.get() + 9);
}

}  // namespace
