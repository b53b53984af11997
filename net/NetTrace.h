// The network trace seam: the process-wide trace level and the hook through
// which every block sent or received on a socket can be recorded.
//
// The level is 0 at start; at 0 nothing of the trace is produced. Socket
// reports each block with TraceBlock; the hook installed with
// SetBlockTraceHook is called for it only at level 3 or more.
#pragma once

#include <cstdint>

namespace fw {

int TraceLevel();
void SetTraceLevel(int level);

// count is the number of bytes, or -1 for a receive that failed.
using BlockTraceHook = void (*)(const std::uint8_t *bytes, int count, bool outgoing);

// nullptr removes the hook.
void SetBlockTraceHook(BlockTraceHook hook);

// Called by Socket after every successful send and every receive result.
void TraceBlock(const std::uint8_t *bytes, int count, bool outgoing);

} // namespace fw
