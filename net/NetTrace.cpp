#include "net/NetTrace.h"

#include <atomic>

namespace fw {
namespace {
std::atomic<int> g_level{0};
std::atomic<BlockTraceHook> g_hook{nullptr};
} // namespace

int TraceLevel() { return g_level.load(std::memory_order_relaxed); }
void SetTraceLevel(int level) { g_level.store(level, std::memory_order_relaxed); }

void SetBlockTraceHook(BlockTraceHook hook) { g_hook.store(hook); }

void TraceBlock(const std::uint8_t *bytes, int count, bool outgoing) {
  if (TraceLevel() < 3) {
    return;
  }
  if (BlockTraceHook hook = g_hook.load()) {
    hook(bytes, count, outgoing);
  }
}

} // namespace fw
