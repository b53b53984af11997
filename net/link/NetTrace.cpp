#include "net/link/NetTrace.h"

#include "base/Log.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace fw {
namespace {

constexpr int kShownBytes = 256;
constexpr const char *kMoreData = " [MORE DATA...]";

int LevelFromEnvironment() {
  const char *text = std::getenv("FRAMEWELL_TRACE_LEVEL");
  if (text == nullptr) {
    return 0;
  }
  char *end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || value < 0 || value > 1000) {
    return 0;
  }
  return static_cast<int>(value);
}

std::atomic<int> g_level{LevelFromEnvironment()};
std::atomic<BlockTraceHook> g_hook{&WriteTrace};

} // namespace

int TraceLevel() { return g_level.load(std::memory_order_relaxed); }
void SetTraceLevel(int level) { g_level.store(level, std::memory_order_relaxed); }

void SetBlockTraceHook(BlockTraceHook hook) { g_hook.store(hook != nullptr ? hook : &WriteTrace); }

void TraceBlock(const std::uint8_t *bytes, int count, bool outgoing) {
  if (TraceLevel() < 3) {
    return;
  }
  g_hook.load()(bytes, count, outgoing);
}

std::string FormatTraceRecord(const std::uint8_t *bytes, int count, bool outgoing) {
  const int shown = bytes != nullptr ? std::clamp(count, 0, kShownBytes) : 0;
  const bool more = count >= kShownBytes;
  std::string record;
  record.reserve(static_cast<std::size_t>(shown) * 4 + 64);
  char head[32];
  std::snprintf(head, sizeof(head), "%6d%s", count, outgoing ? " >> " : " << ");
  record += head;
  for (int i = 0; i < shown; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof(pair), "%02X ", bytes[i]);
    record += pair;
  }
  if (more) {
    record += kMoreData;
  }
  record += "\r\n";
  for (int i = 0; i < shown; ++i) {
    const std::uint8_t c = bytes[i];
    record += c < 32 || c > 122 ? '.' : static_cast<char>(c);
  }
  if (more) {
    record += kMoreData;
  }
  record += "\r\n\r\n";
  return record;
}

void WriteTrace(const std::uint8_t *bytes, int count, bool outgoing) {
  AppendLogRaw(FormatTraceRecord(bytes, count, outgoing));
}

} // namespace fw
