#include "net/pdu/AAssociateRJ.h"

#include "net/link/Buffer.h"

#include <string_view>

namespace fw {
namespace {

std::string Named(std::string_view words, std::uint8_t value) {
  return std::string(words) + " (" + std::to_string(value) + ")";
}

std::string_view ResultWords(std::uint8_t result) {
  switch (result) {
  case 1:
    return "rejected-permanent";
  case 2:
    return "rejected-transient";
  default:
    return "unknown";
  }
}

std::string_view SourceWords(std::uint8_t source) {
  switch (source) {
  case 1:
    return "DICOM UL service-user";
  case 2:
    return "DICOM UL service-provider (ACSE related function)";
  case 3:
    return "DICOM UL service-provider (presentation related function)";
  default:
    return "unknown";
  }
}

// The reasons are numbered per source.
std::string_view ReasonWords(std::uint8_t source, std::uint8_t reason) {
  switch (source) {
  case 1:
    switch (reason) {
    case 1:
      return "no-reason-given";
    case 2:
      return "application-context-name-not-supported";
    case 3:
      return "calling-AE-title-not-recognized";
    case 7:
      return "called-AE-title-not-recognized";
    default:
      return reason >= 4 && reason <= 10 ? "reserved" : "unknown";
    }
  case 2:
    switch (reason) {
    case 1:
      return "no-reason-given";
    case 2:
      return "protocol-version-not-supported";
    default:
      return "unknown";
    }
  case 3:
    switch (reason) {
    case 1:
      return "temporary-congestion";
    case 2:
      return "local-limit-exceeded";
    default:
      return reason == 0 || (reason >= 3 && reason <= 7) ? "reserved" : "unknown";
    }
  default:
    return "unknown";
  }
}

} // namespace

std::string RejectText(std::uint8_t result, std::uint8_t source, std::uint8_t reason) {
  return "result: " + Named(ResultWords(result), result) + ", source: " + Named(SourceWords(source), source) +
         ", reason: " + Named(ReasonWords(source, reason), reason);
}

bool AAssociateRJ::Read(Buffer &link) { return link.ReadByte(ItemType) && ReadDynamic(link); }

bool AAssociateRJ::ReadDynamic(Buffer &link) {
  return link.ReadByte(Reserved1) && link.ReadUInt32(Length) && link.ReadByte(Reserved2) && link.ReadByte(Result) &&
         link.ReadByte(Source) && link.ReadByte(Reason);
}

} // namespace fw
