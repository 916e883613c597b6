// The SDK's trace switches. A trace line prints to standard output only when
// tQuillnodeDebuggingEnable is set and its area's bit is in the level mask.
// The SDK reads them and never writes them; the Updater tool leaves them off.
#pragma once

#include <stdint.h>

extern bool tQuillnodeDebuggingEnable;
extern uint32_t tQuillnodeDebuggingLevel;

// Area bits of tQuillnodeDebuggingLevel.
#define tDEBUG_LINK 0x1u        // link table, creation, thread state
#define tDEBUG_PACKETS 0x2u     // every packet the link threads pass
#define tDEBUG_BROKER 0x4u      // connection-sharing broker
#define tDEBUG_MULTICAST 0x8u   // multicast sockets
#define tDEBUG_DISCOVERY 0x10u  // network discovery
#define tDEBUG_CLIENT 0x20u     // broker client stream
#define tDEBUG_MODULE 0x40u     // module connection, network addressing
#define tDEBUG_BEACON 0x200u    // beacon discovery
#define tDEBUG_USB 0x400u       // USB transport

// True when trace lines of `area` are to be printed.
bool tDebug_On(uint32_t area);
// printf-style trace line for `area`; flushes standard output after it.
void tDebug_Print(uint32_t area, const char* format, ...) __attribute__((format(printf, 2, 3)));
