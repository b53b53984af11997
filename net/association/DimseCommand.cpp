// DimseCommand: BuildCommand, one row of the table per command element.
#include "net/association/DimseCommand.h"

#include "dicom/DcmTag.h"

#include <array>
#include <memory>
#include <variant>
#include <vector>

namespace fw::dimse {

namespace {

using TextField = std::string_view CommandFields::*;
using NumberField = std::uint16_t CommandFields::*;
using OptionalNumberField = std::optional<std::uint16_t> CommandFields::*;

struct Row {
  std::uint16_t element;
  std::string_view vr;
  std::variant<TextField, NumberField, OptionalNumberField> field;
  bool always; // written also when the text is empty
};

// In tag order, as the elements are written.
constexpr std::array ROWS = {
    Row{AFFECTED_SOP_CLASS_UID, "UI", &CommandFields::affectedSopClass, true},
    Row{COMMAND_FIELD, "US", &CommandFields::commandField, true},
    Row{MESSAGE_ID, "US", &CommandFields::messageID, true},
    Row{MOVE_DESTINATION, "AE", &CommandFields::moveDestination, false},
    Row{PRIORITY, "US", &CommandFields::priority, false},
    Row{DATA_SET_TYPE, "US", &CommandFields::dataSetType, true},
    Row{AFFECTED_SOP_INSTANCE_UID, "UI", &CommandFields::affectedSopInstance, false},
    Row{MOVE_ORIGINATOR_AET, "AE", &CommandFields::moveOriginatorAET, false},
    Row{MOVE_ORIGINATOR_MESSAGE_ID, "US", &CommandFields::moveOriginatorMessageID, false},
};

// The row's element for these fields; null when it is left out.
std::unique_ptr<DcmTag> ElementOf(const Row &row, const CommandFields &fields) {
  if (const auto *text = std::get_if<TextField>(&row.field)) {
    const std::string_view value = fields.**text;
    return row.always || !value.empty() ? DcmTag::FromText(COMMAND_GROUP, row.element, value, row.vr) : nullptr;
  }
  if (const auto *number = std::get_if<NumberField>(&row.field)) {
    return DcmTag::FromUS(COMMAND_GROUP, row.element, fields.**number, row.vr);
  }
  const std::optional<std::uint16_t> &value = fields.*std::get<OptionalNumberField>(row.field);
  return value ? DcmTag::FromUS(COMMAND_GROUP, row.element, *value, row.vr) : nullptr;
}

} // namespace

void BuildCommand(DcmObj &command, const CommandFields &fields) {
  std::vector<std::unique_ptr<DcmTag>> elements;
  elements.reserve(ROWS.size());
  std::uint32_t groupLength = 0;
  for (const Row &row : ROWS) {
    if (auto element = ElementOf(row, fields)) {
      groupLength += 8 + element->length;
      elements.push_back(std::move(element));
    }
  }
  command.Append(DcmTag::FromUL(COMMAND_GROUP, GROUP_LENGTH, groupLength, "UL"));
  for (auto &element : elements) {
    command.Append(std::move(element));
  }
}

} // namespace fw::dimse
