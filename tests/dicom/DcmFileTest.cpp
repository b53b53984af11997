// DICOM files: the layout of the file meta information, the data set in
// each transfer syntax behind it, and the refusals (no preamble, missing
// file, cut data set), including every truncation of a valid file.
#include "dicom/DcmFile.h"

#include "dicom/Uids.h"
#include "tests/dicom/EncodingTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <set>

#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

namespace fw {
namespace {

using test::Bytes;
using test::Concat;
using test::LogCapture;
using test::SetSyntax;
using test::TempDir;
using test::TextBytes;

std::uint32_t LE32(const Bytes &b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t LE16(const Bytes &b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); }

Bytes FileBytes(const std::string &path) {
  const std::string text = test::ReadFileBytes(path);
  return Bytes(text.begin(), text.end());
}

void WriteBytes(const std::string &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A small image data set with a sequence of each form.
void FillImage(DcmObj &c) {
  c.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
  c.PutText(0x0008, 0x0018, "1.2.3.4.5");
  c.PutText(0x0008, 0x0060, "OT");
  DcmObj item;
  item.PutText(0x0008, 0x1150, "1.2.840.10008.5.1.4.1.1.7");
  item.PutText(0x0008, 0x1155, "1.2.3");
  DcmObj sequence;
  sequence.InsertSequence(0xFFFE, 0xE000, item);
  c.InsertSequence(0x0008, 0x1140, sequence);
  c.PutText(0x0010, 0x0010, "Doe^Jane");
  c.Put(DcmTag::FromUS(0x0028, 0x0010, 512));
  c.Put(DcmTag::FromUS(0x0028, 0x0011, 2));
  const std::uint8_t pixels[4] = {1, 2, 3, 4};
  c.Put(DcmTag::FromBytes(0x7FE0, 0x0010, 4, pixels, "OW"));
}

class DcmFileTest : public ::testing::Test {
protected:
  std::string Path(const std::string &name) const { return dir_.folder() + name; }
  TempDir dir_;
};

TEST_F(DcmFileTest, MetaInformationLayout) {
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  FillImage(c);
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  const Bytes b = FileBytes(Path("a.dcm"));
  ASSERT_GT(b.size(), 300u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 128), Bytes(128, 0));
  EXPECT_EQ(std::string(b.begin() + 128, b.begin() + 132), "DICM");
  EXPECT_EQ(Bytes(b.begin() + 132, b.begin() + 140), (Bytes{0x02, 0, 0, 0, 'U', 'L', 4, 0}));
  EXPECT_EQ(Bytes(b.begin() + 144, b.begin() + 158), (Bytes{0x02, 0, 0x01, 0, 'O', 'B', 0, 0, 2, 0, 0, 0, 0x00, 0x01}));
  // (0002,0002): a 25-character UID padded with one zero byte.
  EXPECT_EQ(Bytes(b.begin() + 158, b.begin() + 164), (Bytes{0x02, 0, 0x02, 0, 'U', 'I'}));
  EXPECT_EQ(LE16(b, 164), 26);
  EXPECT_EQ(std::string(b.begin() + 166, b.begin() + 192), std::string("1.2.840.10008.5.1.4.1.1.7") + '\0');
  // (0002,0003) "1.2.3.4.5" + 0 at 192, (0002,0010) 19 characters + 0 at 210.
  EXPECT_EQ(LE16(b, 198), 10);
  EXPECT_EQ(LE16(b, 216), 20);
  EXPECT_EQ(std::string(b.begin() + 218, b.begin() + 238), std::string("1.2.840.10008.1.2.1") + '\0');
  // (0002,0012) at 238 and (0002,0013) at 276, "Brindlemoor " padded with a space.
  EXPECT_EQ(LE16(b, 244), 30);
  EXPECT_EQ(std::string(b.begin() + 246, b.begin() + 276), IMPLEMENTATION_CLASS_UID);
  EXPECT_EQ(Bytes(b.begin() + 276, b.begin() + 284), (Bytes{0x02, 0, 0x13, 0, 'S', 'H', 12, 0}));
  EXPECT_EQ(std::string(b.begin() + 284, b.begin() + 296), "Brindlemoor ");
  // The group length is the offset of the first data set element minus 144.
  EXPECT_EQ(LE32(b, 140), 296u - 144u);
  EXPECT_EQ(Bytes(b.begin() + 296, b.begin() + 300), (Bytes{0x08, 0x00, 0x16, 0x00}));
}

TEST_F(DcmFileTest, MissingSopUidsGiveEmptyElements) {
  DcmObj c;
  c.PutText(0x0010, 0x0010, "Doe");
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  const Bytes b = FileBytes(Path("a.dcm"));
  EXPECT_EQ(Bytes(b.begin() + 158, b.begin() + 174),
            (Bytes{0x02, 0, 0x02, 0, 'U', 'I', 0, 0, 0x02, 0, 0x03, 0, 'U', 'I', 0, 0}));
}

// Each transfer syntax: written, then read back to the same elements.
class DcmFileSyntaxTest : public DcmFileTest, public ::testing::WithParamInterface<std::string_view> {};

TEST_P(DcmFileSyntaxTest, RoundTrip) {
  DcmObj c;
  SetSyntax(c, GetParam());
  FillImage(c);
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  DcmObj read;
  ASSERT_TRUE(read.Read(Path("a.dcm")));
  EXPECT_EQ(read.transferSyntax, GetParam());
  EXPECT_EQ(read.explicitVR, GetParam() != IMPLICIT_VR_LITTLE_ENDIAN);
  ASSERT_EQ(read.Count(), c.Count());
  EXPECT_EQ(read.FindUS(0x0028, 0x0010), 512);
  EXPECT_EQ(read.FindText(0x0010, 0x0010), "Doe^Jane");
  ASSERT_NE(read.ContainerAt(3), nullptr);
  EXPECT_EQ(read.ContainerAt(3)->ContainerAt(0)->FindText(0x0008, 0x1155), "1.2.3");
  const DcmTag *pixels = read.FindElement(0x7FE0, 0x0010);
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(pixels->data, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(pixels->VR(), "OW");
  // Written again, the file is the same.
  ASSERT_TRUE(read.Write(Path("b.dcm")));
  EXPECT_EQ(FileBytes(Path("b.dcm")), FileBytes(Path("a.dcm")));
}

// Large values go to the file from the data set; the file must be the same
// as the whole encoding, with large values before, between and after others.
TEST_P(DcmFileSyntaxTest, LargeValuesWriteTheSameBytesAsTheWholeEncoding) {
  DcmObj c;
  SetSyntax(c, GetParam());
  FillImage(c);
  Bytes large(70001);
  for (std::size_t i = 0; i < large.size(); ++i) {
    large[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  c.Put(DcmTag::FromBytes(0x0009, 0x1010, static_cast<std::uint32_t>(large.size() - 1), large.data(), "OB"));
  c.Put(DcmTag::FromBytes(0x0029, 0x1010, 16 * 1024, large.data() + 1, "OB"));
  c.Put(DcmTag::FromBytes(0x7FE0, 0x0010, 65536, large.data() + 5, "OW")); // replaces the small pixels
  c.Put(DcmTag::FromBytes(0xFFFA, 0xFFFA, 20000, large.data() + 2, "OB"));
  BufData whole(false);
  c.WriteTo(whole);
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  EXPECT_EQ(FileBytes(Path("a.dcm")), whole.Bytes());
}

INSTANTIATE_TEST_SUITE_P(File, DcmFileSyntaxTest,
                         ::testing::Values(IMPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_LITTLE_ENDIAN,
                                           EXPLICIT_VR_BIG_ENDIAN),
                         [](const auto &info) {
                           return info.param == IMPLICIT_VR_LITTLE_ENDIAN   ? std::string("Implicit")
                                  : info.param == EXPLICIT_VR_LITTLE_ENDIAN ? std::string("Explicit")
                                                                            : std::string("BigEndian");
                         });

TEST_F(DcmFileTest, BigEndianDataSetBehindLittleEndianMeta) {
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_BIG_ENDIAN);
  c.Put(DcmTag::FromUS(0x0028, 0x0010, 512));
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  const Bytes b = FileBytes(Path("a.dcm"));
  const std::size_t first = 144 + LE32(b, 140);
  EXPECT_EQ(b[132], 0x02); // meta little endian
  EXPECT_EQ(Bytes(b.begin() + static_cast<std::ptrdiff_t>(first), b.end()),
            (Bytes{0x00, 0x28, 0x00, 0x10, 'U', 'S', 0x00, 0x02, 0x02, 0x00}));
}

TEST_F(DcmFileTest, ImplicitFileTakesVRsFromTheDictionary) {
  DcmObj c;
  c.PutText(0x0008, 0x0060, "OT");
  c.Put(DcmTag::FromUS(0x0028, 0x0010, 512));
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  DcmObj read;
  ASSERT_TRUE(read.Read(Path("a.dcm")));
  EXPECT_FALSE(read.explicitVR);
  ASSERT_EQ(read.Count(), 2u);
  EXPECT_EQ(read.ElementAt(0)->VR(), "CS");
  EXPECT_EQ(read.ElementAt(1)->VR(), "US");
}

TEST_F(DcmFileTest, MetaOnlyFileIsAnEmptyDataSet) {
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  DcmObj read;
  EXPECT_TRUE(read.Read(Path("a.dcm")));
  EXPECT_EQ(read.Count(), 0u);
}

TEST_F(DcmFileTest, RefusalsWithoutLogLines) {
  LogCapture log;
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  FillImage(c);
  BufData stream(false);
  WriteObj(stream, c);
  WriteBytes(Path("raw.dcm"), stream.Bytes()); // a data set without preamble
  DcmObj read;
  EXPECT_FALSE(read.Read(Path("raw.dcm")));
  EXPECT_FALSE(read.Read(Path("missing.dcm")));
  EXPECT_FALSE(read.Read(dir_.folder())); // a folder cannot be read
  EXPECT_FALSE(c.Write(Path("no/such/folder/a.dcm")));
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(DcmFileTest, CutDataSetIsLogged) {
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  FillImage(c);
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  Bytes b = FileBytes(Path("a.dcm"));
  b.resize(b.size() - 2);
  WriteBytes(Path("cut.dcm"), b);
  LogCapture log;
  DcmObj read;
  EXPECT_FALSE(read.Read(Path("cut.dcm")));
  EXPECT_EQ(read.FindText(0x0010, 0x0010), "Doe^Jane"); // decoded before the cut
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"ERROR: read bytes!=tag->length (7FE0,0010) count=2, tag->length=4",
                                                   "ERROR: DcmObj::Read, " + Path("cut.dcm")}));
}

// ReadUpTo: the elements before a tag, the file's head read only as far as
// they reach.
class ReadUpToTest : public DcmFileSyntaxTest {
protected:
  // FillImage with a value larger than the first read of the head before
  // the Patient module, and a flat sequence whose item holds a tag past
  // (0010,0000).
  void FillLarge(DcmObj &c) {
    FillImage(c);
    c.Put(DcmTag::FromBytes(0x0009, 0x1010, static_cast<std::uint32_t>(large_.size()), large_.data(), "OB"));
    c.Put(DcmTag::FromBytes(0x0009, 0x1020, UNDEFINED_LENGTH, nullptr, "SQ"));
    std::size_t at = 0;
    while (!c.EntryAt(at)->Tag().Is(0x0009, 0x1020)) {
      ++at;
    }
    // The item goes right after its sequence, where Put would not place it.
    c.InsertAt(at + 1, DcmTag::FromBytes(0xFFFE, 0xE000, UNDEFINED_LENGTH, nullptr));
    c.InsertAt(at + 2, DcmTag::FromText(0x0020, 0x000D, "1.2.3.4"));
    c.InsertAt(at + 3, DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr));
    c.InsertAt(at + 4, DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr));
  }
  const Bytes large_ = Bytes(100000, 0x41);
};

TEST_P(ReadUpToTest, ElementsBeforeTheTagAndNothingAfter) {
  DcmObj c;
  SetSyntax(c, GetParam());
  FillLarge(c);
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  LogCapture log;

  struct Case {
    const char *name;
    std::uint16_t group, element;
    std::size_t count; // elements read
  } cases[] = {
      {"BeforeSopClass", 0x0008, 0x0016, 0},
      {"SopClassOnly", 0x0008, 0x0017, 1},
      {"BeforePatient", 0x0010, 0x0000, c.Count() - 4}, // the nested (0020,000D) does not stop it
      {"BeforePixelData", 0x7FE0, 0x0010, c.Count() - 1},
      {"AtAnAbsentTag", 0x0009, 0x1011, 5},
      {"PastTheEnd", 0xFFFF, 0xFFFF, c.Count()},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    DcmObj read;
    ASSERT_TRUE(read.ReadUpTo(Path("a.dcm"), k.group, k.element));
    EXPECT_EQ(read.transferSyntax, GetParam());
    EXPECT_EQ(read.explicitVR, GetParam() != IMPLICIT_VR_LITTLE_ENDIAN);
    EXPECT_EQ(read.Count(), k.count);
    for (std::size_t i = 0; i < std::min(read.Count(), k.count); ++i) {
      EXPECT_EQ(read.EntryAt(i)->Tag().Key(), c.EntryAt(i)->Tag().Key()) << i;
    }
  }
  DcmObj beforePixels;
  ASSERT_TRUE(beforePixels.ReadUpTo(Path("a.dcm"), 0x7FE0, 0x0010));
  EXPECT_EQ(beforePixels.FindText(0x0010, 0x0010), "Doe^Jane");
  EXPECT_EQ(beforePixels.FindUS(0x0028, 0x0011), 2);
  ASSERT_NE(beforePixels.FindElement(0x0009, 0x1010), nullptr);
  EXPECT_EQ(beforePixels.FindElement(0x0009, 0x1010)->data, large_);
  EXPECT_EQ(beforePixels.FindElement(0x7FE0, 0x0010), nullptr);
  EXPECT_TRUE(log.Lines().empty());
}

INSTANTIATE_TEST_SUITE_P(File, ReadUpToTest,
                         ::testing::Values(IMPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_LITTLE_ENDIAN,
                                           EXPLICIT_VR_BIG_ENDIAN),
                         [](const auto &info) {
                           return info.param == IMPLICIT_VR_LITTLE_ENDIAN   ? std::string("Implicit")
                                  : info.param == EXPLICIT_VR_LITTLE_ENDIAN ? std::string("Explicit")
                                                                            : std::string("BigEndian");
                         });

// An explicit UN sequence of undefined length holds implicit VR: followed as
// such, an implicit length that reads as two letters does not derail it.
TEST_F(DcmFileTest, ReadUpToFollowsAnUnknownSequenceAsImplicit) {
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  c.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  const auto le16 = [](unsigned v) { return Bytes{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}; };
  const auto le32 = [&](std::uint32_t v) { return Concat({le16(v & 0xFFFF), le16(v >> 16)}); };
  const std::uint32_t letters = 0x4142; // "BA" where an explicit VR would be
  const Bytes tail = Concat(
      {le16(0x0009), le16(0x1010),           TextBytes("UN"), le16(0),      le32(UNDEFINED_LENGTH), le16(0xFFFE),
       le16(0xE000), le32(UNDEFINED_LENGTH), le16(0x0009),    le16(0x1011), le32(letters),          Bytes(letters, 'x'),
       le16(0xFFFE), le16(0xE00D),           le32(0),         le16(0xFFFE), le16(0xE0DD),           le32(0),
       le16(0x0010), le16(0x0020),           TextBytes("LO"), le16(4),      TextBytes("PID1")});
  Bytes file = FileBytes(Path("a.dcm"));
  file.insert(file.end(), tail.begin(), tail.end());
  WriteBytes(Path("a.dcm"), file);

  DcmObj before;
  ASSERT_TRUE(before.ReadUpTo(Path("a.dcm"), 0x0010, 0x0000));
  EXPECT_EQ(before.Count(), 2u);
  ASSERT_NE(before.ContainerAt(1), nullptr);
  EXPECT_EQ(before.ContainerAt(1)->header.Key(), 0x00091010u);
  DcmObj all;
  ASSERT_TRUE(all.ReadUpTo(Path("a.dcm"), 0xFFFF, 0xFFFF));
  EXPECT_EQ(all.FindText(0x0010, 0x0020), "PID1");
}

TEST_F(DcmFileTest, ReadUpToRefusesWithoutLogLines) {
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  FillImage(c);
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  const Bytes whole = FileBytes(Path("a.dcm"));
  // Cut inside the Patient's Name, then inside the pixel data.
  const std::size_t pixelsAt = whole.size() - 12;
  WriteBytes(Path("cut-early.dcm"), Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(pixelsAt - 30)));
  WriteBytes(Path("cut-late.dcm"), Bytes(whole.begin(), whole.end() - 2));
  DcmObj deflated;
  SetSyntax(deflated, DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN);
  FillImage(deflated);
  ASSERT_TRUE(deflated.Write(Path("deflated.dcm")));
  BufData raw(false);
  WriteObj(raw, c);
  WriteBytes(Path("raw.dcm"), raw.Bytes()); // no preamble
  Bytes noSyntax = whole;
  // (0002,0010) renamed (0002,0011): the meta information has no transfer syntax.
  const std::size_t syntaxAt = 158 + 8 + LE16(whole, 164) + 8 + LE16(whole, 166 + LE16(whole, 164) + 6);
  ASSERT_EQ(LE16(whole, syntaxAt + 2), 0x0010);
  noSyntax[syntaxAt + 2] = 0x11;
  WriteBytes(Path("no-syntax.dcm"), noSyntax);

  LogCapture log;
  DcmObj read;
  EXPECT_TRUE(read.ReadUpTo(Path("cut-late.dcm"), 0x7FE0, 0x0010)) << "the cut lies past the tag";
  for (const char *name : {"cut-early.dcm", "deflated.dcm", "raw.dcm", "no-syntax.dcm", "missing.dcm", ""}) {
    SCOPED_TRACE(name);
    DcmObj refused;
    EXPECT_FALSE(refused.ReadUpTo(Path(name), 0x7FE0, 0x0010));
  }
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(DcmFileTest, MissingTransferSyntaxIsTakenFromTheFirstElement) {
  BufData stream(false);
  const std::uint8_t preamble[128] = {};
  stream.WriteBytes(preamble, 128);
  stream.WriteBytes("DICM", 4);
  const std::uint8_t groupLength[4] = {0, 0, 0, 0};
  WriteElement(stream, {0x0002, 0x0000}, 4, groupLength, "UL", true);
  const std::uint8_t cs[2] = {'O', 'T'};
  WriteElement(stream, {0x0008, 0x0060}, 2, cs, "CS", true);
  DcmObj read;
  ASSERT_TRUE(read.ReadFrom(stream));
  EXPECT_EQ(read.transferSyntax, EXPLICIT_VR_LITTLE_ENDIAN);
  EXPECT_TRUE(read.explicitVR);
  EXPECT_EQ(read.FindText(0x0008, 0x0060), "OT");
}

TEST_F(DcmFileTest, EveryTruncationIsReadWithoutHarm) {
  for (const std::string_view syntax : {IMPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_BIG_ENDIAN}) {
    DcmObj c;
    SetSyntax(c, syntax);
    FillImage(c);
    BufData whole(false);
    c.WriteTo(whole);
    const Bytes all = whole.Bytes();
    std::size_t accepted = 0;
    for (std::size_t n = 0; n <= all.size(); ++n) {
      BufData prefix(Bytes(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n)), false);
      DcmObj read;
      if (read.ReadFrom(prefix)) {
        ++accepted;
      }
      EXPECT_LE(read.Count(), c.Count());
    }
    // Only prefixes that end between elements can succeed.
    EXPECT_GT(accepted, 0u);
    EXPECT_LT(accepted, all.size() / 4);
  }
}

// A prefix of a file reads as complete exactly when it ends between two
// top-level elements: one cut inside an element's header is a failure too.
TEST_F(DcmFileTest, PrefixReadsCompleteOnlyAtAnElementBoundary) {
  for (const std::string_view syntax : {IMPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_BIG_ENDIAN}) {
    SCOPED_TRACE(std::string(syntax));
    DcmObj c;
    SetSyntax(c, syntax);
    c.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
    c.PutText(0x0008, 0x0018, "1.2.3.4.5");
    c.PutText(0x0008, 0x0060, "OT");
    c.PutText(0x0010, 0x0010, "Doe^Jane");
    c.Put(DcmTag::FromUS(0x0028, 0x0010, 512));
    const std::uint8_t pixels[4] = {1, 2, 3, 4};
    c.Put(DcmTag::FromBytes(0x7FE0, 0x0010, 4, pixels, "OW"));
    BufData whole(false);
    c.WriteTo(whole);
    const Bytes all = whole.Bytes();

    // Where each element ends: the file of the first k elements (from the
    // two UIDs on, so the meta information stays the same).
    std::set<std::size_t> boundaries;
    for (std::size_t k = 2; k <= c.Count(); ++k) {
      DcmObj first;
      SetSyntax(first, syntax);
      for (std::size_t i = 0; i < k; ++i) {
        const DcmTag *t = c.ElementAt(i);
        first.Append(DcmTag::FromBytes(t->group, t->element, t->length, t->data.data(), t->VR()));
      }
      BufData part(false);
      first.WriteTo(part);
      boundaries.insert(part.Size());
    }
    ASSERT_EQ(*boundaries.rbegin(), all.size());
    for (std::size_t n = *boundaries.begin(); n <= all.size(); ++n) {
      BufData prefix(Bytes(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n)), false);
      DcmObj read;
      EXPECT_EQ(read.ReadFrom(prefix), boundaries.count(n) == 1) << "prefix of " << n << " bytes";
    }
  }
}

TEST_F(DcmFileTest, CutElementHeaderIsLogged) {
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  FillImage(c);
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  Bytes b = FileBytes(Path("a.dcm"));
  b.resize(b.size() - 4 - 6); // six of the pixel data's twelve header bytes
  WriteBytes(Path("cut.dcm"), b);
  LogCapture log;
  DcmObj read;
  EXPECT_FALSE(read.Read(Path("cut.dcm")));
  EXPECT_EQ(read.FindText(0x0010, 0x0010), "Doe^Jane");
  EXPECT_EQ(read.FindElement(0x7FE0, 0x0010), nullptr);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"ERROR: element header cut short at offset " +
                                                       std::to_string(b.size() - 6) + ", 6 bytes left",
                                                   "ERROR: DcmObj::Read, " + Path("cut.dcm")}));
}

// A deflated file reads back to the data set written, and what is on disk
// behind the meta information is the zlib stream, not the plain encoding.
TEST_F(DcmFileTest, DeflatedFileReadsBack) {
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  FillImage(c);
  c.transferSyntax = std::string(DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN);
  ASSERT_TRUE(c.Write(Path("deflated.dcm")));
  const Bytes onDisk = FileBytes(Path("deflated.dcm"));
  const std::string name = "Doe^Jane";
  EXPECT_EQ(std::search(onDisk.begin(), onDisk.end(), name.begin(), name.end()), onDisk.end());

  LogCapture log;
  DcmObj read;
  ASSERT_TRUE(read.Read(Path("deflated.dcm")));
  EXPECT_EQ(read.transferSyntax, DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN);
  EXPECT_EQ(read.FindText(0x0010, 0x0010), "Doe^Jane");
  // Every element, the sequence included: both encode alike as plain explicit VR.
  c.transferSyntax = read.transferSyntax = std::string(EXPLICIT_VR_LITTLE_ENDIAN);
  BufData written(false), readBack(false);
  c.WriteTo(written);
  read.WriteTo(readBack);
  EXPECT_EQ(readBack.Bytes(), written.Bytes());
  EXPECT_TRUE(log.Lines().empty());
}

// Files in the folder other than the given ones (temporary files left).
std::vector<std::string> OtherFiles(const std::string &folder, const std::set<std::string> &expected) {
  std::vector<std::string> others;
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    if (expected.count(entry.path().filename().string()) == 0)
      others.push_back(entry.path().filename().string());
  return others;
}

// A write that fails half-way (here: the file size limit) leaves the old
// file as it was and no temporary file.
// A value streamed in pieces by a producer gives the file the data set
// holding it would; a producer that delivers too few or too many bytes, or
// fails, leaves the old file.
TEST_F(DcmFileTest, ProducedValueIsWrittenInPlaceOrNotAtAll) {
  Bytes frames(3 * 40000);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    frames[i] = static_cast<std::uint8_t>(i * 13 + 1);
  }
  DcmObj held;
  SetSyntax(held, EXPLICIT_VR_LITTLE_ENDIAN);
  FillImage(held);
  held.Put(DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<std::uint32_t>(frames.size()), frames.data(), "OB"));
  held.Put(DcmTag::FromBytes(0xFFFA, 0xFFFA, 4, "abcd", "OB"));
  ASSERT_TRUE(held.Write(Path("held.dcm")));

  // The same data set with the pixel data element holding its length only.
  DcmObj streamed;
  SetSyntax(streamed, EXPLICIT_VR_LITTLE_ENDIAN);
  FillImage(streamed);
  auto pixels = std::make_unique<DcmTag>();
  pixels->group = 0x7FE0;
  pixels->element = 0x0010;
  pixels->SetVR("OB");
  pixels->length = static_cast<std::uint32_t>(frames.size());
  streamed.Put(std::move(pixels));
  streamed.Put(DcmTag::FromBytes(0xFFFA, 0xFFFA, 4, "abcd", "OB"));

  const auto deliver = [&frames](std::size_t total, bool result) {
    return [&frames, total, result](const auto &write) {
      for (std::size_t at = 0; at < total; at += 40000) {
        if (!write(frames.data() + at % frames.size(), std::min<std::size_t>(40000, total - at))) {
          return false;
        }
      }
      return result;
    };
  };
  ASSERT_TRUE(streamed.Write(Path("streamed.dcm"), 0x7FE0, 0x0010, deliver(frames.size(), true)));
  EXPECT_EQ(FileBytes(Path("streamed.dcm")), FileBytes(Path("held.dcm")));

  const struct {
    const char *name;
    std::size_t total;
    bool result;
  } failures[] = {{"short", frames.size() - 1, true}, {"long", frames.size() + 1, true}, {"failed", 40000, false}};
  for (const auto &failure : failures) {
    SCOPED_TRACE(failure.name);
    LogCapture log;
    EXPECT_FALSE(streamed.Write(Path("held.dcm"), 0x7FE0, 0x0010, deliver(failure.total, failure.result)));
    EXPECT_EQ(FileBytes(Path("held.dcm")), FileBytes(Path("streamed.dcm")));
  }
  std::size_t leftOver = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir_.folder())) {
    leftOver += entry.path().filename().string().ends_with(".tmp") ? 1 : 0;
  }
  EXPECT_EQ(leftOver, 0u);
}

TEST_F(DcmFileTest, FailedWriteKeepsTheOldFile) {
  DcmObj small;
  SetSyntax(small, EXPLICIT_VR_LITTLE_ENDIAN);
  FillImage(small);
  ASSERT_TRUE(small.Write(Path("a.dcm")));
  const Bytes before = FileBytes(Path("a.dcm"));

  DcmObj big;
  SetSyntax(big, EXPLICIT_VR_LITTLE_ENDIAN);
  FillImage(big);
  const Bytes pixels(1 << 20, 0x55);
  big.Put(DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<std::uint32_t>(pixels.size()), pixels.data(), "OB"));

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = 64 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const bool written = big.Write(Path("a.dcm"));
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_EQ(FileBytes(Path("a.dcm")), before);
  EXPECT_EQ(OtherFiles(dir_.folder(), {"a.dcm"}), std::vector<std::string>{});
}

TEST_F(DcmFileTest, ReplacedFileKeepsItsPermissionsAndNewFilesFollowTheUmask) {
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_LITTLE_ENDIAN);
  FillImage(c);
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  std::filesystem::permissions(Path("a.dcm"), std::filesystem::perms(0640));
  c.PutText(0x0010, 0x0010, "Roe^Richard");
  ASSERT_TRUE(c.Write(Path("a.dcm")));
  EXPECT_EQ(std::filesystem::status(Path("a.dcm")).permissions(), std::filesystem::perms(0640));
  DcmObj read;
  ASSERT_TRUE(read.Read(Path("a.dcm")));
  EXPECT_EQ(read.FindText(0x0010, 0x0010), "Roe^Richard");

  const mode_t mask = umask(027);
  const bool created = c.Write(Path("b.dcm"));
  umask(mask);
  ASSERT_TRUE(created);
  EXPECT_EQ(std::filesystem::status(Path("b.dcm")).permissions(), std::filesystem::perms(0640));
  EXPECT_EQ(OtherFiles(dir_.folder(), {"a.dcm", "b.dcm"}), std::vector<std::string>{});
}

} // namespace
} // namespace fw
