// The readiness of a virtual usbfs node. A USB client (libusb) waits for
// finished URBs by polling its device descriptor for writability and then
// reaping. The node is a FIFO of one page that the simulator keeps full while
// nothing is to be reaped, so the client's poll sleeps, and empties as soon
// as a URB is done, so the poll wakes. A real usbfs node behaves the same way
// (writable exactly when a URB can be reaped); a plain file or a PTY would be
// writable all the time and make every waiting client spin.
#pragma once

#include <string>

namespace qnsim {

class Doorbell {
 public:
  Doorbell() = default;
  ~Doorbell();
  Doorbell(const Doorbell&) = delete;
  Doorbell& operator=(const Doorbell&) = delete;

  // Makes the FIFO at `path` and holds it open, quiet. False on failure.
  bool Create(const std::string& path, std::string* error);
  // Wakes pollers (the node turns writable).
  void Ring();
  // Puts pollers back to sleep.
  void Quiet();

 private:
  int fd_ = -1;
  bool rung_ = true;
};

}  // namespace qnsim
