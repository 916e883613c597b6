// The simulator's transports with hosts that misbehave.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "sdk/api/tUEI.h"
#include "sdk/core/tCobs.h"
#include "sdk/core/tCrc8.h"
#include "sim/module/Simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

// One packet as the serial line carries it: COBS over the packet and its
// CRC-8, then the zero delimiter.
std::vector<uint8_t> LineFrame(const std::vector<uint8_t>& packet) {
  std::vector<uint8_t> body = packet;
  body.push_back(crc8_create(packet.data(), packet.size()));
  std::vector<uint8_t> line(COBS_ENCODED_MAX(body.size()) + 1);
  const size_t n = cobs_encode(body.data(), body.size(), line.data());
  line[n] = 0;
  line.resize(n + 1);
  return line;
}

TEST(SimTransports, AHostThatStopsReadingTheSerialLineDoesNotStallTheSimulator) {
  qnsim::ModuleSpec spec;
  std::string error;
  ASSERT_TRUE(qnsim::ParseModuleSpec("serial=1234ABCD,serial-line", &spec, &error)) << error;
  qnsim::Simulator sim;
  ASSERT_TRUE(sim.Start({spec}, [](const std::string&) {}, &error)) << error;
  const int fd = open(sim.SerialLinePath(0x1234ABCD).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);

  // Debug echoes of 27 bytes each, far more than the line holds, and the
  // answers never read.
  std::vector<uint8_t> echo = {2, 28, cmdDEBUG};
  for (int i = 0; i < 27; i++) echo.push_back(static_cast<uint8_t>(0x41 + i));
  const std::vector<uint8_t> frame = LineFrame(echo);
  const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(3);
  for (int sent = 0; sent < 2000 && Clock::now() < giveUp;) {
    if (write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size())) {
      sent++;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the line is full for now
    }
  }

  std::future<void> stopped = std::async(std::launch::async, [&sim] { sim.Stop(); });
  const bool inTime = stopped.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  EXPECT_TRUE(inTime) << "the simulator hangs on a line nobody reads";
  // Free a stuck simulator by reading what it wants to send, so the test ends.
  uint8_t sink[4096];
  while (stopped.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    (void)!read(fd, sink, sizeof sink);
  }
  close(fd);
}

}  // namespace
