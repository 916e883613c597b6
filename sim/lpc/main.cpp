// lpc_isp_sim: the boot ROM of an NXP LPC17xx in ISP mode, on a
// pseudo-terminal. Hosts open the slave path it prints and talk to it as to
// a chip held in its boot loader.
#include <getopt.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "sim/lpc/LpcIsp.h"
#include "sim/lpc/PacedPty.h"

namespace {

volatile sig_atomic_t gStop = 0;
volatile sig_atomic_t gReset = 0;

void OnSignal(int) { gStop = 1; }
void OnReset(int) {
  gReset = 1;
  gStop = 1;
}

const char* kUsage =
    "Usage: lpc_isp_sim [options]\n"
    "Simulates the ISP boot loader of an NXP LPC17xx (512 KiB flash, 64 KiB RAM) on a\n"
    "pseudo-terminal. The first line on standard output is \"slave: PATH\", the device\n"
    "hosts open. It runs until it gets SIGINT or SIGTERM. SIGUSR1 resets the chip: it\n"
    "waits for \"?\" again, locked, with echo on; flash stays, RAM is cleared.\n"
    "\n"
    "  --baud N               line rate in bits per second (default 115200); \"B\" changes it\n"
    "  --pace                 take 10 bit times per byte each way, as an 8N1 line does\n"
    "  --part-id N            part id answered to \"J\" (default 0x26013F37, an LPC1768)\n"
    "  --serial A,B,C,D       the four device serial words answered to \"N\"\n"
    "  --boot-version M.N     boot code version answered to \"K\" (default 4.1)\n"
    "  --resend N             answer RESEND to the next N write checksums, right or wrong\n"
    "  --resend-script S      one character per write checksum: R answers RESEND, any\n"
    "                         other answers on the merits (before --resend applies)\n"
    "  --bad-read-checksums N send a wrong checksum for the next N read groups\n"
    "  --fail-command L:CODE  answer every command L with return code CODE, doing nothing\n"
    "  --flash-in FILE        start with FILE in flash (the rest erased)\n"
    "  --flash-out FILE       write the 512 KiB of flash to FILE on exit\n"
    "  --link PATH            also make PATH a symbolic link to the slave\n"
    "  --help                 this text\n"
    "Numbers are decimal or 0x-prefixed hexadecimal. Diagnostics go to standard error.\n";

bool Number(const char* text, unsigned long* out) {
  char* end = nullptr;
  errno = 0;
  *out = strtoul(text, &end, 0);
  return text[0] != '\0' && *end == '\0' && errno == 0;
}

class IspDevice : public lpcsim::LineDevice {
 public:
  explicit IspDevice(lpcsim::LpcIsp* isp) : isp_(isp) {}
  void Receive(uint8_t byte) override { isp_->Receive(byte); }
  std::string TakeOutput() override { return isp_->TakeOutput(); }
  bool TakeBaudChange(uint32_t* baud) override { return isp_->TakeBaudChange(baud); }

 private:
  lpcsim::LpcIsp* isp_;
};

int Fail(const char* what) {
  fprintf(stderr, "lpc_isp_sim: %s\n%s", what, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  lpcsim::LpcIspOptions options;
  unsigned long baud = 115200;
  bool paced = false;
  std::string flashIn, flashOut, link;

  enum { kBaud = 1, kPace, kPart, kSerial, kBoot, kResend, kResendScript, kBadRead, kFail, kFlashIn, kFlashOut, kLink, kHelp };
  static const struct option longOptions[] = {
      {"baud", required_argument, nullptr, kBaud},       {"pace", no_argument, nullptr, kPace},
      {"part-id", required_argument, nullptr, kPart},    {"serial", required_argument, nullptr, kSerial},
      {"boot-version", required_argument, nullptr, kBoot},
      {"resend", required_argument, nullptr, kResend},
      {"resend-script", required_argument, nullptr, kResendScript},
      {"fail-command", required_argument, nullptr, kFail},
      {"bad-read-checksums", required_argument, nullptr, kBadRead},
      {"flash-in", required_argument, nullptr, kFlashIn}, {"flash-out", required_argument, nullptr, kFlashOut},
      {"link", required_argument, nullptr, kLink},        {"help", no_argument, nullptr, kHelp},
      {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
    unsigned long v = 0;
    switch (c) {
      case kBaud:
        if (!Number(optarg, &baud) || baud == 0) return Fail("bad --baud");
        break;
      case kPace:
        paced = true;
        break;
      case kPart:
        if (!Number(optarg, &v) || v > 0xFFFFFFFFul) return Fail("bad --part-id");
        options.partId = static_cast<uint32_t>(v);
        break;
      case kSerial: {
        std::string text(optarg);
        for (int i = 0; i < 4; i++) {
          size_t comma = text.find(',');
          std::string word = text.substr(0, comma);
          if (!Number(word.c_str(), &v) || v > 0xFFFFFFFFul || (i < 3 && comma == std::string::npos)) {
            return Fail("bad --serial: four words A,B,C,D");
          }
          options.serial[i] = static_cast<uint32_t>(v);
          text = comma == std::string::npos ? "" : text.substr(comma + 1);
        }
        if (!text.empty()) return Fail("bad --serial: four words A,B,C,D");
        break;
      }
      case kBoot: {
        unsigned major = 0, minor = 0;
        if (sscanf(optarg, "%u.%u", &major, &minor) != 2) return Fail("bad --boot-version");
        options.bootMajor = major;
        options.bootMinor = minor;
        break;
      }
      case kResend:
        if (!Number(optarg, &v)) return Fail("bad --resend");
        options.resendNext = static_cast<int>(v);
        break;
      case kResendScript:
        options.resendScript = optarg;
        break;
      case kFail: {
        char letter = 0;
        int code = 0;
        if (sscanf(optarg, "%c:%d", &letter, &code) != 2 || code < 0) return Fail("bad --fail-command");
        options.failLetter = letter;
        options.failCode = code;
        break;
      }
      case kBadRead:
        if (!Number(optarg, &v)) return Fail("bad --bad-read-checksums");
        options.badReadChecksums = static_cast<int>(v);
        break;
      case kFlashIn:
        flashIn = optarg;
        break;
      case kFlashOut:
        flashOut = optarg;
        break;
      case kLink:
        link = optarg;
        break;
      case kHelp:
        fputs(kUsage, stdout);
        return 0;
      default:
        return Fail("unknown option");
    }
  }
  if (optind < argc) return Fail("unexpected argument");

  std::vector<uint8_t> flash(lpcsim::LpcMemory::kFlashSize, 0xFF);
  if (!flashIn.empty()) {
    std::ifstream in(flashIn, std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return Fail("cannot read --flash-in");
    if (image.size() > flash.size()) return Fail("--flash-in is larger than the flash");
    std::copy(image.begin(), image.end(), flash.begin());
  }
  auto notes = [](const std::string& text) { fprintf(stderr, "lpc_isp_sim: %s\n", text.c_str()); };
  // A chip fresh out of reset: in autobaud, locked, echo on, RAM cleared.
  auto powerUp = [&](const std::vector<uint8_t>& contents) {
    std::unique_ptr<lpcsim::LpcIsp> chip(new lpcsim::LpcIsp(options));
    chip->memory().flash() = contents;
    chip->SetNotes(notes);
    return chip;
  };

  lpcsim::PacedPty pty;
  if (!pty.Open()) {
    perror("lpc_isp_sim: openpty");
    return 1;
  }
  pty.SetBaud(static_cast<uint32_t>(baud));
  pty.SetPaced(paced);
  if (!link.empty()) {
    unlink(link.c_str());
    if (symlink(pty.slavePath().c_str(), link.c_str()) != 0) {
      perror("lpc_isp_sim: symlink");
      return 1;
    }
  }

  struct sigaction sa;
  memset(&sa, 0, sizeof(sa));
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  sa.sa_handler = OnReset;
  sigaction(SIGUSR1, &sa, nullptr);

  printf("slave: %s\n", pty.slavePath().c_str());
  fflush(stdout);
  fprintf(stderr, "lpc_isp_sim: part id 0x%08X, %lu baud%s\n", options.partId, baud, paced ? ", paced" : "");

  std::unique_ptr<lpcsim::LpcIsp> chip = powerUp(flash);
  for (;;) {
    IspDevice device(chip.get());
    pty.Run(&device, &gStop);
    if (!gReset) break;
    gReset = 0;
    gStop = 0;
    fprintf(stderr, "lpc_isp_sim: reset\n");
    chip = powerUp(chip->memory().flash());
    pty.SetBaud(static_cast<uint32_t>(baud));
  }

  if (!link.empty()) unlink(link.c_str());
  if (!flashOut.empty()) {
    const std::vector<uint8_t>& contents = chip->memory().flash();
    std::ofstream out(flashOut, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    if (!out.good()) {
      fprintf(stderr, "lpc_isp_sim: cannot write %s\n", flashOut.c_str());
      return 1;
    }
  }
  return 0;
}
