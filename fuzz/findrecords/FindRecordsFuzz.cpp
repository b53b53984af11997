// Fuzz target: a C-FIND response identifier from a peer. The bytes are
// decoded in implicit VR little endian (what the searches negotiate) and the
// container goes through all four readers; the raw bytes are also decoded as
// a name under each kind of character set (ISO 2022 with escape sequences,
// UTF-8, GB18030), which must always give well-formed UTF-8. Seeds in corpus/ are study and worklist
// responses, one with "ISO_IR 192".
#include "dicom/BufData.h"
#include "dicom/DcmCodec.h"
#include "dicom/DcmObj.h"
#include "dicom/SpecificCharacterSet.h"
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

  const std::string_view bytes(reinterpret_cast<const char *>(data), size);
  for (const char *value : {"ISO 2022 IR 13\\ISO 2022 IR 87\\ISO 2022 IR 159", "\\ISO 2022 IR 149", "ISO_IR 192",
                            "GB18030", "ISO_IR 144"}) {
    if (!fw::IsUtf8(fw::SpecificCharacterSet::FromValue(value).Decode(bytes, true))) {
      __builtin_trap();
    }
  }
  return 0;
}
