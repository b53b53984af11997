// Dictionary look-ups: a binary search over the generated table, which is
// strictly ascending, so the result equals that of a first-match scan.
#include "dicom/DataDictionary.h"

#include "dicom/DcmTag.h"

#include <algorithm>

namespace fw {

const DictionaryEntry *FindDictionaryEntry(std::uint16_t group, std::uint16_t element) {
  const std::uint32_t key = std::uint32_t{group} << 16 | element;
  const DictionaryEntry *end = DataDictionary + DataDictionaryRows;
  const DictionaryEntry *row =
      std::lower_bound(DataDictionary, end, key, [](const DictionaryEntry &entry, std::uint32_t k) {
        return (std::uint32_t{entry.group} << 16 | entry.element) < k;
      });
  if (row == end || row->group != group || row->element != element) {
    return nullptr;
  }
  return row;
}

void LookupVR(DcmTag &tag) {
  const DictionaryEntry *row = FindDictionaryEntry(tag.group, tag.element);
  tag.vr = {};
  if (row == nullptr) {
    tag.vr[0] = 'U';
    tag.vr[1] = 'N';
    return;
  }
  tag.vr[0] = row->vr[0];
  tag.vr[1] = row->vr[1];
}

std::string LookupName(const DcmTag &tag) {
  const DictionaryEntry *row = FindDictionaryEntry(tag.group, tag.element);
  return row != nullptr ? row->name : UNIDENTIFIED_NAME;
}

} // namespace fw
