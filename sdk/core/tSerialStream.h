// The serial stream: a serial port in raw mode at one of eight fixed rates.
// The port stays open from creation until delete, and delete puts back the
// settings the port had before.
//
//   get:   one byte; tErrNotReady at once when none is there (VMIN 0,
//          VTIME 0), also on a hung-up line, which reads nothing; tErrIO
//          when the read fails
//   write: the whole block in one call, then waits until it has left the
//          port (tcdrain); a short write gives tErrIO
//   wait:  polls the descriptor; a hung-up line counts as idle for the
//          whole wait, so a reader waiting on it sleeps rather than spins
// Get and write touch different directions of the descriptor and need no
// lock.
#pragma once

#include <stdint.h>

#include "sdk/core/tStream.h"

#define tSERIALSTREAMCHECK 0xBEEFu
#define tSERIAL_PATH_MAX 4096
#define tSERIAL_BAUD_COUNT 8

// Baud indexes: 0..7 stand for 2400, 4800, 9600, 19200, 38400, 57600, 115200
// and 230400 bits per second.
// The index of exactly that rate, or -1 for a rate not in the table.
int tSerial_BaudIndex(uint32_t rate);
// The rate of an index, or 0 for an index outside 0..7.
uint32_t tSerial_BaudRate(int index);

// Opens the device read-write without making it the controlling terminal
// and applies raw settings: no echo, no line editing, no output processing,
// breaks ignored, CLOCAL | CREAD, the baud index's speed both ways, parity
// (bool; IGNPAR with it), dataBits 0 for 8 or 1 for 7, stopBits 0 for one
// or 1 for two. Pending input and output are discarded.
//   tErrResource    null path or out, a path of 4096 or more characters,
//                   dataBits or stopBits above 1, a baud index outside
//                   0..7, no memory (nothing is opened)
//   tErrNotFound    no such device
//   tErrPermission  no permission to open it
//   tErrIO          any other open failure, or a device that takes no
//                   terminal settings
tErr tStream_CreateSerial(const char* path, int baudIndex, bool parity, int dataBits, int stopBits,
                          tStream** out);

// The same port wrapped in COBS framing (the stream of a SERIAL link, which
// passes parity off, 8 data bits and one stop bit).
//   tErrParam   null path or out, a path of 4096 or more characters,
//               dataBits or stopBits above 1, a baud index outside 0..7
//   tErrMemory  no memory for the state
//   otherwise the open error as above, or the COBS stream's error
tErr tStream_CreateSerial_Packetized(const char* path, int baudIndex, bool parity, int dataBits,
                                     int stopBits, tStream** out);
