// DcmTag: construction (VR defaults, "UN" to "SQ", padding), the typed
// accessors and NthField.
#include "dicom/DcmTag.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace fw {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

enum class Make { Bytes, Text, US, UL };

struct ConstructCase {
  const char *name;
  Make make;
  std::uint16_t group;
  std::uint16_t element;
  std::string value;    // bytes or text
  std::uint32_t number; // FromUS/FromUL value, or the FromBytes length
  const char *vr;       // given VR, "" for the dictionary's
  const char *expectedVR;
  std::uint32_t expectedLength;
  Bytes expectedData;
};

// ctest shows the case by its name.
void PrintTo(const ConstructCase &c, std::ostream *os) { *os << c.name; }

class ConstructTest : public ::testing::TestWithParam<ConstructCase> {};

TEST_P(ConstructTest, SetsVRLengthAndPaddedValue) {
  const ConstructCase &c = GetParam();
  std::unique_ptr<DcmTag> t;
  switch (c.make) {
  case Make::Bytes:
    t = DcmTag::FromBytes(c.group, c.element, c.number, c.value.data(), c.vr);
    break;
  case Make::Text:
    t = DcmTag::FromText(c.group, c.element, c.value, c.vr);
    break;
  case Make::US:
    t = DcmTag::FromUS(c.group, c.element, static_cast<std::uint16_t>(c.number), c.vr);
    break;
  case Make::UL:
    t = DcmTag::FromUL(c.group, c.element, c.number, c.vr);
    break;
  }
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->group, c.group);
  EXPECT_EQ(t->element, c.element);
  EXPECT_EQ(t->VR(), c.expectedVR);
  EXPECT_EQ(t->vr[2], 0);
  EXPECT_EQ(t->vr[3], 0);
  EXPECT_EQ(t->length, c.expectedLength);
  EXPECT_EQ(t->data, c.expectedData);
}

const std::string NUL(1, '\0');

INSTANTIATE_TEST_SUITE_P(
    Cases, ConstructTest,
    ::testing::Values(
        ConstructCase{"EmptyTextHasNoValue", Make::Text, 0x0010, 0x0010, "", 0, "", "PN", 0, {}},
        ConstructCase{"UidPaddedWithZero", Make::Text, 0x0020, 0x000D, "1.2.3", 0, "", "UI", 6, B("1.2.3" + NUL)},
        ConstructCase{"NamePaddedWithSpace", Make::Text, 0x0010, 0x0010, "Doe", 0, "", "PN", 4, B("Doe ")},
        ConstructCase{"DecimalPaddedWithSpace", Make::Text, 0x0018, 0x0050, "1.5", 0, "", "DS", 4, B("1.5 ")},
        ConstructCase{"EvenTextUnchanged", Make::Text, 0x0008, 0x0060, "ES", 0, "", "CS", 2, B("ES")},
        ConstructCase{"GivenVRWins", Make::Text, 0x0009, 0x0010, "ABC", 0, "LO", "LO", 4, B("ABC ")},
        ConstructCase{"ObPaddedWithZero", Make::Bytes, 0x0009, 0x1002, "\x01\x02\x03", 3, "OB", "OB", 4,
                      Bytes{1, 2, 3, 0}},
        ConstructCase{"UnknownPaddedWithZero", Make::Bytes, 0x0009, 0x1002, "\x01\x02\x03", 3, "", "UN", 4,
                      Bytes{1, 2, 3, 0}},
        ConstructCase{"FragmentItemPaddedWithZero", Make::Bytes, 0xFFFE, 0xE000, "\xFF\xD8\xFF", 3, "", "DL", 4,
                      Bytes{0xFF, 0xD8, 0xFF, 0}},
        ConstructCase{"UrPaddedWithSpace", Make::Bytes, 0x0009, 0x1002, "abc", 3, "UR", "UR", 4, B("abc ")},
        ConstructCase{"EncapsulatedPixelDataKeepsOB",
                      Make::Bytes,
                      0x7FE0,
                      0x0010,
                      "",
                      UNDEFINED_LENGTH,
                      "OB",
                      "OB",
                      UNDEFINED_LENGTH,
                      {}},
        ConstructCase{"UnknownUndefinedBecomesSQ",
                      Make::Bytes,
                      0x0009,
                      0x1010,
                      "",
                      UNDEFINED_LENGTH,
                      "",
                      "SQ",
                      UNDEFINED_LENGTH,
                      {}},
        ConstructCase{"GivenUNUndefinedStaysUN",
                      Make::Bytes,
                      0x0009,
                      0x1010,
                      "",
                      UNDEFINED_LENGTH,
                      "UN",
                      "UN",
                      UNDEFINED_LENGTH,
                      {}},
        ConstructCase{"KnownUndefinedKeepsDictionaryVR",
                      Make::Bytes,
                      0x0008,
                      0x1140,
                      "",
                      UNDEFINED_LENGTH,
                      "",
                      "SQ",
                      UNDEFINED_LENGTH,
                      {}},
        ConstructCase{"ZeroLengthBytes", Make::Bytes, 0x0008, 0x0016, "ignored", 0, "", "UI", 0, {}},
        ConstructCase{"UsLittleEndian", Make::US, 0x0028, 0x0010, "", 0x0201, "", "US", 2, Bytes{0x01, 0x02}},
        ConstructCase{"UlLittleEndian", Make::UL, 0x0002, 0x0000, "", 0x01020304, "", "UL", 4,
                      Bytes{0x04, 0x03, 0x02, 0x01}},
        ConstructCase{"UsWithGivenVR", Make::US, 0x0009, 0x1000, "", 7, "SS", "SS", 2, Bytes{7, 0}}),
    [](const ::testing::TestParamInfo<ConstructCase> &info) { return std::string(info.param.name); });

TEST(DcmTagTest, EmptyConstructorHasNothing) {
  const DcmTag t;
  EXPECT_EQ(t.group, 0);
  EXPECT_EQ(t.element, 0);
  EXPECT_EQ(t.VR(), "");
  EXPECT_EQ(t.length, 0u);
  EXPECT_FALSE(t.HasValue());
  EXPECT_TRUE(t.IsElement());
}

TEST(DcmTagTest, FromBytesCopiesTheCallersBuffer) {
  std::uint8_t buffer[4] = {1, 2, 3, 4};
  const auto t = DcmTag::FromBytes(0x0009, 0x1000, 4, buffer, "OB");
  buffer[0] = 9;
  EXPECT_EQ(t->data, (Bytes{1, 2, 3, 4}));
}

DcmTag WithValue(const Bytes &bytes) {
  DcmTag t;
  t.SetValue(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  return t;
}

TEST(DcmTagTest, GetUS) {
  EXPECT_EQ(DcmTag().GetUS(), 0);
  EXPECT_EQ(WithValue({0x01, 0x02}).GetUS(), 0x0201);
  EXPECT_EQ(WithValue({0x01, 0x02, 0x03, 0x04}).GetUS(), 0x0201);
  EXPECT_EQ(WithValue({0x05}).GetUS(), 0x0005); // a short value read from a stream
}

struct TextCase {
  const char *name;
  std::string value;
  std::string expected;
};

// ctest shows the case by its name.
void PrintTo(const TextCase &c, std::ostream *os) { *os << c.name; }

class GetTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(GetTextTest, TrimsAndStopsAtZero) { EXPECT_EQ(WithValue(B(GetParam().value)).GetText(), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Cases, GetTextTest,
                         ::testing::Values(TextCase{"Empty", "", ""}, TextCase{"SurroundingSpaces", "  AB  ", "AB"},
                                           TextCase{"StopsAtZero", std::string("AB\0CD", 5), "AB"},
                                           TextCase{"ControlCharactersTrimmed", "\t\r\nAB\x01\x1F", "AB"},
                                           TextCase{"InnerSpacesKept", " A B ", "A B"}, TextCase{"OnlyFill", "   ", ""},
                                           TextCase{"HighBytesKept", "\xD1\xB5", "\xD1\xB5"}),
                         [](const ::testing::TestParamInfo<TextCase> &info) { return std::string(info.param.name); });

struct NumberCase {
  const char *name;
  std::string value;
  int index;
  double expected;
};

// ctest shows the case by its name.
void PrintTo(const NumberCase &c, std::ostream *os) { *os << c.name; }

class GetNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(GetNumberTest, ParsesComponent) {
  EXPECT_DOUBLE_EQ(WithValue(B(GetParam().value)).GetNumber(GetParam().index), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, GetNumberTest,
                         ::testing::Values(NumberCase{"First", "0.5\\2.25", 0, 0.5},
                                           NumberCase{"Second", "0.5\\2.25", 1, 2.25},
                                           NumberCase{"PastTheLast", "0.5\\2.25", 2, 0},
                                           NumberCase{"NegativeIndex", "0.5\\2.25", -1, 0},
                                           NumberCase{"SpacesAndExponent", " -1.5E2 \\ 3", 0, -150},
                                           NumberCase{"LeadingSpaceSkipped", "1\\ 7.125", 1, 7.125},
                                           NumberCase{"TrailingPadding", "0.3333333333333 ", 0, 0.3333333333333},
                                           NumberCase{"StopsAtZeroByte", std::string("4\0\\5", 4), 1, 0},
                                           NumberCase{"NotANumber", "abc\\1", 0, 0}, NumberCase{"Empty", "", 0, 0}),
                         [](const ::testing::TestParamInfo<NumberCase> &info) { return std::string(info.param.name); });

TEST(DcmTagTest, GetFloat) {
  EXPECT_FLOAT_EQ(WithValue(B("  3.25 ")).GetFloat(), 3.25f);
  EXPECT_FLOAT_EQ(WithValue(B("1.5\\2")).GetFloat(), 1.5f);
  EXPECT_FLOAT_EQ(WithValue(B("+2e-1")).GetFloat(), 0.2f);
  EXPECT_FLOAT_EQ(WithValue(B("x1")).GetFloat(), 0.0f);
  EXPECT_FLOAT_EQ(DcmTag().GetFloat(), 0.0f);
}

// A locale whose decimal separator is a comma: an installed one, or one
// compiled into dir with localedef (found through LOCPATH). Empty when none.
std::string CommaLocale(const test::TempDir &dir) {
  for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr) {
      return name;
    }
  }
  const std::string source = dir.folder() + "comma";
  std::ofstream(source) << "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"<U002E>\"\ngrouping 3;3\n"
                           "END LC_NUMERIC\n";
  const std::string command =
      "localedef -c -i '" + source + "' -f UTF-8 '" + dir.folder() + "comma.UTF-8' >/dev/null 2>&1";
  if (std::system(command.c_str()) == -1) {
    return {};
  }
  ::setenv("LOCPATH", dir.path().c_str(), 1);
  if (std::setlocale(LC_NUMERIC, "comma.UTF-8") == nullptr) {
    return {};
  }
  return "comma.UTF-8";
}

// The application runs under the user's locale; a decimal comma must not
// change how DICOM decimal strings read.
TEST(DcmTagTest, NumbersIgnoreTheProcessLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  const test::TempDir dir;
  if (CommaLocale(dir).empty()) {
    GTEST_SKIP() << "no locale with a decimal comma could be set";
  }
  ASSERT_EQ(std::strtod("2.5", nullptr), 2.0) << "the locale in force reads a comma";
  const float f = WithValue(B("2.5")).GetFloat();
  const double d = WithValue(B("0\\7.75")).GetNumber(1);
  std::setlocale(LC_NUMERIC, saved.c_str());
  ::unsetenv("LOCPATH");
  EXPECT_FLOAT_EQ(f, 2.5f);
  EXPECT_DOUBLE_EQ(d, 7.75);
}

struct FieldCase {
  const char *name;
  std::string text;
  std::string separator;
  int n;
  std::string expected;
};

// ctest shows the case by its name.
void PrintTo(const FieldCase &c, std::ostream *os) { *os << c.name; }

class NthFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(NthFieldTest, SelectsField) {
  const FieldCase &c = GetParam();
  EXPECT_EQ(NthField(c.text, c.separator, c.n), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NthFieldTest,
    ::testing::Values(FieldCase{"First", "1\\2\\3", "\\", 1, "1"}, FieldCase{"Middle", "1\\2\\3", "\\", 2, "2"},
                      FieldCase{"Last", "1\\2\\3", "\\", 3, "3"}, FieldCase{"PastTheLast", "1\\2\\3", "\\", 4, ""},
                      FieldCase{"Zero", "1\\2\\3", "\\", 0, ""}, FieldCase{"NoSeparator", "abc", "\\", 1, "abc"},
                      FieldCase{"EmptyFields", "\\\\x", "\\", 2, ""},
                      FieldCase{"TrailingSeparator", "a\\", "\\", 2, ""},
                      FieldCase{"LongSeparator", "a::b::c", "::", 3, "c"},
                      FieldCase{"EmptySeparator", "abc", "", 1, ""}),
    [](const ::testing::TestParamInfo<FieldCase> &info) { return std::string(info.param.name); });

TEST(DcmTagTest, VRHelpers) {
  DcmTag t;
  t.SetVR("OB");
  EXPECT_TRUE(t.HasVR("OB"));
  EXPECT_EQ(t.vr, (std::array<char, 4>{'O', 'B', 0, 0}));
  t.SetVR("");
  EXPECT_EQ(t.vr, (std::array<char, 4>{}));
  EXPECT_EQ(t.VR(), "");
}

} // namespace
} // namespace fw
