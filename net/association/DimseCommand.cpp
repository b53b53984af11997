// DimseCommand: BuildCommand, one row of the table per command element.
#include "net/association/DimseCommand.h"

#include "dicom/DcmTag.h"
#include "dicom/Tags.h"

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
  Tag tag;
  std::string_view vr;
  std::variant<TextField, NumberField, OptionalNumberField> field;
  bool always; // written also when the text is empty
};

// In tag order, as the elements are written.
constexpr std::array ROWS = {
    Row{tag::AffectedSOPClassUID, "UI", &CommandFields::affectedSopClass, true},
    Row{tag::CommandField, "US", &CommandFields::commandField, true},
    Row{tag::MessageID, "US", &CommandFields::messageID, true},
    Row{tag::MoveDestination, "AE", &CommandFields::moveDestination, false},
    Row{tag::Priority, "US", &CommandFields::priority, false},
    Row{tag::CommandDataSetType, "US", &CommandFields::dataSetType, true},
    Row{tag::AffectedSOPInstanceUID, "UI", &CommandFields::affectedSopInstance, false},
    Row{tag::MoveOriginatorApplicationEntityTitle, "AE", &CommandFields::moveOriginatorAET, false},
    Row{tag::MoveOriginatorMessageID, "US", &CommandFields::moveOriginatorMessageID, false},
};

// The row's element for these fields; null when it is left out.
std::unique_ptr<DcmTag> ElementOf(const Row &row, const CommandFields &fields) {
  if (const auto *text = std::get_if<TextField>(&row.field)) {
    const std::string_view value = fields.**text;
    return row.always || !value.empty() ? DcmTag::FromText(row.tag, value, row.vr) : nullptr;
  }
  if (const auto *number = std::get_if<NumberField>(&row.field)) {
    return DcmTag::FromUS(row.tag, fields.**number, row.vr);
  }
  const std::optional<std::uint16_t> &value = fields.*std::get<OptionalNumberField>(row.field);
  return value ? DcmTag::FromUS(row.tag, *value, row.vr) : nullptr;
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
  command.Append(DcmTag::FromUL(tag::CommandGroupLength, groupLength, "UL"));
  for (auto &element : elements) {
    command.Append(std::move(element));
  }
}

} // namespace fw::dimse
