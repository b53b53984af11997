// The network trace: the process-wide trace level, the hex dump records of
// the blocks sent and received on a socket, and the seam that routes them.
//
//   level  output
//   0      nothing (the default)
//   1+     "Connected to: host:port" after each connection
//   2+     the informational lines of the association code, and message
//          listings for associations with DumpMessages set
//   3+     a hex dump record of every block sent or received
//
// The level is read from the environment variable FRAMEWELL_TRACE_LEVEL
// when the program starts (0 when unset or not a number). Socket reports
// each block with TraceBlock; at level 3 or more it goes to the hook, which
// is WriteTrace unless a test installed its own.
#pragma once

#include <cstdint>
#include <string>

namespace fw {

int TraceLevel();
void SetTraceLevel(int level);

// count is the number of bytes, or -1 for a receive that failed.
using BlockTraceHook = void (*)(const std::uint8_t *bytes, int count, bool outgoing);

// nullptr puts WriteTrace back.
void SetBlockTraceHook(BlockTraceHook hook);

// Called by Socket after every successful send and every receive result.
void TraceBlock(const std::uint8_t *bytes, int count, bool outgoing);

// The hex dump record of one block. At most 256 bytes are shown:
//
//   "%6d" count, " >> " (sent) or " << " (received), "XX " per byte,
//   " [MORE DATA...]" when count >= 256, CR LF,
//   the bytes as characters (below 32 or above 122: "."), the marker again,
//   CR LF CR LF
std::string FormatTraceRecord(const std::uint8_t *bytes, int count, bool outgoing);

// Appends the record to the log file directly, without time stamp or
// forwarding; nothing when no log file is set.
void WriteTrace(const std::uint8_t *bytes, int count, bool outgoing);

} // namespace fw
