// Programs an image into the LPC17xx boot ROM simulator on a paced line
// (every byte 10 bit times at the baud rate, both ways) with our ISP driver,
// the way recovery does it, and with lpc21isp, an independent host tool for
// the same ROM; prints both times beside the line-rate limit: the time the
// uuencoded data lines alone take on the wire.
//   bench_lpc_recovery [--baud N] [--size BYTES]     (115200, 65536)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "recovery/NXPSerialClass.h"
#include "tests/support/LpcSim.h"
#include "tests/support/Process.h"

namespace {

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Characters of the uuencoded data lines for n bytes, line ends included.
double LineChars(size_t n) {
  double chars = 0;
  for (size_t at = 0; at < n; at += 45) {
    size_t k = n - at < 45 ? n - at : 45;
    chars += 1 + 4.0 * static_cast<double>((k + 2) / 3) + 2;
  }
  return chars;
}

// A paced simulator that dumps its flash on exit.
qntest::LpcSim PacedSim(unsigned baud, const std::string& flashFile) {
  return qntest::LpcSim({"--pace", "--baud", std::to_string(baud), "--flash-out", flashFile}, QN_LPC_SIM);
}

bool Fail(const char* what) {
  fprintf(stderr, "bench_lpc_recovery: %s\n", what);
  return false;
}

// Our driver, step for step as the recovery programs a chip.
bool ProgramWithDriver(const std::string& port, unsigned baud, const std::vector<uint8_t>& image) {
  NXPSerialClass nxp;
  if (nxp.Connect(port.c_str(), baud) != tErrNone) return Fail("connect");
  if (nxp.Sync() != tErrNone) return Fail("sync");
  if (nxp.GetDeviceID() != tErrNone) return Fail("device id");
  if (nxp.Unlock() != tErrNone || nxp.Prepare(0, 29) != tErrNone || nxp.Erase(0, 29) != tErrNone) {
    return Fail("unlock, prepare or erase");
  }
  nxp.SetEcho(false);
  for (size_t offset = 0; offset < image.size(); offset += 4096) {
    unsigned size = static_cast<unsigned>(std::min<size_t>(4096, image.size() - offset));
    std::vector<uint8_t> chunk(image.begin() + offset, image.begin() + offset + size);
    chunk.resize((size + 3) / 4 * 4, 0xFF);
    unsigned address = static_cast<unsigned>(offset);
    if (nxp.Write(NXPSerialClass::WRITE_ADDRESS, static_cast<unsigned>(chunk.size()), chunk.data()) != tErrNone ||
        nxp.Prepare(NXPSerialClass::SectorFromAddress(address),
                    NXPSerialClass::SectorFromAddress(address + size - 1)) != tErrNone ||
        nxp.CopyToFlash(address, NXPSerialClass::WRITE_ADDRESS, NXPSerialClass::CopyLength(size)) != tErrNone) {
      return Fail("chunk");
    }
  }
  nxp.SetEcho(true);
  nxp.ExecuteFrom(0);
  return true;
}

bool SameFlash(const std::string& file, const std::vector<uint8_t>& image, bool skipVectorChecksum) {
  std::string flash = qntest::ReadFile(file);
  if (flash.size() < image.size()) return false;
  for (size_t i = 0; i < image.size(); i++) {
    if (skipVectorChecksum && i >= 0x1C && i < 0x20) continue;
    if (static_cast<uint8_t>(flash[i]) != image[i]) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned baud = 115200;
  size_t size = 65536;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--baud") == 0) baud = static_cast<unsigned>(atoi(argv[i + 1]));
    if (strcmp(argv[i], "--size") == 0) size = static_cast<size_t>(atol(argv[i + 1]));
  }
  if (access("/usr/bin/lpc21isp", X_OK) != 0) {
    fprintf(stderr, "bench_lpc_recovery: lpc21isp is missing (scripts/setup installs it)\n");
    return 1;
  }
  qntest::TempDir dir;
  std::mt19937 rng(64);
  std::vector<uint8_t> image(size);
  for (auto& b : image) b = static_cast<uint8_t>(rng());
  qntest::WriteFile(dir / "image.bin", std::string(image.begin(), image.end()));

  double ours = 0;
  {
    qntest::LpcSim sim = PacedSim(baud, dir / "ours.bin");
    double start = Now();
    if (!ProgramWithDriver(sim.path(), baud, image)) return 1;
    ours = Now() - start;
    sim.process().Stop();
  }
  if (!SameFlash(dir / "ours.bin", image, false)) return Fail("our flash differs from the image"), 1;

  double theirs = 0;
  {
    qntest::LpcSim sim = PacedSim(baud, dir / "theirs.bin");
    qntest::RunOptions options;
    options.timeoutSeconds = 600;
    double start = Now();
    qntest::RunResult r = qntest::Run("/usr/bin/lpc21isp",
                                      {"-bin", dir / "image.bin", sim.path(), std::to_string(baud), "14746"}, options);
    theirs = Now() - start;
    sim.process().Stop();
    if (r.exitCode != 0) {
      fprintf(stderr, "%s%s", r.out.c_str(), r.err.c_str());
      return Fail("lpc21isp failed"), 1;
    }
  }
  if (!SameFlash(dir / "theirs.bin", image, true)) return Fail("lpc21isp's flash differs from the image"), 1;

  double limit = LineChars(size) * 10.0 / baud;
  printf("LPC recovery: %zu bytes into the paced simulator at %u baud\n", size, baud);
  printf("  our driver       %7.2f s  (%.2f x the line-rate limit)\n", ours, ours / limit);
  printf("  lpc21isp         %7.2f s  (%.2f x the line-rate limit)\n", theirs, theirs / limit);
  printf("  line-rate limit  %7.2f s  (uuencoded data lines at 10 bit times per character)\n", limit);
  printf("  ours / lpc21isp  %7.2f\n", ours / theirs);
  return 0;
}
