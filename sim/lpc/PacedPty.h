// A pseudo-terminal that stands in for a serial line to a device. The host
// opens the slave side; the simulator works the master side. With pacing on,
// every byte takes ten bit times at the line's baud rate in each direction,
// as on an 8N1 wire: a byte the host writes reaches the device only when its
// stop bit would have arrived, and the device's bytes leave one slot after
// another, both directions at once.
#pragma once

#include <signal.h>
#include <stdint.h>

#include <deque>
#include <string>

namespace lpcsim {

// What runs at the far end of the line.
class LineDevice {
 public:
  virtual ~LineDevice() = default;
  virtual void Receive(uint8_t byte) = 0;
  virtual std::string TakeOutput() = 0;
  // A new line rate that applies once the bytes sent so far have gone out.
  virtual bool TakeBaudChange(uint32_t* baud) = 0;
};

class PacedPty {
 public:
  PacedPty() = default;
  ~PacedPty();
  PacedPty(const PacedPty&) = delete;
  PacedPty& operator=(const PacedPty&) = delete;

  // Creates the pair and puts the slave in raw mode. The simulator keeps a
  // slave descriptor of its own open, so hosts may close and reopen the line
  // without the master seeing a hang-up. false when the system refuses.
  bool Open();
  const std::string& slavePath() const { return slavePath_; }

  void SetBaud(uint32_t baud) { baud_ = baud; }
  void SetPaced(bool paced) { paced_ = paced; }
  uint32_t baud() const { return baud_; }

  // Runs the line until *stop is set (by a signal handler).
  void Run(LineDevice* device, volatile sig_atomic_t* stop);

 private:
  int64_t ByteNs() const;
  void ReadHost(int64_t now);
  void DeliverDue(LineDevice* device, int64_t now);
  void SendDue(int64_t now);

  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  uint32_t baud_ = 115200;
  bool paced_ = false;
  uint32_t pendingBaud_ = 0;

  struct Arrival {
    int64_t at;
    uint8_t byte;
  };
  std::deque<Arrival> rx_;
  int64_t rxLineFree_ = 0;  // when the host-to-device wire is next free
  std::string tx_;
  int64_t txNext_ = 0;      // when the next device byte has fully left
  int64_t txFree_ = 0;      // when the last device byte had fully left
  bool txBlocked_ = false;  // the host's input buffer is full
};

}  // namespace lpcsim
