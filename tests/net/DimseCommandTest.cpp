// The command sets of DIMSE requests, byte for byte, as BuildCommand writes
// them for each combination of fields.
#include "net/association/DimseCommand.h"
#include "dicom/BufData.h"
#include "dicom/DcmCodec.h"
#include "tests/net/FindTestSupport.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

namespace fw {
namespace {

using test::Elem;
using test::Le16;
using test::Le32;

std::string Encode(DcmObj &c) {
  BufData stream(false);
  WriteObj(stream, c);
  return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

// The fields every request has; each case adds its own.
dimse::CommandFields Request(std::string_view sopClass, std::uint16_t field, std::uint16_t messageID) {
  dimse::CommandFields fields;
  fields.affectedSopClass = sopClass;
  fields.commandField = field;
  fields.messageID = messageID;
  return fields;
}

struct CommandCase {
  const char *name;
  dimse::CommandFields fields;
  std::string elements; // after the group length
};
void PrintTo(const CommandCase &c, std::ostream *out) { *out << c.name; }

CommandCase Store(const char *name, std::string_view sopClass, std::string_view instance, std::string elements) {
  dimse::CommandFields fields = Request(sopClass, 0x0001, 9);
  fields.priority = dimse::PRIORITY_MEDIUM;
  fields.dataSetType = dimse::DATA_SET_PRESENT;
  fields.affectedSopInstance = instance;
  return {name, fields, std::move(elements)};
}

// A C-STORE on behalf of a C-MOVE: every optional field at once.
CommandCase StoreForMove() {
  CommandCase c = Store("MoveFieldsTakeTheirPlaces", "1.2.34", "1.2.345",
                        Elem(0, 0x0002, "1.2.34") + Elem(0, 0x0100, Le16(0x0001)) + Elem(0, 0x0110, Le16(9)) +
                            Elem(0, 0x0600, "ARCHIVE ") + Elem(0, 0x0700, Le16(0)) + Elem(0, 0x0800, Le16(0x0102)) +
                            Elem(0, 0x1000, std::string("1.2.345") + '\0') + Elem(0, 0x1030, "MOVER1") +
                            Elem(0, 0x1031, Le16(0x1234)));
  c.fields.moveDestination = "ARCHIVE"; // odd: a space follows, where a UID gets a zero
  c.fields.moveOriginatorAET = "MOVER1";
  c.fields.moveOriginatorMessageID = 0x1234;
  return c;
}

CommandCase FindWithoutClass() {
  dimse::CommandFields fields = Request("", 0x0020, 3);
  fields.priority = 2;
  fields.dataSetType = dimse::DATA_SET_PRESENT;
  return {"EmptyClassIsStillWritten", fields,
          Elem(0, 0x0002, "") + Elem(0, 0x0100, Le16(0x0020)) + Elem(0, 0x0110, Le16(3)) + Elem(0, 0x0700, Le16(2)) +
              Elem(0, 0x0800, Le16(0x0102))};
}

class DimseCommandTest : public testing::TestWithParam<CommandCase> {};

TEST_P(DimseCommandTest, ElementsInTagOrderAfterTheirGroupLength) {
  const CommandCase &c = GetParam();
  DcmObj command;
  dimse::BuildCommand(command, c.fields);
  EXPECT_EQ(Encode(command), Elem(0, 0, Le32(static_cast<std::uint32_t>(c.elements.size()))) + c.elements);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, DimseCommandTest,
    testing::Values(CommandCase{"EchoWithoutPriority", Request("1.2.840.10008.1.1", 0x0030, 7),
                                Elem(0, 0x0002, std::string("1.2.840.10008.1.1") + '\0') +
                                    Elem(0, 0x0100, Le16(0x0030)) + Elem(0, 0x0110, Le16(7)) +
                                    Elem(0, 0x0800, Le16(0x0101))},
                    Store("StoreWithInstance", "1.2.3", "1.2.3.4",
                          Elem(0, 0x0002, std::string("1.2.3") + '\0') + Elem(0, 0x0100, Le16(0x0001)) +
                              Elem(0, 0x0110, Le16(9)) + Elem(0, 0x0700, Le16(0)) + Elem(0, 0x0800, Le16(0x0102)) +
                              Elem(0, 0x1000, std::string("1.2.3.4") + '\0')),
                    Store("StoreWithoutInstance", "1.2.3", "",
                          Elem(0, 0x0002, std::string("1.2.3") + '\0') + Elem(0, 0x0100, Le16(0x0001)) +
                              Elem(0, 0x0110, Le16(9)) + Elem(0, 0x0700, Le16(0)) + Elem(0, 0x0800, Le16(0x0102))),
                    FindWithoutClass(), StoreForMove()),
    [](const testing::TestParamInfo<CommandCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace fw
