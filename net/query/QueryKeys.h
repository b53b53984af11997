// PS3.4 C.6.2.1 query levels and keys
// QueryKeys: what the C-FIND key builders and response readers of the four
// query records (StudyInfo, SeriesInfo, ImageInfo, TWorklistItem) share.
//
// A key is an element made from a record field's text with the dictionary's
// VR (odd lengths padded: UI with a zero byte, the text VRs with a space); an
// empty field gives an element of length 0, which asks the peer to return the
// attribute. No wildcard is added.
//
// A response value is the element's text (cut at the first zero byte,
// blanks and control characters removed at both ends), decoded into UTF-8 by
// the declared character set (CharacterSet.h). Elements of length 0 or undefined length are
// passed over, so the field keeps what it had; a later element of the same
// tag overwrites an earlier one.
#pragma once

#include "dicom/DcmObj.h"
#include "dicom/DcmTag.h"
#include "dicom/Tags.h"
#include "net/query/CharacterSet.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

// Query/Retrieve Level's values.
inline constexpr std::string_view LEVEL_STUDY = "STUDY";
inline constexpr std::string_view LEVEL_SERIES = "SERIES";
inline constexpr std::string_view LEVEL_IMAGE = "IMAGE";

// One key of a query: the tag and the record field it takes its value from.
template <class Record> struct QueryKey {
  Tag tag;
  std::string Record::*field;
};

// Appends the key element with the text.
inline void AppendKey(DcmObj &identifier, Tag tag, std::string_view text) {
  identifier.Append(DcmTag::FromText(tag, text));
}

// Appends the keys of the table in order from the record; a key without a
// field is the level key and gets `level`.
template <class Record, std::size_t N>
void AppendKeys(DcmObj &identifier, const Record &record, const QueryKey<Record> (&keys)[N], std::string_view level) {
  for (const QueryKey<Record> &key : keys) {
    AppendKey(identifier, key.tag, key.field != nullptr ? std::string_view(record.*key.field) : level);
  }
}

// An element that carries a value a reader takes: a defined, non-zero length.
inline bool HasReadableValue(const DcmTag &t) { return t.length != 0 && t.length != UNDEFINED_LENGTH; }

// Sets the record field of the key whose tag is t's, when t has a value.
template <class Record, std::size_t N>
bool ReadKey(Record &record, const DcmTag &t, const QueryKey<Record> (&keys)[N], const TextCharset &charset) {
  if (!HasReadableValue(t)) {
    return false;
  }
  for (const QueryKey<Record> &key : keys) {
    if (key.field != nullptr && t.Is(key.tag)) {
      record.*key.field = StationText(t, charset);
      return true;
    }
  }
  return false;
}

} // namespace fw
