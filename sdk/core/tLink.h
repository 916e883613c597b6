// The link engine. A link is the host's connection to one module over one
// stream: an inbound and an outbound packet FIFO, a reader thread and a
// writer thread, and a status that callers poll. Every link lives in a
// process-wide table under a small integer id (0 means none). Callers that
// ask for the same module share one link; a use count lets the last one to
// let go tear it down.
//
// Status values:
//   0 stopped   1 starting   2 running and in sync   3 stopping
//   4 synchronising   5 no such link (also: initialised without a stream)
//   6 stream I/O error   8 packet handling error   (7 is never used)
//
// Concurrency: the table mutex is held only inside table operations. An
// operation on an id looks the record up and then uses it without a lock, so
// a caller must not use an id while another thread runs the tLink_Destroy
// that drops its last use. The user filter runs on the reader thread under
// the link's filter mutex; code that holds a lock the filter takes must not
// install or remove the filter.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sdk/core/tErr.h"
#include "sdk/core/tPacket.h"
#include "sdk/core/tPacketFifo.h"
#include "sdk/core/tStream.h"

#define tLINKCHECK 0xCEEDu

enum {
  tLINK_STATUS_STOPPED = 0,
  tLINK_STATUS_STARTING = 1,
  tLINK_STATUS_RUNNING = 2,
  tLINK_STATUS_STOPPING = 3,
  tLINK_STATUS_SYNCING = 4,
  tLINK_STATUS_NO_LINK = 5,
  tLINK_STATUS_IO_ERROR = 6,
  tLINK_STATUS_PACKET_ERROR = 8,
};

// A running link's record (opaque; see tLink_Stop).
typedef struct tLinkRecord tLinkRecord;

// ---------------------------------------------------------------------------
// Creation. Each returns a link id, or 0 on failure; the cause shows only in
// the trace (bit 0x1). A creation that fails part-way destroys what it made.

// A link over USB, synchronised: 0 when the module does not answer the sync
// handshake within about 2 seconds. Shares an existing link to the serial
// number (0 when a broker serves that link).
int tLink_CreateUSB(uint32_t serialNumber);
// A link over a TCP socket to ipAddress (network byte order) and port; no
// sync step. Shared like USB links.
int tLink_CreateTCPIP(uint32_t serialNumber, uint32_t ipAddress, uint16_t port);
// A link over a COBS-framed serial line at one of the rates 2400, 4800,
// 9600, 19200, 38400, 57600, 115200 or 230400 (8N1); any other rate gives 0
// and leaves no entry. No sync step.
int tLink_CreateSerial(uint32_t serialNumber, const char* portName, uint32_t baudRate);
// A link over a stream the caller made; the link owns the stream from now on
// (also when creation fails). Never shared.
int tLink_Create(tStream* stream);

// ---------------------------------------------------------------------------
// Life

// Drops one use; the last tears the link down (threads, FIFOs, log, stream).
// *id becomes 0 in every case. tErrParam for an unknown id, tErrUnknown for
// an entry without a record; otherwise the result of destroying the
// outbound FIFO.
tErr tLink_Destroy(int* id);
// Prepares an entry's record over stream (status 0, or 5 without a stream).
// Returns the id, or 0 when the id has no entry.
int tLink_Init(int id, tStream* stream);
// Starts both threads and queues the route-on packet.
//   tErrParam      no such link
//   tErrResource   a thread could not start
//   tErrIndexRange the threads did not come up within 2 s
//   otherwise the route-on put's result (tErrNone when the link already runs)
tErr tLink_Start(int id);
// Queues the route-off packet, stops both threads (the writer sends what is
// still queued first) and leaves status 0. tErrNone at once for a stopped or
// stopping link; tErrParam for a null record; tErrUnknown when a join fails.
tErr tLink_Stop(tLinkRecord* link);
// The record of an id, or null.
tLinkRecord* tLink_GetRecord(int id);
// Stops the link, makes a new stream of the same kind (up to 20 attempts,
// 100 ms apart) and starts again; returns the start's result. When no
// stream can be made, the link runs without one and reports status 6.
// tErrParam for an unknown id.
tErr tLink_Reset(int id);
// Re-synchronises with the module (magic packets) and empties both FIFOs.
// tErrNone, tErrNotReady when the module did not answer within 2 s,
// tErrParam for an unknown id.
tErr tLink_Sync(int id);
// Queues a route packet (address 0xAF, one payload byte `on`).
// tErrNotFound (no entry), tErrParam (no record), tErrMemory, or the put's result.
tErr tLink_ForceRoute(int id, uint8_t on);
// The status, or 5 for an unknown id.
int tLink_GetStatus(int id);

// ---------------------------------------------------------------------------
// Packets

// Puts a copy on the outbound FIFO; tErrParam for an unknown id. On a
// running unpooled link with nothing queued and the writer idle, the packet
// is written at once on the caller's thread instead (same order, same
// logging; a write error drops it as the writer would).
tErr tLink_PutPacket(int id, const tPacket* packet);
// The first inbound packet, now or within timeoutMs; null for an unknown id.
tPacket* tLink_GetPacket(int id);
tPacket* tLink_AwaitPacket(int id, uint32_t timeoutMs);
// The first inbound packet the filter accepts; null when none or unknown.
tPacket* tLink_GetFirst(int id, tPacketFilter filter, const void* ref);
// Drops the inbound packets the filter accepts; returns how many (0 unknown).
size_t tLink_DrainPackets(int id, tPacketFilter filter, const void* ref);
// Waits up to timeoutMs for the first inbound packet the filter accepts, but
// only while the link runs in sync (status 2): a link that is not returns
// null at once, and one that drops out of sync ends the wait. While no one
// else reads the link's stream, the waiting thread reads it itself, handling
// every packet as the reader thread would.
tPacket* tLink_AwaitFirst(int id, tPacketFilter filter, const void* ref, uint32_t timeoutMs);

// ---------------------------------------------------------------------------
// Settings

// Sets (or with a null filter clears) the filter that sees every received
// packet first, under the filter mutex, on the thread reading the stream:
// the reader thread, or a caller inside tLink_AwaitFirst. A filter that
// returns non-zero has consumed the packet. It sees the reader's own packet
// and must not keep it; it must not stop, reset or destroy its link, nor wait
// on it.
tErr tLink_InstallUserPacketFilter(int id, tPacketFilter filter, const void* ref);
// Pooled links write queued packets in batches of up to 4096 bytes.
tErr tLink_EnablePooledPackets(int id, bool on);

// ---------------------------------------------------------------------------
// Packet debug log (see tPacketLog.h). Each gives tErrParam for an unknown id.

// Size of the log the next enable makes: above 64 MiB tErrParam, a link that
// already has a log tErrBusy; a negative size means the default (64 KiB).
tErr tLink_PacketDebug_SetLogSize(int id, int size);
// Makes the log on first use and switches recording on; tErrResource when
// the log or its mutex cannot be made.
tErr tLink_PacketDebug_Enable(int id);
// Switches recording off (the log stays); tErrNotReady without a log.
tErr tLink_PacketDebug_Disable(int id);
// tPacketLog_Get / tPacketLog_Put on the link's log; tErrNotReady without one.
tErr tLink_PacketDebug_Read(int id, uint8_t* kind, uint8_t* length, uint8_t* buffer);
tErr tLink_PacketDebug_Write(int id, uint8_t kind, uint8_t length, const uint8_t* bytes);

// ---------------------------------------------------------------------------
// Module queries, used when a broker is put in front of a link

// Sends a magic packet and waits up to 1000 ms for the next inbound packet:
// an empty one from a non-zero address gives that address. tErrTimeout
// without a packet, tErrIO for any other packet.
tErr _tLink_GetModuleAddress(int id, uint8_t* address);
// Asks the module at address for its model (system entity get of option 8)
// and waits up to 1000 ms for the next inbound packet. tErrTimeout, or tErrIO
// for a packet that is not the 4-byte reply from that address.
tErr _tLink_GetModel(int id, uint8_t address, uint8_t* model);

// ---------------------------------------------------------------------------
// Hooks for the layer above (the broker and its client stream live there)

// Called by tLink_Destroy on a link a broker serves.
typedef tErr (*tLinkServerDestroyProc)(void** server);
// Makes a broker client stream for a tMesh link's reset.
typedef tErr (*tLinkClientStreamProc)(uint32_t ipAddress, uint16_t port, tStream** out);

// Records that a broker serves the module link id: tLink_CreateUSB and
// tLink_CreateTCPIP no longer share it, and its destroy destroys the broker.
tErr tLink_AttachServer(int id, void* server, tLinkServerDestroyProc destroy);
// Sets how tLink_Reset makes streams for tMesh links (null: it cannot).
void tLink_SetClientStreamFactory(tLinkClientStreamProc make);
// Table operations for the broker's creation functions: a new entry for a
// tMesh client link (identifiers ipAddress, port and a fresh client count),
// sharing an existing id (adds a use), and recording an owned link.
int tLink_NewClientEntry(uint32_t ipAddress, uint16_t port);
int tLink_ShareExisting(int id);
tErr tLink_SetOwnedLink(int clientId, int moduleLinkId);
