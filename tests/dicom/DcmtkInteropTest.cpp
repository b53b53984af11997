// Interoperability with DCMTK, an independent toolkit: files written here in
// each uncompressed transfer syntax (sequences of both forms, native pixel
// data) and as JPEG Baseline (encapsulated pixel data) are read by dcmdump
// without warnings or errors and list the same elements (tag, VR, length,
// value); files that dump2dcm writes from small text dumps are read here with
// the same elements dcmdump lists for them.
#include "dicom/DcmFile.h"
#include "dicom/Uids.h"
#include "tests/dicom/EncodingTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fw {
namespace {

using test::SetSyntax;
using test::TempDir;

// One element as both toolkits list it.
struct Record {
  std::string tag; // "gggg,eeee", lower case
  std::string vr;  // empty for items and delimiters
  std::string length;
  std::string value;
  bool operator==(const Record &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Record &r) {
  return os << "(" << r.tag << ") " << r.vr << " #" << r.length << " [" << r.value << "]";
}

std::string FindTool(const std::string &name) {
  const char *path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "";
  dirs += ":/usr/bin:/bin";
  std::size_t at = 0;
  while (at <= dirs.size()) {
    std::size_t end = dirs.find(':', at);
    if (end == std::string::npos) {
      end = dirs.size();
    }
    const std::filesystem::path candidate = std::filesystem::path(dirs.substr(at, end - at)) / name;
    std::error_code error;
    if (!candidate.empty() && std::filesystem::is_regular_file(candidate, error)) {
      return candidate.string();
    }
    at = end + 1;
  }
  return {};
}

struct CommandResult {
  int status = -1;
  std::string output; // standard output and standard error
};

CommandResult RunCommand(const std::string &command) {
  CommandResult run;
  FILE *pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    return run;
  }
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
    run.output.append(buffer, got);
  }
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::vector<std::string> SplitLines(const std::string &text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      end = text.size();
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

std::string Trim(const std::string &s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) {
    return {};
  }
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// The data set part of `dcmdump -Un +L` output as records. The pseudo
// delimiters dcmdump shows after items and sequences of explicit length are
// not elements and are left out.
std::vector<Record> ParseDcmdump(const std::string &output) {
  std::vector<Record> records;
  bool inDataSet = false;
  for (const std::string &raw : SplitLines(output)) {
    if (raw.rfind("# Dicom-Data-Set", 0) == 0) {
      inDataSet = true;
      continue;
    }
    const std::string line = Trim(raw);
    if (!inDataSet || line.empty() || line[0] != '(' || line.find("for re-encod") != std::string::npos) {
      continue;
    }
    Record r;
    r.tag = line.substr(1, 9);
    r.vr = line.substr(12, 2);
    const std::size_t hash = line.rfind(" #");
    std::string value = Trim(line.substr(15, hash - 15));
    const std::string tail = Trim(line.substr(hash + 2));
    r.length = tail.substr(0, tail.find(','));
    if (value.size() >= 2 && value.front() == '[' && value.back() == ']') {
      value = value.substr(1, value.size() - 2);
    } else if (!value.empty() && value.front() == '(') {
      value.clear(); // "(no value available)", "(Sequence with ...)", "(Item ...)"
    }
    r.value = value;
    if (r.tag.rfind("fffe", 0) == 0) {
      r.vr.clear();
    }
    records.push_back(r);
  }
  return records;
}

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof(text), "%0*x", digits, value);
  return text;
}

// A value as dcmdump shows it.
std::string ShownValue(const DcmTag &t) {
  const auto &d = t.data;
  if (d.empty()) {
    return {};
  }
  const std::string vr(t.VR());
  std::string out;
  auto join = [&out](const std::string &part) { out += (out.empty() ? "" : "\\") + part; };
  if (vr == "US" || vr == "SS") {
    for (std::size_t i = 0; i + 1 < d.size(); i += 2) {
      const unsigned v = d[i] | d[i + 1] << 8;
      join(std::to_string(vr == "SS" ? static_cast<int>(static_cast<std::int16_t>(v)) : static_cast<int>(v)));
    }
  } else if (vr == "UL" || vr == "SL") {
    for (std::size_t i = 0; i + 3 < d.size(); i += 4) {
      const std::uint32_t v = d[i] | d[i + 1] << 8 | d[i + 2] << 16 | static_cast<std::uint32_t>(d[i + 3]) << 24;
      join(vr == "SL" ? std::to_string(static_cast<std::int32_t>(v)) : std::to_string(v));
    }
  } else if (vr == "OW") {
    for (std::size_t i = 0; i + 1 < d.size(); i += 2) {
      join(Hex(d[i] | d[i + 1] << 8, 4));
    }
  } else if (vr == "OB" || vr == "UN" || vr.empty() || vr == "DL") {
    for (const std::uint8_t b : d) {
      join(Hex(b, 2));
    }
  } else {
    out.assign(d.begin(), std::find(d.begin(), d.end(), std::uint8_t{0}));
    while (!out.empty() && out.back() == ' ') {
      out.pop_back();
    }
  }
  return out;
}

Record RecordOf(const DcmTag &t) {
  Record r;
  r.tag = Hex(t.group, 4) + "," + Hex(t.element, 4);
  r.vr = t.group == 0xFFFE ? "" : std::string(t.VR());
  r.length = t.length == UNDEFINED_LENGTH ? "u/l" : std::to_string(t.length);
  r.value = t.VR() == "SQ" ? "" : ShownValue(t);
  return r;
}

// Our own listing of a data set, in the order dcmdump prints it.
void ListInto(const DcmObj &c, std::vector<Record> &records) {
  for (std::size_t i = 0; i < c.Count(); ++i) {
    if (const DcmTag *t = c.ElementAt(i)) {
      records.push_back(RecordOf(*t));
    } else if (const DcmObj *n = c.ContainerAt(i)) {
      records.push_back(RecordOf(n->header));
      ListInto(*n, records);
    }
  }
}

std::vector<Record> List(const DcmObj &c) {
  std::vector<Record> records;
  ListInto(c, records);
  return records;
}

std::vector<std::string> WarningsAndErrors(const std::string &output) {
  std::vector<std::string> found;
  for (const std::string &line : SplitLines(output)) {
    if (line.rfind("W:", 0) == 0 || line.rfind("E:", 0) == 0 || line.rfind("F:", 0) == 0) {
      found.push_back(line);
    }
  }
  return found;
}

// An 8 x 8 grey JPEG Baseline stream.
const std::uint8_t JPEG_8X8[] = {
    0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 0x4a, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,
    0x00, 0xff, 0xdb, 0x00, 0x43, 0x00, 0x03, 0x02, 0x02, 0x03, 0x02, 0x02, 0x03, 0x03, 0x03, 0x03, 0x04, 0x03, 0x03,
    0x04, 0x05, 0x08, 0x05, 0x05, 0x04, 0x04, 0x05, 0x0a, 0x07, 0x07, 0x06, 0x08, 0x0c, 0x0a, 0x0c, 0x0c, 0x0b, 0x0a,
    0x0b, 0x0b, 0x0d, 0x0e, 0x12, 0x10, 0x0d, 0x0e, 0x11, 0x0e, 0x0b, 0x0b, 0x10, 0x16, 0x10, 0x11, 0x13, 0x14, 0x15,
    0x15, 0x15, 0x0c, 0x0f, 0x17, 0x18, 0x16, 0x14, 0x18, 0x12, 0x14, 0x15, 0x14, 0xff, 0xc0, 0x00, 0x0b, 0x08, 0x00,
    0x08, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00, 0xff, 0xc4, 0x00, 0x14, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0xff, 0xc4, 0x00, 0x17, 0x10, 0x00, 0x03, 0x01, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x19, 0x65, 0xa3, 0xff, 0xda, 0x00,
    0x08, 0x01, 0x01, 0x00, 0x00, 0x3f, 0x00, 0x1a, 0x7d, 0x7d, 0x0f, 0xff, 0xd9};

std::unique_ptr<DcmTag> Undefined(std::uint16_t g, std::uint16_t e, std::string_view vr) {
  return DcmTag::FromBytes(g, e, UNDEFINED_LENGTH, nullptr, vr);
}
std::unique_ptr<DcmTag> Delimiter(std::uint16_t e) { return DcmTag::FromBytes(0xFFFE, e, 0, nullptr, "DL"); }

// Patient, study and series elements, an expanded and a flat sequence, and
// the image description of a Secondary Capture image.
void FillCommon(DcmObj &c, std::uint16_t size, std::uint16_t bits) {
  c.PutText(0x0008, 0x0016, SECONDARY_CAPTURE_IMAGE_STORAGE);
  c.PutText(0x0008, 0x0018, "2.25.739104652811350928774.1.10.1");
  c.PutText(0x0008, 0x0020, "20240309");
  c.PutText(0x0008, 0x0060, "OT");
  c.PutText(0x0008, 0x0064, "WSD");
  DcmObj item1;
  item1.PutText(0x0008, 0x1150, SECONDARY_CAPTURE_IMAGE_STORAGE);
  item1.PutText(0x0008, 0x1155, "1.2.3.4");
  DcmObj item2;
  item2.PutText(0x0008, 0x1150, SECONDARY_CAPTURE_IMAGE_STORAGE);
  item2.PutText(0x0008, 0x1155, "1.2.3.45");
  DcmObj sequence;
  sequence.InsertSequence(0xFFFE, 0xE000, item1);
  sequence.InsertSequence(0xFFFE, 0xE000, item2);
  c.InsertSequence(0x0008, 0x1140, sequence);
  // (0008,2112) flat: an undefined-length item and a defined-length one.
  c.Append(Undefined(0x0008, 0x2112, "SQ"));
  c.Append(Undefined(0xFFFE, 0xE000, "DL"));
  c.Append(DcmTag::FromText(0x0008, 0x1150, SECONDARY_CAPTURE_IMAGE_STORAGE));
  c.Append(DcmTag::FromText(0x0008, 0x1155, "1.2.3.6"));
  c.Append(Delimiter(0xE00D));
  DcmObj inner;
  inner.PutText(0x0008, 0x1155, "1.2.3.7");
  c.InsertSequence(0xFFFE, 0xE000, inner);
  c.Append(Delimiter(0xE0DD));
  c.Append(DcmTag::FromText(0x0010, 0x0010, "Doe^Jane"));
  c.Append(DcmTag::FromText(0x0010, 0x0020, "PID-007"));
  c.Append(DcmTag::FromText(0x0020, 0x000D, "1.2.3.100"));
  c.Append(DcmTag::FromText(0x0020, 0x000E, "1.2.3.100.20"));
  c.Append(DcmTag::FromText(0x0020, 0x0013, "1"));
  c.Append(DcmTag::FromUS(0x0028, 0x0002, 1));
  c.Append(DcmTag::FromText(0x0028, 0x0004, "MONOCHROME2"));
  c.Append(DcmTag::FromUS(0x0028, 0x0010, size));
  c.Append(DcmTag::FromUS(0x0028, 0x0011, size));
  c.Append(DcmTag::FromUS(0x0028, 0x0100, bits));
  c.Append(DcmTag::FromUS(0x0028, 0x0101, bits));
  c.Append(DcmTag::FromUS(0x0028, 0x0102, static_cast<std::uint16_t>(bits - 1)));
  c.Append(DcmTag::FromUS(0x0028, 0x0103, 0));
}

class DcmtkInteropTest : public ::testing::Test {
protected:
  void SetUp() override {
    dcmdump_ = FindTool("dcmdump");
    dump2dcm_ = FindTool("dump2dcm");
    if (dcmdump_.empty() || dump2dcm_.empty()) {
      GTEST_SKIP() << "DCMTK's dcmdump and dump2dcm are not installed";
    }
  }
  std::string Path(const std::string &name) const { return dir_.folder() + name; }
  CommandResult Dcmdump(const std::string &file) const { return RunCommand(dcmdump_ + " -Un +L " + file); }

  // Writes c, has dcmdump read it, and compares the listings.
  void ExpectDcmdumpAgrees(DcmObj &c, const std::string &name) {
    ASSERT_TRUE(c.Write(Path(name)));
    const CommandResult run = Dcmdump(Path(name));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(WarningsAndErrors(run.output), std::vector<std::string>{}) << run.output;
    EXPECT_EQ(ParseDcmdump(run.output), List(c)) << run.output;
  }

  // Makes a file from a text dump with dump2dcm, reads it here, and compares
  // with dcmdump's listing of the same file.
  void ExpectReadAsDcmtkWrote(const std::string &dump, const std::string &options, std::string_view syntax,
                              DcmObj &read) {
    const std::string text = Path("in.txt");
    std::ofstream(text) << dump;
    const std::string file = Path("dcmtk.dcm");
    const CommandResult made = RunCommand(dump2dcm_ + " " + options + " " + text + " " + file);
    ASSERT_EQ(made.status, 0) << made.output;
    ASSERT_TRUE(read.Read(file));
    EXPECT_EQ(read.transferSyntax, syntax);
    const CommandResult run = Dcmdump(file);
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<Record> theirs = ParseDcmdump(run.output);
    ASSERT_FALSE(theirs.empty()) << run.output;
    EXPECT_EQ(List(read), theirs) << run.output;
  }

  std::string dcmdump_;
  std::string dump2dcm_;
  TempDir dir_;
};

class WrittenSyntaxTest : public DcmtkInteropTest, public ::testing::WithParamInterface<std::string_view> {};

TEST_P(WrittenSyntaxTest, DcmdumpReadsNativeImage) {
  DcmObj c;
  SetSyntax(c, GetParam());
  FillCommon(c, 4, 16);
  std::uint8_t pixels[32];
  for (int i = 0; i < 16; ++i) { // little-endian words 0x0100 * i + i
    pixels[2 * i] = static_cast<std::uint8_t>(i);
    pixels[2 * i + 1] = static_cast<std::uint8_t>(i);
  }
  c.Append(DcmTag::FromBytes(0x7FE0, 0x0010, sizeof(pixels), pixels, "OW"));
  ExpectDcmdumpAgrees(c, "ours.dcm");
}

INSTANTIATE_TEST_SUITE_P(Interop, WrittenSyntaxTest,
                         ::testing::Values(IMPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_LITTLE_ENDIAN,
                                           EXPLICIT_VR_BIG_ENDIAN),
                         [](const auto &info) {
                           return info.param == IMPLICIT_VR_LITTLE_ENDIAN   ? std::string("Implicit")
                                  : info.param == EXPLICIT_VR_LITTLE_ENDIAN ? std::string("Explicit")
                                                                            : std::string("BigEndian");
                         });

TEST_F(DcmtkInteropTest, DcmdumpReadsJpegBaselineImage) {
  DcmObj c;
  SetSyntax(c, JPEG_BASELINE);
  FillCommon(c, 8, 8);
  c.Append(Undefined(0x7FE0, 0x0010, "OB"));
  c.Append(DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL")); // empty offset table
  c.Append(DcmTag::FromBytes(0xFFFE, 0xE000, sizeof(JPEG_8X8), JPEG_8X8, "DL"));
  c.Append(Delimiter(0xE0DD));
  ASSERT_EQ(c.ElementAt(c.Count() - 2)->length, sizeof(JPEG_8X8) + 1); // padded to even
  ExpectDcmdumpAgrees(c, "jpeg.dcm");
}

// A text dump for dump2dcm: sequences nested two deep, multi-valued numbers,
// native 16-bit pixel data.
const char *const DUMP = R"((0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]
(0008,0018) UI [1.2.3.4.5]
(0008,0060) CS [OT]
(0008,1140) SQ (Sequence)
  (fffe,e000) na (Item)
    (0008,1150) UI [1.2.840.10008.5.1.4.1.1.7]
    (0008,1155) UI [1.2.3.4]
  (fffe,e00d) na (ItemDelimitationItem)
  (fffe,e000) na (Item)
    (0008,1150) UI [1.2.840.10008.5.1.4.1.1.7]
    (0008,1155) UI [1.2.3.45]
    (0040,a170) SQ (Sequence)
      (fffe,e000) na (Item)
        (0008,0100) SH [121311]
        (0008,0102) SH [DCM]
        (0008,0104) LO [Localizer]
      (fffe,e00d) na (ItemDelimitationItem)
    (fffe,e0dd) na (SequenceDelimitationItem)
  (fffe,e00d) na (ItemDelimitationItem)
(fffe,e0dd) na (SequenceDelimitationItem)
(0010,0010) PN [Doe^John]
(0010,0020) LO [PID7]
(0018,1310) US 0\4\4\0
(0020,0013) IS [12]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0010) US 2
(0028,0011) US 2
(0028,0100) US 16
(0028,0101) US 16
(0028,0102) US 15
(0028,0103) US 0
(0028,1052) DS [-1024]
(7fe0,0010) OW 0102\0304\0506\fffe
)";

struct DcmtkCase {
  const char *name;
  const char *options;
  std::string_view syntax;
  const char *sequenceLength; // "u/l" or "" for a number
};

void PrintTo(const DcmtkCase &c, std::ostream *os) { *os << c.name; }

class DcmtkWrittenTest : public DcmtkInteropTest, public ::testing::WithParamInterface<DcmtkCase> {};

TEST_P(DcmtkWrittenTest, ReadWithTheSameElements) {
  DcmObj read;
  ExpectReadAsDcmtkWrote(DUMP, GetParam().options, GetParam().syntax, read);
  // The numbers read right in every byte order.
  EXPECT_EQ(read.FindUS(0x0028, 0x0100), 16);
  const DcmTag *pixels = read.FindElement(0x7FE0, 0x0010);
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(pixels->data, (test::Bytes{0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0xFE, 0xFF}));
  // Defined lengths give nested containers, undefined ones flat content.
  const bool defined = std::string_view(GetParam().sequenceLength).empty();
  ASSERT_NE(read.Count(), 0u);
  EXPECT_EQ(read.ContainerAt(3) != nullptr, defined);
}

INSTANTIATE_TEST_SUITE_P(Interop, DcmtkWrittenTest,
                         ::testing::Values(DcmtkCase{"ExplicitDefined", "+te +e", EXPLICIT_VR_LITTLE_ENDIAN, ""},
                                           DcmtkCase{"ExplicitUndefined", "+te -e", EXPLICIT_VR_LITTLE_ENDIAN, "u/l"},
                                           DcmtkCase{"BigEndianDefined", "+tb +e", EXPLICIT_VR_BIG_ENDIAN, ""},
                                           DcmtkCase{"BigEndianUndefined", "+tb -e", EXPLICIT_VR_BIG_ENDIAN, "u/l"},
                                           DcmtkCase{"ImplicitDefined", "+ti +e", IMPLICIT_VR_LITTLE_ENDIAN, ""},
                                           DcmtkCase{"ImplicitUndefined", "+ti -e", IMPLICIT_VR_LITTLE_ENDIAN, "u/l"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(DcmtkInteropTest, NewerVRsWithTheLongHeader) {
  // UC and UR have the reserved field and a 32-bit length in explicit VR.
  const std::string dump = "(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]\n"
                           "(0008,0018) UI [1.2.3]\n"
                           "(0008,0119) UC [A long code value]\n"
                           "(0008,0120) UR [http://example.org/codes]\n"
                           "(0010,0010) PN [Doe]\n";
  DcmObj read;
  ExpectReadAsDcmtkWrote(dump, "+te", EXPLICIT_VR_LITTLE_ENDIAN, read);
  ASSERT_EQ(read.Count(), 5u);
  EXPECT_EQ(read.ElementAt(2)->VR(), "UC");
  EXPECT_EQ(read.FindText(0x0008, 0x0119), "A long code value");
  EXPECT_EQ(read.ElementAt(3)->VR(), "UR");
  EXPECT_EQ(read.FindText(0x0008, 0x0120), "http://example.org/codes");
  EXPECT_EQ(read.FindText(0x0010, 0x0010), "Doe");
  // Written here, DCMTK reads them back the same way.
  ExpectDcmdumpAgrees(read, "again.dcm");
}

} // namespace
} // namespace fw
