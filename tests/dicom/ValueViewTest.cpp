// Large values read from a file stay views of the file's bytes: they share
// the image with the data set (and with copies of their element), never
// dangle when the data set goes, turn into owned bytes when written to, go
// out of the piece encoder without a copy, and are refused when the file
// is cut short inside them.
#include "dicom/DcmCodec.h"
#include "dicom/DcmFile.h"
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "dicom/ValueBytes.h"
#include "tests/dicom/EncodingTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace fw {
namespace {

using test::Bytes;
using test::SetSyntax;
using test::TempDir;

constexpr std::size_t LARGE = VIEWED_VALUE_BYTES + 2000;

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 9));
  }
  return bytes;
}

Bytes FileBytes(const std::string &path) {
  const std::string text = test::ReadFileBytes(path);
  return Bytes(text.begin(), text.end());
}

// An image with a large native value, a large and a small fragment after
// encapsulated pixel data, and a large value inside an item of a sequence.
struct ClipFixture {
  Bytes big = Pattern(LARGE, 1);
  Bytes fragment = Pattern(LARGE + 2, 2);
  Bytes small = Pattern(100, 3);
  Bytes nested = Pattern(LARGE + 4, 4);

  void Fill(DcmObj &c, std::string_view syntax) const {
    SetSyntax(c, syntax);
    c.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
    c.PutText(0x0008, 0x0018, "1.2.3.4.5");
    DcmObj item;
    item.PutText(0x0008, 0x1150, "1.2.840.10008.5.1.4.1.1.7");
    item.Put(DcmTag::FromBytes(0x0009, 0x1010, static_cast<std::uint32_t>(nested.size()), nested.data(), "OB"));
    DcmObj sequence;
    sequence.InsertSequence(0xFFFE, 0xE000, item);
    c.InsertSequence(0x0008, 0x1140, sequence);
    c.PutText(0x0010, 0x0010, "Doe^Jane");
    // A private OB value as the large native value, so every syntax keeps
    // its bytes as they are.
    c.Put(DcmTag::FromBytes(0x0011, 0x1010, static_cast<std::uint32_t>(big.size()), big.data(), "OB"));
    c.Append(DcmTag::FromBytes(0x7FE0, 0x0010, UNDEFINED_LENGTH, nullptr, "OB"));
    c.Append(DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL"));
    c.Append(DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<std::uint32_t>(fragment.size()), fragment.data(), "DL"));
    c.Append(DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<std::uint32_t>(small.size()), small.data(), "DL"));
    c.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  }
};

const DcmTag *Find(const DcmObj &c, std::uint16_t group, std::uint16_t element, int nth = 0) {
  for (std::size_t i = 0; i < c.Count(); ++i) {
    const DcmTag *t = c.ElementAt(i);
    if (t != nullptr && t->Is(group, element) && nth-- == 0) {
      return t;
    }
  }
  return nullptr;
}

const DcmTag *NestedValue(const DcmObj &c) {
  for (std::size_t i = 0; i < c.Count(); ++i) {
    if (const DcmObj *sequence = c.ContainerAt(i); sequence != nullptr && sequence->Count() > 0) {
      if (const DcmObj *item = sequence->ContainerAt(0)) {
        return Find(*item, 0x0009, 0x1010);
      }
    }
  }
  return nullptr;
}

class ValueViewTest : public ::testing::Test {
protected:
  std::string Written(std::string_view syntax, const std::string &name = "clip.dcm") {
    DcmObj c;
    fixture_.Fill(c, syntax);
    const std::string path = dir_.folder() + name;
    EXPECT_TRUE(c.Write(path));
    return path;
  }

  ClipFixture fixture_;
  TempDir dir_;
};

// Which values are views after a read, per transfer syntax: every large one
// that needs no byte swapping, all in one image; small ones are copies.
TEST_F(ValueViewTest, LargeValuesOfAFileAreViewsOfOneImage) {
  for (const std::string_view syntax :
       {IMPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_BIG_ENDIAN,
        DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN, std::string_view("1.2.840.10008.1.2.4.50")}) {
    SCOPED_TRACE(syntax);
    DcmObj read;
    ASSERT_TRUE(read.Read(Written(syntax)));
    const DcmTag *big = Find(read, 0x0011, 0x1010);
    const DcmTag *fragment = Find(read, 0xFFFE, 0xE000, 1);
    const DcmTag *small = Find(read, 0xFFFE, 0xE000, 2);
    const DcmTag *nested = NestedValue(read);
    ASSERT_TRUE(big && fragment && small && nested);
    EXPECT_EQ(big->data, fixture_.big);
    EXPECT_EQ(fragment->data, fixture_.fragment);
    EXPECT_EQ(small->data, fixture_.small);
    EXPECT_EQ(nested->data, fixture_.nested);
    EXPECT_TRUE(big->data.IsView());
    EXPECT_TRUE(fragment->data.IsView());
    EXPECT_TRUE(nested->data.IsView());
    EXPECT_FALSE(small->data.IsView());
    EXPECT_EQ(big->data.Image(), fragment->data.Image());
    EXPECT_EQ(big->data.Image(), nested->data.Image());
  }
}

// A big-endian OW value is swapped on the way in: it must be a copy, with
// its numbers in memory order.
TEST_F(ValueViewTest, SwappedValuesAreCopies) {
  DcmObj c;
  SetSyntax(c, EXPLICIT_VR_BIG_ENDIAN);
  Bytes words = Pattern(LARGE, 9);
  c.Put(DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<std::uint32_t>(words.size()), words.data(), "OW"));
  const std::string path = dir_.folder() + "be.dcm";
  ASSERT_TRUE(c.Write(path));
  DcmObj read;
  ASSERT_TRUE(read.Read(path));
  const DcmTag *pixels = Find(read, 0x7FE0, 0x0010);
  ASSERT_NE(pixels, nullptr);
  EXPECT_FALSE(pixels->data.IsView());
  EXPECT_EQ(pixels->data, words);
}

// Copying an element shares its view; the image lives as long as any view.
TEST_F(ValueViewTest, CopiesShareTheImageAndOutliveTheDataSet) {
  DcmTag copy;
  std::weak_ptr<const void> image;
  {
    auto read = std::make_unique<DcmObj>();
    ASSERT_TRUE(read->Read(Written(EXPLICIT_VR_LITTLE_ENDIAN)));
    const DcmTag *fragment = Find(*read, 0xFFFE, 0xE000, 1);
    ASSERT_NE(fragment, nullptr);
    image = fragment->data.Image();
    const long before = image.use_count();
    copy = *fragment;
    EXPECT_EQ(copy.data.data(), fragment->data.data()) << "the copy points at the same bytes";
    EXPECT_EQ(image.use_count(), before + 1);

    DcmObj copied;
    copied.CopyFrom(*read);
    EXPECT_EQ(Find(copied, 0xFFFE, 0xE000, 1)->data.data(), fragment->data.data());
    EXPECT_EQ(NestedValue(copied)->data.data(), NestedValue(*read)->data.data());
  }
  // The data set is gone; the copy still holds the image (ASan would see a
  // read of freed memory here otherwise).
  EXPECT_FALSE(image.expired());
  EXPECT_EQ(copy.data, fixture_.fragment);
  copy.ReleaseValue();
  EXPECT_TRUE(image.expired()) << "the last view gave the image back";
}

// Writing to a viewed value makes it owned: the image, the other elements
// that share it and the file written from the data set keep their bytes.
TEST_F(ValueViewTest, MutationCopiesOnWrite) {
  const std::string path = Written(EXPLICIT_VR_LITTLE_ENDIAN);
  const Bytes original = FileBytes(path);
  DcmObj read;
  ASSERT_TRUE(read.Read(path));
  DcmTag *fragment = read.ElementAt(0);
  for (std::size_t i = 0; i < read.Count(); ++i) {
    if (read.ElementAt(i) != nullptr && read.ElementAt(i)->data.size() == fixture_.fragment.size()) {
      fragment = read.ElementAt(i);
    }
  }
  ASSERT_TRUE(fragment->data.IsView());
  const DcmTag other = *fragment;
  const std::uint8_t *shared = other.data.data();

  using Mutation = void (*)(ValueBytes &);
  const Mutation mutations[] = {
      [](ValueBytes &v) { v[0] ^= 0xFF; },
      [](ValueBytes &v) { v.MutableData()[1] ^= 0xFF; },
      [](ValueBytes &v) { v.resize(v.size() - 2); },
      [](ValueBytes &v) { v.push_back(7); },
      [](ValueBytes &v) { v.append(v.begin(), v.begin() + 10); },
      [](ValueBytes &v) { v.assign(v.begin() + 2, v.end()); },
  };
  for (std::size_t m = 0; m < std::size(mutations); ++m) {
    SCOPED_TRACE(m);
    DcmTag changed = other;
    mutations[m](changed.data);
    EXPECT_FALSE(changed.data.IsView());
    EXPECT_NE(changed.data, fixture_.fragment);
    EXPECT_EQ(other.data.data(), shared);
    EXPECT_EQ(other.data, fixture_.fragment);
  }

  // Changing the element in the data set itself, then writing the data set
  // elsewhere, leaves the file it came from as it was.
  fragment->data[0] ^= 0xFF;
  ASSERT_TRUE(read.Write(dir_.folder() + "changed.dcm"));
  EXPECT_EQ(FileBytes(path), original);
  EXPECT_EQ(other.data, fixture_.fragment);
  DcmObj again;
  ASSERT_TRUE(again.Read(dir_.folder() + "changed.dcm"));
  EXPECT_EQ(Find(again, 0xFFFE, 0xE000, 1)->data[0], fixture_.fragment[0] ^ 0xFF);
}

// The piece encoder sends views (top level and nested) from the image and
// produces exactly WriteObj's bytes, in every transfer syntax.
TEST_F(ValueViewTest, PiecesReferenceTheImageAndMatchWriteObj) {
  for (const std::string_view syntax : {IMPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_LITTLE_ENDIAN, EXPLICIT_VR_BIG_ENDIAN,
                                        std::string_view("1.2.840.10008.1.2.4.50")}) {
    SCOPED_TRACE(syntax);
    DcmObj read;
    ASSERT_TRUE(read.Read(Written(syntax)));
    const Bytes expected = test::Encode(read);

    BufData stream;
    std::vector<EncodedPiece> pieces;
    WriteObjPieces(stream, read, VIEWED_VALUE_BYTES, pieces);
    Bytes joined;
    std::vector<const std::uint8_t *> external;
    for (const EncodedPiece &piece : pieces) {
      const std::uint8_t *from = piece.external != nullptr ? piece.external : stream.Bytes().data() + piece.offset;
      joined.insert(joined.end(), from, from + piece.size);
      if (piece.external != nullptr) {
        external.push_back(piece.external);
      }
    }
    EXPECT_EQ(joined, expected);
    if (syntax == EXPLICIT_VR_BIG_ENDIAN) {
      EXPECT_TRUE(external.empty());
      continue;
    }
    const std::vector<const std::uint8_t *> views = {NestedValue(read)->data.data(),
                                                     Find(read, 0x0011, 0x1010)->data.data(),
                                                     Find(read, 0xFFFE, 0xE000, 1)->data.data()};
    EXPECT_EQ(external, views);
  }
}

// A file cut inside a large value is refused, and nothing viewing past the
// end of what was read is kept.
TEST_F(ValueViewTest, FileCutInsideALargeValueIsRefused) {
  const std::string path = Written(EXPLICIT_VR_LITTLE_ENDIAN);
  const Bytes whole = FileBytes(path);
  struct Cut {
    const char *what;
    std::size_t keep;
  };
  const std::size_t fragmentEnd = whole.size() - 8 - 100 - 8; // before the small item and the delimiter
  const Cut cuts[] = {
      {"inside the large fragment", fragmentEnd - 1},
      {"half of the large fragment", fragmentEnd - fixture_.fragment.size() / 2},
      {"inside the native value", fragmentEnd - fixture_.fragment.size() - 8 - 12 - 8 - 50},
  };
  for (const Cut &cut : cuts) {
    SCOPED_TRACE(cut.what);
    const std::string cutPath = dir_.folder() + "cut.dcm";
    {
      std::ofstream out(cutPath, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char *>(whole.data()), static_cast<std::streamsize>(cut.keep));
    }
    test::LogCapture log;
    DcmObj read;
    EXPECT_FALSE(read.Read(cutPath));
    bool lengthLine = false;
    for (const std::string &line : log.Lines()) {
      lengthLine = lengthLine || line.find("ERROR: read bytes!=tag->length") != std::string::npos;
    }
    EXPECT_TRUE(lengthLine);
    for (std::size_t i = 0; i < read.Count(); ++i) {
      if (const DcmTag *t = read.ElementAt(i)) {
        EXPECT_EQ(t->data.size(), t->length == UNDEFINED_LENGTH ? 0 : t->length);
      }
    }
  }
}

} // namespace
} // namespace fw
