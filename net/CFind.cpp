// CFind: the C-FIND-RQ command set, and the request and response exchange.
#include "net/CFind.h"

#include "dicom/DcmTag.h"

namespace fw {

namespace {

constexpr std::uint16_t COMMAND_GROUP = 0x0000;
constexpr std::uint16_t PRIORITY_MEDIUM = 0x0000;
constexpr std::uint16_t DATA_SET_PRESENT = 0x0102;
constexpr std::uint16_t NO_DATA_SET = 0x0101;

// Bytes an element adds to a command group length in implicit VR.
std::uint32_t EncodedSize(const DcmTag &t) { return 8 + t.length; }

} // namespace

void CFind::BuildRQ(DcmObj &command, std::string_view sopClassUID, std::uint16_t messageID) {
  auto sopClass = DcmTag::FromText(COMMAND_GROUP, 0x0002, sopClassUID, "UI");
  auto field = DcmTag::FromUS(COMMAND_GROUP, 0x0100, C_FIND_RQ, "US");
  auto id = DcmTag::FromUS(COMMAND_GROUP, 0x0110, messageID, "US");
  auto priority = DcmTag::FromUS(COMMAND_GROUP, 0x0700, PRIORITY_MEDIUM, "US");
  auto dataSetType = DcmTag::FromUS(COMMAND_GROUP, 0x0800, DATA_SET_PRESENT, "US");
  const std::uint32_t groupLength = EncodedSize(*sopClass) + EncodedSize(*field) + EncodedSize(*id) +
                                    EncodedSize(*priority) + EncodedSize(*dataSetType);
  command.Append(DcmTag::FromUL(COMMAND_GROUP, 0x0000, groupLength, "UL"));
  command.Append(std::move(sopClass));
  command.Append(std::move(field));
  command.Append(std::move(id));
  command.Append(std::move(priority));
  command.Append(std::move(dataSetType));
}

} // namespace fw
