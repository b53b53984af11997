// Fuzz target: a C-FIND response identifier from a peer. The bytes are
// decoded in implicit VR little endian (what the searches negotiate) and the
// container goes through all four readers; the Latin-1 conversion of UTF-8
// texts runs on the raw bytes too. Seeds in corpus/ are study and worklist
// responses, one with "ISO_IR 192".
#include "dicom/BufData.h"
#include "dicom/DcmCodec.h"
#include "dicom/DcmObj.h"
#include "net/query/CharacterSet.h"
#include "net/query/ImageInfo.h"
#include "net/query/SeriesInfo.h"
#include "net/query/StudyInfo.h"
#include "net/query/TWorklistItem.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fw::DcmObj identifier;
  fw::BufData in(std::vector<std::uint8_t>(data, data + size), false);
  fw::ReadOjb(in, identifier);

  fw::StudyInfo study;
  fw::ReadStudyInfo(study, identifier);
  fw::SeriesInfo series;
  fw::ReadSeriesInfo(series, identifier);
  fw::ImageInfo image;
  fw::ReadImageInfo(image, identifier);
  fw::TWorklistItem item;
  fw::ReadWorklistItem(item, identifier);

  const std::string latin1 = fw::Utf8ToLatin1(std::string_view(reinterpret_cast<const char *>(data), size));
  if (latin1.size() > size) {
    __builtin_trap();
  }
  return 0;
}
