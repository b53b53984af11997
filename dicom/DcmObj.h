// DcmObj: the one container of the toolkit. It holds a data set, a command set,
// a query identifier, a sequence or an item: ordered, owned entries, each a data
// element (DcmTag) or a nested DcmObj. It carries the transfer syntax and the
// explicit-VR flag the encoder uses, and, when nested, a header element with the
// sequence or item tag.
//
// Sequences take one of two forms, and both may appear in one container:
//
//   expanded  a nested DcmObj whose header is the sequence (VR "SQ"); its entries
//             are the items, each a nested DcmObj with header (FFFE,E000) and no
//             VR, holding the item's elements.
//   flat      the sequence element itself with UNDEFINED_LENGTH, followed in the
//             same container by its items (nested, or an (FFFE,E000) element of
//             UNDEFINED_LENGTH, the item's elements and (FFFE,E00D)) and closed by
//             (FFFE,E0DD). Encapsulated pixel data is always flat: (7FE0,0010) of
//             UNDEFINED_LENGTH, one (FFFE,E000) element per fragment, (FFFE,E0DD).
//
// Top level. Put, FindUS, FindText and InsertSequence only look at top-level
// entries: every element of UNDEFINED_LENGTH other than a delimiter (a flat
// sequence, a flat item, encapsulated pixel data) opens a level after it has
// been looked at, and (FFFE,E00D) and (FFFE,E0DD) close one; entries inside
// are passed over. A delimiter without an opening element is passed over too.
//
// Order. The container does not sort: Append keeps the order of arrival; Put
// and InsertSequence place a new entry before the first top-level entry with a
// greater tag, so a sorted data set stays sorted. Tags order by group, then
// element; a nested container's tag is its header's.
//
// Indexes are 0 .. Count() - 1. An index outside that range is a caller error
// that does no harm: it reads as no entry, and InsertAt past the end appends.
#pragma once

#include "dicom/DcmEntry.h"
#include "dicom/DcmTag.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

class BufData;

class DcmObj final : public DcmEntry {
public:
  // Transfer syntax UID of the data set; only the outermost one matters for
  // encoding.
  std::string transferSyntax = "1.2.840.10008.1.2";
  // Encode and decode with explicit VR.
  bool explicitVR = false;
  // For a nested container: its sequence or item element (tag, VR, length).
  DcmTag header;

  DcmObj() : DcmEntry(false) {}
  ~DcmObj() override;
  DcmObj(const DcmObj &) = delete;
  DcmObj &operator=(const DcmObj &) = delete;

  std::size_t Count() const { return children_.size(); }
  using DcmEntry::IsElement;
  // The entry at index is a DcmTag.
  bool IsElement(std::size_t index) const;
  // The entry at index, or null.
  DcmEntry *EntryAt(std::size_t index);
  const DcmEntry *EntryAt(std::size_t index) const;
  // The entry at index when it is an element, else null.
  DcmTag *ElementAt(std::size_t index);
  const DcmTag *ElementAt(std::size_t index) const;
  // The entry at index when it is a nested container, else null.
  DcmObj *ContainerAt(std::size_t index);
  const DcmObj *ContainerAt(std::size_t index) const;

  // Adds the entry after the last one; the container takes it over.
  void Append(std::unique_ptr<DcmEntry> entry);
  // Inserts the entry before entry index; index = Count() appends.
  void InsertAt(std::size_t index, std::unique_ptr<DcmEntry> entry);
  // Destroys entry index and removes it.
  void RemoveAt(std::size_t index);
  // Destroys all entries; header, transferSyntax and explicitVR stay.
  void Clear();

  // Ordered insert of the element, or, when a top-level entry has its tag,
  // replacement of that entry's value (a flat sequence is replaced with its
  // content). A top-level group length element (gggg,0000) of the element's
  // group, seen before the place of insertion, grows by the value length plus 8
  // of an inserted element, or by the change in value length of a replaced one.
  void Put(std::unique_ptr<DcmTag> element);
  // Put of DcmTag::FromText (group, element, text), VR from the dictionary.
  void PutText(std::uint16_t group, std::uint16_t element, std::string_view text);
  void PutText(fw::Tag tag, std::string_view text) { PutText(tag.group, tag.element, text); }
  // Put of DcmTag::FromBytes (group, element, length, bytes), VR from the
  // dictionary.
  void PutBytes(std::uint16_t group, std::uint16_t element, std::uint32_t length, const void *bytes);
  void PutBytes(fw::Tag tag, std::uint32_t length, const void *bytes) {
    PutBytes(tag.group, tag.element, length, bytes);
  }

  // The first top-level element with the tag, or null; nested containers are
  // passed over.
  const DcmTag *FindElement(std::uint16_t group, std::uint16_t element) const;
  const DcmTag *FindElement(fw::Tag tag) const { return FindElement(tag.group, tag.element); }
  // GetUS of that element; 0 when there is none.
  std::uint16_t FindUS(std::uint16_t group, std::uint16_t element) const;
  std::uint16_t FindUS(fw::Tag tag) const { return FindUS(tag.group, tag.element); }
  // GetText of that element; empty when there is none.
  std::string FindText(std::uint16_t group, std::uint16_t element) const;
  std::string FindText(fw::Tag tag) const { return FindText(tag.group, tag.element); }

  // Ordered insert of a deep copy of source as a nested container with the
  // given tag (VR "SQ" unless the group is FFFE or the element is E000, so an
  // item built this way has no VR; length 0 until written). It goes after any
  // top-level entries of an equal tag; it never replaces and leaves group
  // lengths alone.
  void InsertSequence(std::uint16_t group, std::uint16_t element, const DcmObj &source);
  void InsertSequence(fw::Tag tag, const DcmObj &source) { InsertSequence(tag.group, tag.element, source); }
  // Adds deep copies of all entries of source: elements appended in source
  // order, nested containers placed by InsertSequence.
  void CopyFrom(const DcmObj &source);

  // DICOM files (DcmFile.cpp). Write replaces the file at path with the
  // preamble, "DICM", the file meta information made from (0008,0016),
  // (0008,0018) and transferSyntax, and the data set; true when it was saved.
  bool Write(const std::string &path);
  // Hands a value's bytes, in order and in pieces of any size, to write;
  // false when it cannot deliver them (or write returned false).
  using ValueProducer =
      std::function<bool(const std::function<bool(const std::uint8_t *bytes, std::size_t size)> &write)>;
  // Write with the value of the top-level element (group,element) coming
  // from produce instead of memory: the element holds its VR and length, its
  // bytes are not needed. produce must deliver exactly length bytes, or the
  // write fails and the old file stays. Not for deflated data sets.
  bool Write(const std::string &path, std::uint16_t group, std::uint16_t element, const ValueProducer &produce);
  bool Write(const std::string &path, fw::Tag tag, const ValueProducer &produce) {
    return Write(path, tag.group, tag.element, produce);
  }
  // Appends the data set of the file at path (pass an empty container) and
  // sets transferSyntax and explicitVR from its meta information; true when
  // the whole data set was decoded and is whole (DcmFile.h: a cut clip or
  // pixel data that contradicts its transfer syntax is refused, the
  // elements read staying in the container). A failed decoding is logged as
  // "ERROR: DcmObj::Read, " + path.
  bool Read(const std::string &path);
  // Read that inflates a deflated data set of up to maxInflatedBytes
  // (MAX_INFLATED_BYTES for the others).
  bool Read(const std::string &path, std::size_t maxInflatedBytes);
  // Appends the elements of the file's data set that come before the first
  // top-level element of tag (group,element) or greater, and sets
  // transferSyntax and explicitVR from its meta information; the rest of the
  // file is not read. What is read is bounded: the head of the file first,
  // more only while an element before the tag runs past it, never more than
  // the file. False, without a log line, when the file is no DICOM file or
  // cannot be read, its meta information has no transfer syntax or a
  // deflated one, or an element before the tag is cut short (Read tells
  // why); the elements before a failure may stay in the container.
  bool ReadUpTo(const std::string &path, std::uint16_t group, std::uint16_t element);
  bool ReadUpTo(const std::string &path, fw::Tag tag) { return ReadUpTo(path, tag.group, tag.element); }
  // The same from and to memory: the whole file in stream.
  void WriteTo(BufData &stream);
  bool ReadFrom(BufData &stream);
  // ReadFrom of a whole file's bytes, taken over: its large values (pixel
  // data, fragments) stay in them as views instead of being copied. Read
  // reads this way.
  bool ReadFrom(std::vector<std::uint8_t> file);

  DcmTag &Tag() override { return header; }
  const DcmTag &Tag() const override { return header; }

private:
  // Destroys the entries without recursing into nested containers.
  static void DestroyAll(std::vector<std::unique_ptr<DcmEntry>> entries);

  // What Put learnt from the entries it has walked, so that a data set built
  // in ascending tag order is not walked again from the start on every Put.
  // Entries added after the walk (Append, an appending Put) are walked on
  // the next Put; any other change, and any non-const access to an entry,
  // drops it.
  struct TailScan {
    std::size_t scanned = 0;          // entries walked
    const DcmEntry *last = nullptr;   // children_[scanned - 1] when walked
    std::size_t depth = 0;            // flat nesting after them
    bool anyTop = false;              // a top-level entry was seen
    std::uint32_t greatestTopKey = 0; // greatest top-level tag seen
    // Last top-level 4-byte group length element seen, per group.
    std::vector<std::pair<std::uint16_t, DcmTag *>> groupLengths;
  };
  // Walks the entries added since the last walk (all of them when the record
  // no longer matches the entries).
  void AdvanceTailScan();
  void DropTailScan() { tail_ = TailScan{}; }

  std::vector<std::unique_ptr<DcmEntry>> children_;
  TailScan tail_;
};

} // namespace fw
