// PS3.8 9.3.2.2 presentation context IDs; PS3.7 9.1 message IDs
// IdCounter: the process-wide source of presentation context IDs and DIMSE
// message IDs, a 32-bit counter that is 1 at program start.
//
//   draw          used for                                  steps
//   ContextID     each proposed PresentationContext         make odd; low 8 bits; +1
//   MessageID     each DIMSE request                        make odd; low 16 bits; +1
//   AcceptID      each PresentationContextAccept read       low 8 bits; +1
//
// An association resets it to 1 before proposing its context, so it always
// proposes context ID 1; the accept draws then advance it, and the first
// message ID after an accept with one item is 3. Used from the user interface
// thread only, like the associations themselves.
#pragma once

#include <cstdint>

namespace fw {

class IdCounter {
public:
  static void Reset(std::uint32_t value = 1);
  static std::uint32_t Value();

  static std::uint8_t ContextID();
  static std::uint16_t MessageID();
  // The provisional ID of an accept item; the one read from the wire replaces it.
  static std::uint8_t AcceptID();
};

} // namespace fw
