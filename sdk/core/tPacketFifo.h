// Thread-safe packet queues named by numeric ids. Each link owns two: the
// inbound FIFO (the reader thread puts received packets, callers take
// replies) and the outbound FIFO (callers put, the writer thread takes).
//
// A caller can take the first packet, the first packet a filter accepts, or
// wait for either with a timeout. Every queued packet carries a sequence id,
// so a filtered wait tests each packet once however often it wakes. Destroying
// a FIFO while other threads wait on it is safe: the waits return null.
//
// Ids are unsigned 64-bit values; 0 is never handed out and means "no FIFO".
// An unknown id (never created or destroyed) is not an error that stops
// anything: Put reports tErrParam, the rest return null or 0.
//
// The FIFO stores private copies: a caller that puts a packet keeps it, and
// every packet handed out is a new heap packet the caller frees with
// tPacket_Destroy. At most 1000 packets are held; the put that would make it
// 1001 discards the whole queue, itself included, and still reports success,
// so a consumer that falls far behind loses packets instead of blocking the
// producer.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sdk/core/tErr.h"
#include "sdk/core/tPacket.h"

#define tPACKETFIFO_CAPACITY 1000

// A caller's predicate over packets; non-zero accepts. Filters run under the
// FIFO's lock: they must be quick and must not call back into the same FIFO.
// ref is the caller's own pointer, passed through. Wherever a filter is
// taken, a null filter accepts every packet.
typedef uint8_t (*tPacketFilter)(const tPacket* packet, const void* ref);

// A new empty FIFO's id, or 0 when it cannot be made.
uint64_t tPacketFifo_Create(void);

// Removes the FIFO and sets *id to 0; waiters on it return null at once.
//   tErrNone      destroyed
//   tErrParam     id is null
//   tErrNotFound  *id is unknown (for example already destroyed)
//   tErrUnknown   an internal failure
tErr tPacketFifo_Destroy(uint64_t* id);

// Queues a copy of packet.
//   tErrNone      queued (or discarded together with the whole queue on overflow)
//   tErrParam     unknown id, invalid packet, or the copy failed
//   tErrResource  the queue could not grow
tErr tPacketFifo_Put(uint64_t id, const tPacket* packet);

// Takes the first packet out; null when empty or unknown.
tPacket* tPacketFifo_Get(uint64_t id);

// Like Get, but waits up to timeoutMs for a packet to arrive.
tPacket* tPacketFifo_Await(uint64_t id, uint32_t timeoutMs);

// Waits up to timeoutMs until the FIFO holds a packet, without taking it.
// Returns the number queued then; 0 on timeout, for an unknown id, or when
// the FIFO is destroyed meanwhile.
size_t tPacketFifo_AwaitLength(uint64_t id, uint32_t timeoutMs);
// Takes out the first packet, in queue order, that filter(packet, ref)
// accepts, or null. Does not wait.
tPacket* tPacketFifo_GetFirst(uint64_t id, tPacketFilter filter, const void* ref);

// Like GetFirst, but waits up to timeoutMs for an accepted packet. During one
// call the filter sees every packet at most once.
tPacket* tPacketFifo_AwaitFirst(uint64_t id, tPacketFilter filter, const void* ref, uint32_t timeoutMs);

// Removes and frees every packet the filter accepts; the rest keep their
// order. Returns how many were removed (0 for an unknown id).
size_t tPacketFifo_DrainPackets(uint64_t id, tPacketFilter filter, const void* ref);

// Number of queued packets (0 for an unknown id).
size_t tPacketFifo_GetLength(uint64_t id);
