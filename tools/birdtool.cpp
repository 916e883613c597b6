// birdtool: makes BIRD firmware files from raw images and shows what an
// existing one holds.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/Log.h"
#include "store/BirdFile.h"
#include "store/tFile.h"
#include "tools/BirdWriter.h"

namespace {

const char* const kUsage =
    "Usage: birdtool make OUT [options]    build a BIRD file OUT from raw images\n"
    "       birdtool show FILE [--log]     print the header, description and blocks of FILE\n"
    "       birdtool --help\n"
    "\n"
    "make options:\n"
    "  --loader ADDR:FILE[:FLAGS]    a loader piece: the raw bytes of FILE, loaded at ADDR\n"
    "                                (repeatable; kept in the order given)\n"
    "  --firmware ADDR:FILE[:FLAGS]  a firmware piece, the same way (repeatable)\n"
    "  --build N                     description: build number (decimal, up to 15 digits)\n"
    "  --version TEXT                description: version text, e.g. 2.1.0 (no spaces)\n"
    "  --serial HEX                  description: device serial number, e.g. 40F5849A\n"
    "  --model NAME                  description: model name, e.g. HubQuad2 (up to 16)\n"
    "  --description KEY=VALUE       the same four, KEY one of build, version, serial, model\n"
    "  --serial-offset ADDR          target address of the 32-bit serial number that the\n"
    "                                updater patches into the firmware\n"
    "  --descriptor-offset ADDR      target address of the USB serial-number string\n"
    "                                descriptor patched the same way\n"
    "  --entry ADDR                  entry address of the recovery loader\n"
    "  --encode-key W0:W1:W2:W3      scramble the firmware for chip-bound recovery with this\n"
    "                                fingerprint (four hex words, as the updater prints it)\n"
    "  --level N                     zlib compression level 0 to 9 (default 9)\n"
    "  --contents-only               write the decompressed contents alone (block count,\n"
    "                                blocks, checksum), without header or compression\n"
    "\n"
    "ADDR, FLAGS and N take C notation: 0x10000 is hexadecimal, 65536 decimal. FLAGS (0 to\n"
    "7) go into the high 3 bits of the block type and reach the module unchanged. A FILE\n"
    "whose name ends in :0 to :7 needs its FLAGS spelled out (ADDR:name:3:0).\n"
    "A description block is written when any of its fields is given (the others are\n"
    "blank, the serial 00000000); a serial-offsets block when either offset is given.\n"
    "Blocks are written in this order: description, serial offsets, entry address,\n"
    "loader pieces, firmware pieces.\n"
    "\n"
    "File checksum: the last 4 bytes of the (decompressed) contents are the CRC-32 (zlib's\n"
    "crc32, IEEE 802.3 polynomial) of every contents byte before them, big-endian. The\n"
    "updater stores but never verifies it; show reports whether it matches.\n"
    "\n"
    "show --log prints the updater's own BIRD diagnostics on standard error.\n"
    "Exit status: 0 on success, 1 when a file cannot be read, written or loaded, 2 for a\n"
    "usage error.\n";

struct UsageError {
  std::string text;
};

bool _parse_number(const std::string& text, uint64_t max, uint32_t* value, int base = 0) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long parsed = strtoull(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || parsed > max || text[0] == '-') return false;
  *value = uint32_t(parsed);
  return true;
}

uint32_t _number(const std::string& option, const std::string& text, uint64_t max = UINT32_MAX,
                 int base = 0) {
  uint32_t value = 0;
  if (!_parse_number(text, max, &value, base))
    throw UsageError{option + ": not a number in range: '" + text + "'"};
  return value;
}

bool _read_file(const std::string& path, BirdWriter::Bytes* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

struct Piece {
  uint32_t address;
  BirdWriter::Bytes code;
  uint8_t flags;
};

// ADDR:FILE[:FLAGS]. The file name may itself contain ':' when FLAGS is
// given, so the address is cut at the first and the flags at the last.
Piece _piece(const std::string& option, const std::string& text) {
  size_t first = text.find(':');
  if (first == std::string::npos || first + 1 == text.size())
    throw UsageError{option + " wants ADDR:FILE[:FLAGS], got '" + text + "'"};
  Piece piece{_number(option, text.substr(0, first)), {}, 0};
  std::string file = text.substr(first + 1);
  size_t last = file.rfind(':');
  uint32_t flags = 0;
  if (last != std::string::npos && _parse_number(file.substr(last + 1), 7, &flags)) {
    piece.flags = uint8_t(flags);
    file = file.substr(0, last);
  }
  if (!_read_file(file, &piece.code)) throw std::runtime_error("cannot read " + file);
  return piece;
}

int _make(const std::vector<std::string>& args) {
  if (args.empty() || args[0].rfind("--", 0) == 0) throw UsageError{"make needs an output file"};
  const std::string out = args[0];
  std::vector<Piece> loaders, firmware;
  BirdWriter::Description description;
  bool hasDescription = false, hasOffsets = false, hasEntry = false, hasKey = false;
  uint32_t serialOffset = 0, descriptorOffset = 0, entry = 0, key[4] = {0, 0, 0, 0};
  int level = 9;

  auto setField = [&](const std::string& field, const std::string& value) {
    hasDescription = true;
    if (field == "build") {
      _number("--build", value, UINT32_MAX, 10);
      description.build = value;
    } else if (field == "version") {
      description.version = value;
    } else if (field == "serial") {
      description.serial = _number("--serial", value, UINT32_MAX, 16);
    } else if (field == "model") {
      description.model = value;
    } else {
      throw UsageError{"--description: unknown key '" + field + "'"};
    }
  };

  bool contentsOnly = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--contents-only") {
      contentsOnly = true;
      continue;
    }
    if (i + 1 >= args.size()) throw UsageError{"unknown option or missing value: " + option};
    const std::string& value = args[++i];
    if (option == "--loader") {
      loaders.push_back(_piece(option, value));
    } else if (option == "--firmware") {
      firmware.push_back(_piece(option, value));
    } else if (option == "--build" || option == "--version" || option == "--serial" ||
               option == "--model") {
      setField(option.substr(2), value);
    } else if (option == "--description") {
      size_t eq = value.find('=');
      if (eq == std::string::npos) throw UsageError{"--description wants KEY=VALUE"};
      setField(value.substr(0, eq), value.substr(eq + 1));
    } else if (option == "--serial-offset") {
      serialOffset = _number(option, value);
      hasOffsets = true;
    } else if (option == "--descriptor-offset") {
      descriptorOffset = _number(option, value);
      hasOffsets = true;
    } else if (option == "--entry") {
      entry = _number(option, value);
      hasEntry = true;
    } else if (option == "--encode-key") {
      std::string rest = value;
      for (int w = 0; w < 4; ++w) {
        size_t cut = rest.find(':');
        if ((w < 3) == (cut == std::string::npos))
          throw UsageError{"--encode-key wants four hex words W0:W1:W2:W3"};
        key[w] = _number(option, rest.substr(0, cut), UINT32_MAX, 16);
        rest = cut == std::string::npos ? "" : rest.substr(cut + 1);
      }
      hasKey = true;
    } else if (option == "--level") {
      level = int(_number(option, value, 9));
    } else {
      throw UsageError{"unknown option: " + option};
    }
  }

  BirdWriter writer;
  writer.SetCompressionLevel(level);
  if (hasKey) writer.EncodeFirmwareWith(key);
  try {
    if (hasDescription) writer.AddDescription(description);
  } catch (const std::invalid_argument& e) {
    throw UsageError{e.what()};
  }
  if (hasOffsets) writer.AddSerialOffsets(serialOffset, descriptorOffset);
  if (hasEntry) writer.AddEntryAddress(entry);
  for (const Piece& p : loaders) writer.AddLoader(p.address, p.code, p.flags);
  for (const Piece& p : firmware) writer.AddFirmware(p.address, p.code, p.flags);

  std::string error;
  if (contentsOnly) {
    BirdWriter::Bytes contents = writer.Contents();
    if (tFile_Replace(out.c_str(), contents.data(), contents.size()) != tErrNone)
      throw std::runtime_error("cannot write " + out);
  } else if (!writer.WriteTo(out, &error)) {
    throw std::runtime_error(error);
  }
  printf("birdtool: wrote %s (%zu blocks)\n", out.c_str(), writer.BlockCount());
  return 0;
}

std::string _trimmed_field(const BirdBlock& description, size_t offset, size_t size) {
  std::string text(reinterpret_cast<const char*>(description.data + offset), size);
  text = text.substr(0, text.find('\0'));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

int _show(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError{"show needs a file"};
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] != "--log") throw UsageError{"unknown option: " + args[i]};
    Log::SetOutput(stderr);
    Log::ActivatePackage(DEBUG_BirdFile);
  }
  const std::string& path = args[0];
  bool verified = BirdFile::VerifyFile(path.c_str());
  BirdFile file;
  file.path = path;
  if (!file.Load()) throw std::runtime_error("cannot load " + path + " (show --log tells why)");

  char signature[5];
  for (int i = 0; i < 4; ++i) {
    char c = char(file.signature >> (24 - 8 * i));
    signature[i] = (c >= 0x20 && c < 0x7F) ? c : '.';
  }
  signature[4] = '\0';
  uint32_t stored = file.fileChecksum;
  uint32_t computed = BirdWriter::Checksum(file.contents.get(), file.contentsSize - 4);
  printf("file:              %s\n", path.c_str());
  printf("signature:         %s\n", signature);
  printf("format version:    0x%04X\n", file.version);
  printf("header test:       %s\n", verified ? "passes" : "fails");
  printf("contents:          %u bytes\n", file.contentsSize);
  printf("blocks:            %u parsed, %u reported\n", file.blockCount,
         BirdFile::GetInt(file.contents.get()));
  if (stored == computed)
    printf("checksum:          %08X (CRC-32 matches)\n", stored);
  else
    printf("checksum:          %08X (CRC-32 of the contents is %08X)\n", stored, computed);

  std::vector<BirdBlock> descriptions = file.FindBlocks(BirdFile::BLOCK_DESCRIPTION);
  if (!descriptions.empty()) {
    printf("build:             %s\n", _trimmed_field(descriptions[0], 0, 16).c_str());
    printf("version:           %s\n", _trimmed_field(descriptions[0], 16, 16).c_str());
    printf("serial:            %s\n", _trimmed_field(descriptions[0], 32, 16).c_str());
    printf("model:             %s\n", _trimmed_field(descriptions[0], 48, 16).c_str());
  }
  if (file.hasSerialOffsets) {
    printf("serial offset:     0x%08X\n", file.serialNumberOffset);
    printf("descriptor offset: 0x%08X\n", file.descriptorOffset);
  }
  for (const BirdBlock& b : file.FindBlocks(BirdFile::BLOCK_ENTRY_ADDRESS))
    printf("entry address:     0x%08X\n", BirdFile::GetInt(b.data));

  printf("\n  #  type                  flags  length      address\n");
  for (size_t i = 0; i < file.blocks.size(); ++i) {
    const BirdBlock& b = file.blocks[i];
    bool addressed = b.type == BirdFile::BLOCK_LOADER || b.type == BirdFile::BLOCK_FIRMWARE;
    char address[16] = "-";
    if (addressed) snprintf(address, sizeof address, "0x%08X", b.address);
    char type[32];
    snprintf(type, sizeof type, "%s", BirdFile::BlockTypeName(b.type));
    if (strcmp(type, "UNKNOWN") == 0) snprintf(type, sizeof type, "type %u", b.type);
    printf("%3zu  %-20s  %5u  %-10u  %s\n", i, type, b.flags, b.length, address);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }
  // "help" and "-h" ask for help only in the command's place: later they may
  // be values (a model named help).
  bool help = args[0] == "help" || args[0] == "-h";
  for (const std::string& arg : args) help = help || arg == "--help";
  if (help) {
    fputs(kUsage, stdout);
    return 0;
  }
  std::string command = args[0];
  args.erase(args.begin());
  try {
    if (command == "make") return _make(args);
    if (command == "show") return _show(args);
    throw UsageError{"unknown command: " + command};
  } catch (const UsageError& e) {
    fprintf(stderr, "birdtool: %s\n(birdtool --help for usage)\n", e.text.c_str());
    return 2;
  } catch (const std::exception& e) {
    fprintf(stderr, "birdtool: %s\n", e.what());
    return 1;
  }
}
