#include "net/pdu/IdCounter.h"

namespace fw {
namespace {
std::uint32_t g_counter = 1;

void MakeOdd() {
  if (g_counter % 2 == 0) {
    ++g_counter;
  }
}
} // namespace

void IdCounter::Reset(std::uint32_t value) { g_counter = value; }

std::uint32_t IdCounter::Value() { return g_counter; }

std::uint8_t IdCounter::ContextID() {
  MakeOdd();
  return static_cast<std::uint8_t>(g_counter++ & 0xFF);
}

std::uint16_t IdCounter::MessageID() {
  MakeOdd();
  return static_cast<std::uint16_t>(g_counter++ & 0xFFFF);
}

std::uint8_t IdCounter::AcceptID() { return static_cast<std::uint8_t>(g_counter++ & 0xFF); }

} // namespace fw
