// DimseCommand: the command set of a DIMSE request, built from one table of
// the command's fields.
//
// A command set is encoded in implicit VR little endian, its elements in tag
// order. (0000,0000) Command Group Length comes first and counts the bytes of
// every element after it (an 8-byte header and the value). Texts of odd
// length get one fill byte: a zero after a UID, a space after an AE title.
//
//   tag          VR  field of CommandFields     written
//   (0000,0000)  UL  -                          always (the group length)
//   (0000,0002)  UI  affectedSopClass           always
//   (0000,0100)  US  commandField               always
//   (0000,0110)  US  messageID                  always
//   (0000,0600)  AE  moveDestination            when not empty
//   (0000,0700)  US  priority                   when set
//   (0000,0800)  US  dataSetType                always
//   (0000,1000)  UI  affectedSopInstance        when not empty
//   (0000,1030)  AE  moveOriginatorAET          when not empty
//   (0000,1031)  US  moveOriginatorMessageID    when set
#pragma once

#include "dicom/DcmObj.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace fw::dimse {

// Values of Priority and Command Data Set Type.
inline constexpr std::uint16_t PRIORITY_MEDIUM = 0x0000;
inline constexpr std::uint16_t DATA_SET_PRESENT = 0x0102;
inline constexpr std::uint16_t NO_DATA_SET = 0x0101;

// The fields of one request; those marked "when ..." in the table above are
// left out unless given.
struct CommandFields {
  std::string_view affectedSopClass;
  std::uint16_t commandField = 0;
  std::uint16_t messageID = 0;
  std::string_view moveDestination;
  std::optional<std::uint16_t> priority;
  std::uint16_t dataSetType = NO_DATA_SET;
  std::string_view affectedSopInstance;
  std::string_view moveOriginatorAET;
  std::optional<std::uint16_t> moveOriginatorMessageID;
};

// Appends the command set of the table above to command (pass an empty one).
void BuildCommand(DcmObj &command, const CommandFields &fields);

} // namespace fw::dimse
