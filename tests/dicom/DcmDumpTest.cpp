// The text dump: the element lines of each VR rendering, prefixes by depth,
// command elements, and that dumping changes nothing.
#include "dicom/DcmDump.h"

#include "dicom/Uids.h"
#include "tests/dicom/EncodingTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace fw {
namespace {

using test::Bytes;
using test::Encode;
using test::SetSyntax;

struct LineCase {
  const char *name;
  std::function<std::unique_ptr<DcmTag>()> make;
  int depth;
  std::string expected;
};

void PrintTo(const LineCase &c, std::ostream *os) { *os << c.name; }

std::unique_ptr<DcmTag> Raw(std::uint16_t g, std::uint16_t e, Bytes value, std::string_view vr) {
  return DcmTag::FromBytes(g, e, static_cast<std::uint32_t>(value.size()), value.data(), vr);
}

const LineCase LINES[] = {
    {"KnownUIDGetsItsName", [] { return DcmTag::FromText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7"); }, 0,
     "(0008,0016), 26, UI, SOP Class UID: 1.2.840.10008.5.1.4.1.1.7 (Secondary Capture Image Storage) "},
    {"UnknownUIDNoName", [] { return DcmTag::FromText(0x0008, 0x0018, "1.2.3"); }, 0,
     "(0008,0018),  6, UI, SOP Instance UID: 1.2.3"},
    {"USAsNumber",
     [] {
       return Raw(0x0028, 0x0010, {0x00, 0x02}, "US");
     },
     0, "(0028,0010),  2, US, Rows: 512"},
    {"SSNotSignExtended",
     [] {
       return Raw(0x0028, 0x0106, {0xFF, 0xFF}, "SS");
     },
     0, "(0028,0106),  2, SS, Smallest Image Pixel Value US or: 65535"},
    {"ULAllOnesIsMinusOne",
     [] {
       return Raw(0x0028, 0x0000, {0xFF, 0xFF, 0xFF, 0xFF}, "UL");
     },
     0, "(0028,0000),  4, UL, Group Length: -1"},
    {"LongNumberIsVector",
     [] {
       return Raw(0x0018, 0x1310, {0, 1, 0, 2, 0, 3, 0, 4}, "US");
     },
     0, "(0018,1310),  8, US, Acquisition Matrix: Vector!!"},
    {"FloatOfFourBytes",
     [] {
       return Raw(0x0018, 0x9089, {0x00, 0x00, 0xC0, 0x3F}, "FL");
     },
     0, "(0018,9089),  4, FL, Diffusion Gradient Orientation:  1.50"},
    {"TextWithFillByte", [] { return DcmTag::FromText(0x0010, 0x0010, "Doe"); }, 0,
     "(0010,0010),  4, PN, Patient\x92s Name: Doe "},
    {"UndefinedSequence", [] { return DcmTag::FromBytes(0x0008, 0x1140, UNDEFINED_LENGTH, nullptr, "SQ"); }, 0,
     "(0008,1140), -1, SQ, Referenced Image Sequence: "},
    {"ItemWithoutVR",
     [] {
       auto t = std::make_unique<DcmTag>();
       t->group = 0xFFFE;
       t->element = 0xE000;
       t->length = UNDEFINED_LENGTH;
       return t;
     },
     0, "(FFFE,E000), -1, , Item: "},
    {"PrivateUnidentified", [] { return DcmTag::FromText(0x0009, 0x0010, "ACME", "LO"); }, 0,
     "(0009,0010),  4, LO, *** Unidentified ***: ACME"},
    {"DepthOneNoPrefix", [] { return DcmTag::FromText(0x0008, 0x0060, "OT"); }, 1, "(0008,0060),  2, CS, Modality: OT"},
    {"DepthTwoPrefix", [] { return DcmTag::FromText(0x0008, 0x0060, "OT"); }, 2,
     "...(0008,0060),  2, CS, Modality: OT"},
    {"DepthThreePrefix", [] { return DcmTag::FromText(0x0008, 0x0060, "OT"); }, 3,
     "......(0008,0060),  2, CS, Modality: OT"},
    {"LongValueNotShown", [] { return DcmTag::FromText(0x0008, 0x0081, std::string(300, 'x'), "ST"); }, 0,
     "(0008,0081), 300, ST, Institution Address: "},
    {"EmptyValue", [] { return DcmTag::FromText(0x0008, 0x0090, ""); }, 0,
     "(0008,0090),  0, PN, Referring Physician\x92s Name: "},
};

class DumpLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(DumpLineTest, FormatsTheElement) {
  const auto t = GetParam().make();
  EXPECT_EQ(FormatElementLine(*t, GetParam().depth), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Dump, DumpLineTest, ::testing::ValuesIn(LINES),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(DumpTest, NestedContainersAndCommandElements) {
  DcmObj item;
  item.PutText(0x0008, 0x1150, "1.2");
  DcmObj sequence;
  sequence.InsertSequence(0xFFFE, 0xE000, item);
  DcmObj c;
  SetSyntax(c, IMPLICIT_VR_LITTLE_ENDIAN);
  c.Append(DcmTag::FromUS(0x0000, 0x0100, 0x0001));
  c.ElementAt(0)->SetVR(""); // as read from explicit data
  c.InsertSequence(0x0008, 0x1140, sequence);
  Encode(c); // gives the nested headers their lengths

  std::vector<std::string> lines;
  Dump(c, lines, 0);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "(0000,0100),  2, US, Command Field: 1", "(0008,1140), 20, SQ, Referenced Image Sequence: ",
                       "(FFFE,E000), 12, , Item: ", "...(0008,1150),  4, UI, Referenced SOP Class UID: 1.2"}));
  // The dump changed nothing: the command element still has no VR, and the
  // encoding is the same.
  EXPECT_EQ(c.ElementAt(0)->VR(), "");
}

TEST(DumpTest, DumpingDoesNotChangeTheEncoding) {
  DcmObj c;
  SetSyntax(c, "1.2.840.10008.1.2.1");
  c.Append(DcmTag::FromUS(0x0000, 0x0100, 0x0001));
  c.ElementAt(0)->SetVR("");
  c.PutText(0x0010, 0x0010, "Doe");
  const Bytes before = Encode(c);
  std::vector<std::string> lines;
  Dump(c, lines, 0);
  EXPECT_EQ(Encode(c), before);
  EXPECT_EQ(lines.size(), 2u);
}

} // namespace
} // namespace fw
