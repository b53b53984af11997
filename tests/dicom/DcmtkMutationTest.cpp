// Damaged files judged here and by DCMTK's dcmdump: each kind of damage found
// by mutating files (station-made ones and the same data sets rewritten by
// DCMTK's dcmconv), applied to each file it fits. Whether the whole data set
// reads here must be what dcmdump says, or the table says why this reader is
// right where dcmdump differs.
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <utility>
#include <vector>

namespace fw {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Mutation = std::function<std::optional<Bytes>(Bytes)>;

const Bytes SEQUENCE_DELIMITER = {0xFE, 0xFF, 0xDD, 0xE0, 0x00, 0x00, 0x00, 0x00};
const Bytes ITEM_TAG = {0xFE, 0xFF, 0x00, 0xE0};
const Bytes PIXEL_TAG = {0xE0, 0x7F, 0x10, 0x00};

int RunCommand(const std::string &command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Bytes FileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string &path, const Bytes &bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Offset of the first (or, with last, the last) occurrence of pattern from
// `from` on; nullopt when there is none.
std::optional<std::size_t> Find(const Bytes &bytes, const Bytes &pattern, std::size_t from = 0, bool last = false) {
  if (from > bytes.size())
    return std::nullopt;
  const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(from);
  const auto at = last ? std::find_end(begin, bytes.end(), pattern.begin(), pattern.end())
                       : std::search(begin, bytes.end(), pattern.begin(), pattern.end());
  if (at == bytes.end())
    return std::nullopt;
  return static_cast<std::size_t>(at - bytes.begin());
}

std::uint32_t Little32(const Bytes &b, std::size_t at) {
  return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
         std::uint32_t{b[at + 3]} << 24;
}

void PutLittle32(Bytes &b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k)
    b[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
}

// Where the pixel data's 32-bit length is: after its VR and reserved bytes
// in explicit data, right after the tag in implicit data.
std::optional<std::size_t> PixelLengthAt(const Bytes &b) {
  const std::optional<std::size_t> pixel = Find(b, PIXEL_TAG, 132);
  if (!pixel || *pixel + 12 > b.size())
    return std::nullopt;
  const bool explicitVR = b[*pixel + 4] == 'O';
  return *pixel + (explicitVR ? 8 : 4);
}

// The fragments of encapsulated pixel data: offset of each item tag after
// the pixel data's header (the offset table first).
std::vector<std::size_t> Items(const Bytes &b) {
  std::vector<std::size_t> items;
  const std::optional<std::size_t> length = PixelLengthAt(b);
  if (!length || Little32(b, *length) != 0xFFFFFFFF)
    return items;
  std::size_t at = *length + 4;
  while (at + 8 <= b.size() &&
         std::equal(ITEM_TAG.begin(), ITEM_TAG.end(), b.begin() + static_cast<std::ptrdiff_t>(at))) {
    items.push_back(at);
    at += 8 + Little32(b, at + 4);
  }
  return items;
}

// Offset of the value "Doe^Jane" (Patient's Name) and whether its header is
// explicit (VR "PN" before a 16-bit length).
std::optional<std::pair<std::size_t, bool>> NameValue(const Bytes &b) {
  const std::string name = "Doe^Jane";
  const std::optional<std::size_t> at = Find(b, Bytes(name.begin(), name.end()), 132);
  if (!at || *at < 8)
    return std::nullopt;
  return std::make_pair(*at, b[*at - 4] == 'P' && b[*at - 3] == 'N');
}

// Offset of the first item's length in the sequence (0008,1115) when the
// sequence has a defined length.
std::optional<std::size_t> FirstItemLengthAt(const Bytes &b) {
  const std::optional<std::size_t> at = Find(b, {0x08, 0x00, 0x15, 0x11}, 132);
  if (!at)
    return std::nullopt;
  const bool explicitVR = b[*at + 4] == 'S' && b[*at + 5] == 'Q';
  const std::size_t lengthAt = *at + (explicitVR ? 8 : 4);
  if (Little32(b, lengthAt) == 0xFFFFFFFF)
    return std::nullopt;
  return lengthAt + 4 + 4;
}

// Replaces a transfer syntax UID in the meta information by another of the
// same length, so the group length stays right.
std::optional<Bytes> Relabel(Bytes b, std::string_view from, std::string_view to) {
  const Bytes pattern(from.begin(), from.end());
  const std::optional<std::size_t> at = Find(b, pattern, 132);
  if (!at || from.size() != to.size() || b[*at + from.size()] != 0)
    return std::nullopt;
  std::copy(to.begin(), to.end(), b.begin() + static_cast<std::ptrdiff_t>(*at));
  return b;
}

struct MutationKind {
  const char *name;
  Mutation mutate; // nullopt: the kind does not fit the file
  bool whole;      // the verdict here
  bool dcmdumpWhole;
  const char *why; // why this reader is right where dcmdump differs
};

const MutationKind KINDS[] = {
    {"Unchanged", [](Bytes b) { return b; }, true, true, nullptr},
    {"TrailingPaddingAppended",
     [](Bytes b) {
       const std::optional<std::size_t> length = PixelLengthAt(b);
       const bool explicitVR = length && b[*length - 4] == 'O';
       const Bytes padding = explicitVR ? Bytes{0xFC, 0xFF, 0xFC, 0xFF, 'O', 'B', 0, 0, 0, 0, 0, 0}
                                        : Bytes{0xFC, 0xFF, 0xFC, 0xFF, 0, 0, 0, 0};
       b.insert(b.end(), padding.begin(), padding.end());
       return b;
     },
     true, true, nullptr},
    {"CutInsideAValue",
     [](Bytes b) -> std::optional<Bytes> {
       const std::string name = "Doe^Jane";
       const std::optional<std::size_t> at = Find(b, Bytes(name.begin(), name.end()), 132);
       if (!at)
         return std::nullopt;
       b.resize(*at + 3);
       return b;
     },
     false, false, nullptr},
    {"LastFourBytesCut",
     [](Bytes b) {
       b.resize(b.size() - 4);
       return b;
     },
     false, false, nullptr},
    {"CutInsideTheMetaInformation",
     [](Bytes b) {
       b.resize(150);
       return b;
     },
     false, false, nullptr},
    {"NoDicmPrefix",
     [](Bytes b) {
       std::fill(b.begin() + 128, b.begin() + 132, 'X');
       return b;
     },
     false, false, nullptr},
    {"TrailingBytesAfterTheData",
     [](Bytes b) {
       for (std::uint8_t v : {0x08, 0x00, 0x20})
         b.push_back(v);
       return b;
     },
     false, false, nullptr},
    {"ValueLengthPastTheEnd",
     [](Bytes b) -> std::optional<Bytes> {
       const std::optional<std::size_t> at = PixelLengthAt(b);
       if (!at || Little32(b, *at) == 0xFFFFFFFF)
         return std::nullopt;
       PutLittle32(b, *at, 0x7FFFFFF0);
       return b;
     },
     false, false, nullptr},
    {"SequenceDelimiterOfThePixelDataDropped",
     [](Bytes b) -> std::optional<Bytes> {
       if (Items(b).empty() || !Find(b, SEQUENCE_DELIMITER, b.size() - 8))
         return std::nullopt;
       b.resize(b.size() - 8);
       return b;
     },
     false, false, nullptr},
    {"CutAfterTheFirstFragment",
     [](Bytes b) -> std::optional<Bytes> {
       const std::vector<std::size_t> items = Items(b);
       if (items.size() < 3)
         return std::nullopt;
       b.resize(items[2]);
       return b;
     },
     false, false, nullptr},
    {"LastFragmentDroppedDelimiterKept",
     [](Bytes b) -> std::optional<Bytes> {
       const std::vector<std::size_t> items = Items(b);
       if (items.size() < 3)
         return std::nullopt;
       const std::size_t at = items.back();
       b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
               b.begin() + static_cast<std::ptrdiff_t>(at + 8 + Little32(b, at + 4)));
       return b;
     },
     false, true,
     "each frame of a JPEG clip has fragments of its own: a clip with fewer fragments than Number of Frames lost "
     "frames, and sent or converted it would show fewer frames than it claims (dcmdump does not look at frames)"},
    {"FlatSequenceDelimiterDropped",
     [](Bytes b) -> std::optional<Bytes> {
       const std::optional<std::size_t> at = Find(b, SEQUENCE_DELIMITER, 132);
       if (!at || *at + 8 == b.size())
         return std::nullopt; // only the pixel data's
       b.erase(b.begin() + static_cast<std::ptrdiff_t>(*at), b.begin() + static_cast<std::ptrdiff_t>(*at + 8));
       return b;
     },
     false, false, nullptr},
    {"NativePixelDataLabelledRle",
     [](Bytes b) -> std::optional<Bytes> {
       if (Items(b).size() > 0)
         return std::nullopt;
       return Relabel(std::move(b), EXPLICIT_VR_LITTLE_ENDIAN, RLE_LOSSLESS);
     },
     false, false, nullptr},
    {"UnknownTransferSyntaxUid",
     [](Bytes b) { return Relabel(std::move(b), EXPLICIT_VR_LITTLE_ENDIAN, "1.2.840.10008.1.2.9"); }, true, true,
     nullptr},
    {"OddValueLength",
     [](Bytes b) -> std::optional<Bytes> {
       const auto name = NameValue(b);
       if (!name)
         return std::nullopt;
       const auto [at, explicitVR] = *name;
       --b[at - (explicitVR ? 2 : 4)];
       b.erase(b.begin() + static_cast<std::ptrdiff_t>(at + 7));
       return b;
     },
     true, true, nullptr},
    {"VRLettersOfAnotherVR",
     [](Bytes b) -> std::optional<Bytes> {
       const auto name = NameValue(b);
       if (!name || !name->second)
         return std::nullopt;
       b[name->first - 4] = 'U';
       b[name->first - 3] = 'S';
       return b;
     },
     true, true, nullptr},
    {"VRBytesThatAreNoVR",
     [](Bytes b) -> std::optional<Bytes> {
       const auto name = NameValue(b);
       if (!name || !name->second)
         return std::nullopt;
       b[name->first - 4] = '?';
       b[name->first - 3] = '?';
       return b;
     },
     false, true,
     "bytes below \"A\" where the VR belongs are read as an implicit header inside explicit data (as writers that "
     "mix the two make them), whose 32-bit length here runs past the file: refused, where dcmdump guesses a 16-bit "
     "length and shows the value as \"??\""},
    {"ItemLengthPastItsSequence",
     [](Bytes b) -> std::optional<Bytes> {
       const std::optional<std::size_t> at = FirstItemLengthAt(b);
       if (!at)
         return std::nullopt;
       PutLittle32(b, *at, Little32(b, *at) + 40);
       return b;
     },
     false, false, nullptr},
};

// The files mutated: written here, and rewritten by DCMTK.
class DcmtkMutationTest : public testing::Test {
protected:
  std::string Path(const std::string &name) const { return dir_.folder() + name; }

  // A clip with a flat sequence before its fragments.
  void WriteClip(const std::string &path) {
    DcmObj ds;
    ds.transferSyntax = std::string(JPEG_BASELINE);
    ds.explicitVR = true;
    PutHeader(ds);
    ds.PutText(0x0028, 0x0008, "3");
    auto pixel = DcmTag::FromBytes(0x7FE0, 0x0010, 0, nullptr, "OB");
    pixel->length = UNDEFINED_LENGTH;
    ds.Append(std::move(pixel));
    ds.Append(Item({}));
    for (std::uint8_t f = 0; f < 3; ++f)
      ds.Append(Item({0xFF, 0xD8, f, 0x00, 0xFF, 0xD9}));
    ds.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
    ASSERT_TRUE(ds.Write(path));
  }

  void WriteNative(const std::string &path) {
    DcmObj ds;
    ds.transferSyntax = std::string(EXPLICIT_VR_LITTLE_ENDIAN);
    ds.explicitVR = true;
    PutHeader(ds);
    ds.Put(DcmTag::FromBytes(0x7FE0, 0x0010, 64, Bytes(64, 0x42).data(), "OB"));
    ASSERT_TRUE(ds.Write(path));
  }

  static std::unique_ptr<DcmTag> Item(const Bytes &bytes) {
    return DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<std::uint32_t>(bytes.size()), bytes.data(), "DL");
  }

  // Identification, a flat sequence of one item, the image attributes.
  static void PutHeader(DcmObj &ds) {
    ds.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7.4");
    ds.PutText(0x0008, 0x0018, "1.2.826.0.1.3680043.2.1143.78.1");
    ds.PutText(0x0008, 0x0060, "OT");
    ds.PutText(0x0010, 0x0010, "Doe^Jane");
    ds.Put(DcmTag::FromUS(0x0028, 0x0002, 1));
    ds.PutText(0x0028, 0x0004, "MONOCHROME2");
    ds.Put(DcmTag::FromUS(0x0028, 0x0010, 8));
    ds.Put(DcmTag::FromUS(0x0028, 0x0011, 8));
    ds.Put(DcmTag::FromUS(0x0028, 0x0100, 8));
    DcmObj referenced;
    referenced.PutText(0x0008, 0x1150, "1.2.840.10008.5.1.4.1.1.7");
    referenced.PutText(0x0008, 0x1155, "1.2.826.0.1.3680043.2.1143.78.2");
    DcmObj items;
    items.InsertSequence(0xFFFE, 0xE000, referenced);
    ds.InsertSequence(0x0008, 0x1115, items);
    auto sequence = DcmTag::FromBytes(0x0040, 0x0275, 0, nullptr, "SQ");
    sequence->length = UNDEFINED_LENGTH;
    ds.Append(std::move(sequence));
    auto item = DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL");
    item->length = UNDEFINED_LENGTH;
    ds.Append(std::move(item));
    ds.Append(DcmTag::FromText(0x0040, 0x1001, "RP1"));
    ds.Append(DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr, "DL"));
    ds.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  }

  test::TempDir dir_;
};

TEST_F(DcmtkMutationTest, EachKindOfDamageIsJudgedAsDcmdumpJudgesItOrTheTableSaysWhy) {
  WriteClip(Path("station-clip.dcm"));
  WriteNative(Path("station-native.dcm"));
  // DCMTK's own encodings of the same data sets: the clip as it is, the
  // native image in implicit VR.
  ASSERT_EQ(RunCommand("dcmconv " + Path("station-clip.dcm") + " " + Path("dcmtk-clip.dcm")), 0);
  ASSERT_EQ(RunCommand("dcmconv +ti " + Path("station-native.dcm") + " " + Path("dcmtk-implicit.dcm")), 0);
  const std::string bases[] = {"station-clip.dcm", "station-native.dcm", "dcmtk-clip.dcm", "dcmtk-implicit.dcm"};

  for (const MutationKind &kind : KINDS) {
    int applied = 0;
    for (const std::string &base : bases) {
      SCOPED_TRACE(std::string(kind.name) + " of " + base);
      const std::optional<Bytes> mutated = kind.mutate(FileBytes(Path(base)));
      if (!mutated)
        continue;
      ++applied;
      const std::string path = Path("mutated.dcm");
      WriteBytes(path, *mutated);
      DcmObj read;
      EXPECT_EQ(read.ReadFrom(*mutated), kind.whole);
      EXPECT_EQ(RunCommand("dcmdump " + path) == 0, kind.dcmdumpWhole);
      EXPECT_EQ(kind.why != nullptr, kind.whole != kind.dcmdumpWhole) << "a difference needs its reason";
    }
    EXPECT_GT(applied, 0) << kind.name << " fits no file";
  }
}

} // namespace
} // namespace fw
