// Dictionary look-ups: a binary search over the generated table, which is
// strictly ascending, so the result equals that of a first-match scan.
#include "dicom/DataDictionary.h"

#include "dicom/DcmTag.h"

#include <algorithm>
#include <vector>

namespace fw {

namespace {

std::uint32_t KeyOf(std::uint16_t group, std::uint16_t element) { return std::uint32_t{group} << 16 | element; }

// The rows' tags as one compact array, searched instead of the 16-byte rows
// so the whole index stays in the first-level cache.
const std::vector<std::uint32_t> &Keys() {
  static const std::vector<std::uint32_t> keys = [] {
    std::vector<std::uint32_t> k(DataDictionaryRows);
    for (std::size_t i = 0; i < DataDictionaryRows; ++i) {
      k[i] = KeyOf(DataDictionary[i].group, DataDictionary[i].element);
    }
    return k;
  }();
  return keys;
}

} // namespace

const DictionaryEntry *FindDictionaryEntry(std::uint16_t group, std::uint16_t element) {
  const std::uint32_t key = KeyOf(group, element);
  const std::vector<std::uint32_t> &keys = Keys();
  const auto at = std::lower_bound(keys.begin(), keys.end(), key);
  if (at == keys.end() || *at != key) {
    return nullptr;
  }
  return DataDictionary + (at - keys.begin());
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
