// birdtool as its users run it: the files it makes are read back by the
// updater's own BIRD reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "store/BirdFile.h"
#include "tests/support/Process.h"
#include "tools/BirdWriter.h"

namespace {

using qntest::Run;
using qntest::RunResult;
using qntest::TempDir;

RunResult Tool(const std::vector<std::string>& args) {
  return Run(qntest::BinaryPath("tools/birdtool"), args);
}

std::string Pattern(size_t size, char seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = char(seed + i * 13);
  return s;
}

std::string Code(const BirdBlock& b) {
  return std::string(reinterpret_cast<const char*>(b.data) + 4, b.length - 4);
}

TEST(birdtool, HelpNamesTheCommandsAndTheChecksum) {
  RunResult help = Tool({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* text : {"birdtool make OUT", "birdtool show FILE", "--loader ADDR:FILE[:FLAGS]",
                           "--firmware ADDR:FILE[:FLAGS]", "--serial-offset ADDR",
                           "--descriptor-offset ADDR", "--entry ADDR", "--description KEY=VALUE",
                           "CRC-32"})
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  for (const char* asked : {"help", "-h"}) EXPECT_EQ(Tool({asked}).out, help.out) << asked;
  RunResult bare = Tool({});
  EXPECT_EQ(bare.exitCode, 2);
  EXPECT_NE(bare.err.find("Usage:"), std::string::npos);
}

TEST(birdtool, MadeFileReadsBackExactly) {
  TempDir dir;
  std::string loader = Pattern(700, 1), firmware = Pattern(5000, 2), tail = Pattern(33, 3);
  qntest::WriteFile(dir / "loader.bin", loader);
  qntest::WriteFile(dir / "fw.bin", firmware);
  qntest::WriteFile(dir / "tail.bin", tail);
  RunResult made = Tool({"make", dir / "1234.bird", "--loader", "0x10000000:" + (dir / "loader.bin") + ":2",
                         "--firmware", "0:" + (dir / "fw.bin"), "--firmware",
                         "0x8000:" + (dir / "tail.bin") + ":7", "--build", "1234", "--version",
                         "2.1.0", "--serial", "40F5849A", "--description", "model=HubQuad2",
                         "--serial-offset", "0x1F0", "--descriptor-offset", "512", "--entry",
                         "0x10000101"});
  ASSERT_EQ(made.exitCode, 0) << made.err;

  BirdFile file((dir / "1234.bird").c_str());
  EXPECT_TRUE(BirdFile::VerifyFile((dir / "1234.bird").c_str()));
  EXPECT_EQ(file.GetBuild(), 1234u);
  EXPECT_EQ(file.GetVersion(), "2.1.0");
  EXPECT_EQ(file.GetSerialNumber(), 0x40F5849Au);
  EXPECT_TRUE(file.ValidateModel("HubQuad2"));
  EXPECT_FALSE(file.ValidateModel("HubQuad2x"));
  EXPECT_TRUE(file.hasSerialOffsets);
  EXPECT_EQ(file.serialNumberOffset, 0x1F0u);
  EXPECT_EQ(file.descriptorOffset, 512u);
  auto entry = file.FindBlocks(BirdFile::BLOCK_ENTRY_ADDRESS);
  ASSERT_EQ(entry.size(), 1u);
  EXPECT_EQ(BirdFile::GetInt(entry[0].data), 0x10000101u);
  auto loaders = file.FindBlocks(BirdFile::BLOCK_LOADER);
  ASSERT_EQ(loaders.size(), 1u);
  EXPECT_EQ(loaders[0].address, 0x10000000u);
  EXPECT_EQ(loaders[0].flags, 2);
  EXPECT_EQ(Code(loaders[0]), loader);
  auto pieces = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].address, 0u);
  EXPECT_EQ(Code(pieces[0]), firmware);
  EXPECT_EQ(pieces[1].address, 0x8000u);
  EXPECT_EQ(pieces[1].flags, 7);
  EXPECT_EQ(Code(pieces[1]), tail);
  EXPECT_EQ(file.fileChecksum, BirdWriter::Checksum(file.contents.get(), file.contentsSize - 4));

  // The serial patch lands where the offsets say.
  ASSERT_TRUE(file.ReplaceSerialNumber(0x0A0B0C0D));
  EXPECT_EQ(pieces[0].data[4 + 0x1F0], 0x0D);
  EXPECT_EQ(pieces[0].data[4 + 0x1F3], 0x0A);
  EXPECT_EQ(pieces[0].data[4 + 512 + 14], 'D');

  RunResult shown = Tool({"show", dir / "1234.bird"});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  for (const char* text :
       {"build:             1234\n", "version:           2.1.0\n", "serial:            40F5849A\n",
        "model:             HubQuad2\n", "serial offset:     0x000001F0\n",
        "descriptor offset: 0x00000200\n", "entry address:     0x10000101\n",
        "blocks:            6 parsed, 6 reported\n", "(CRC-32 matches)",
        "BLOCK_LOADER              2  704         0x10000000",
        "BLOCK_FIRMWARE            7  37          0x00008000"})
    EXPECT_NE(shown.out.find(text), std::string::npos) << text << "\nin:\n" << shown.out;
}

TEST(birdtool, EncodedFirmwareDecodesWithTheFingerprint) {
  TempDir dir;
  std::string image = Pattern(999, 4);
  qntest::WriteFile(dir / "fw.bin", image);
  RunResult made = Tool({"make", dir / "r.bird", "--firmware", "0x60000000:" + (dir / "fw.bin"),
                         "--entry", "0x20000000", "--encode-key", "DEADBEEF:01234567:89abcdef:0"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  BirdFile file((dir / "r.bird").c_str());
  auto firmware = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
  ASSERT_EQ(firmware.size(), 1u);
  EXPECT_NE(Code(firmware[0]), image);
  const uint32_t key[4] = {0xDEADBEEF, 0x01234567, 0x89ABCDEF, 0};
  file.DecodeFirmwareBlocks(key);
  EXPECT_EQ(Code(firmware[0]), image);
  EXPECT_FALSE(file.hasSerialOffsets);
  EXPECT_TRUE(file.FindBlocks(BirdFile::BLOCK_DESCRIPTION).empty());
}

TEST(birdtool, ValuesThatReadLikeHelp) {
  TempDir dir;
  qntest::WriteFile(dir / "fw.bin", Pattern(16, 6));
  RunResult made = Tool({"make", dir / "h.bird", "--model", "help", "--version", "-h", "--firmware",
                         "0:" + (dir / "fw.bin")});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  BirdFile file((dir / "h.bird").c_str());
  EXPECT_TRUE(file.ValidateModel("help"));
  EXPECT_EQ(file.GetVersion(), "-h");
}

TEST(birdtool, ContentsOnly) {
  TempDir dir;
  qntest::WriteFile(dir / "fw.bin", Pattern(40, 5));
  RunResult made = Tool({"make", dir / "c", "--contents-only", "--firmware", "0x400:" + (dir / "fw.bin"),
                         "--model", "Hub"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  std::string raw = qntest::ReadFile(dir / "c");
  BirdWriter::Bytes contents(raw.begin(), raw.end());
  ASSERT_EQ(contents.size(), 4u + (5 + 64) + (5 + 44) + 4);
  EXPECT_EQ(BirdFile::GetInt(contents.data()), 2u);
  BirdWriter::Bytes file = BirdWriter::Wrap(contents);
  BirdFile loaded;
  ASSERT_TRUE(loaded.LoadFromMemory(file.data(), file.size()));
  EXPECT_TRUE(loaded.ValidateModel("Hub"));
  EXPECT_EQ(loaded.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0].address, 0x400u);
}

TEST(birdtool, Refusals) {
  TempDir dir;
  qntest::WriteFile(dir / "fw.bin", "1234");
  qntest::WriteFile(dir / "junk", "not a bird file at all");
  std::string fw = "0:" + (dir / "fw.bin");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  } cases[] = {
      {{"make", dir / "o", "--firmware", "0:" + (dir / "missing")}, 1, "cannot read"},
      {{"make", dir / "o", "--firmware", fw + ":8"}, 1, "cannot read"},  // 8 is no flag value
      {{"make", dir / "o", "--firmware", "zz:" + (dir / "fw.bin")}, 2, "not a number"},
      {{"make", dir / "o", "--firmware", dir / "fw.bin"}, 2, "ADDR:FILE"},
      {{"make", dir / "o", "--version", "2.1 beta"}, 2, "spaces"},
      {{"make", dir / "o", "--build", "1234567890123456"}, 2, "not a number"},
      {{"make", dir / "o", "--model", "ModelNameOfSeventeen"}, 2, "longer than 16"},
      {{"make", dir / "o", "--serial", "1FFFFFFFF"}, 2, "not a number"},
      {{"make", dir / "o", "--description", "colour=red"}, 2, "unknown key"},
      {{"make", dir / "o", "--encode-key", "1:2:3"}, 2, "four hex words"},
      {{"make", dir / "o", "--frobnicate", "1"}, 2, "unknown option"},
      {{"make", dir / "o", "--entry"}, 2, "missing value"},
      {{"make", dir / "no/dir/o", "--firmware", fw}, 1, "cannot write"},
      {{"make"}, 2, "output file"},
      {{"show", dir / "junk"}, 1, "cannot load"},
      {{"show", dir / "missing"}, 1, "cannot load"},
      {{"show", dir / "junk", "--verbose"}, 2, "unknown option"},
      {{"frob"}, 2, "unknown command"},
  };
  for (const Case& c : cases) {
    RunResult r = Tool(c.args);
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    EXPECT_EQ(r.exitCode, c.exitCode) << line << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << line << "\n" << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "o")) << "a refused make wrote its output";
}

TEST(birdtool, ShowReportsAChecksumThatDiffers) {
  TempDir dir;
  BirdWriter::Bytes contents = BirdWriter().AddEntryAddress(4).Contents();
  contents.back() ^= 0xFF;
  BirdWriter::Bytes bytes = BirdWriter::Wrap(contents);
  qntest::WriteFile(dir / "x.bird", std::string(bytes.begin(), bytes.end()));
  RunResult shown = Tool({"show", dir / "x.bird", "--log"});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_NE(shown.out.find("(CRC-32 of the contents is "), std::string::npos) << shown.out;
  EXPECT_NE(shown.err.find("BIRDFILE: Loading File ["), std::string::npos) << shown.err;
}

}  // namespace
