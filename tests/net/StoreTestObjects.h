// Objects for the storage tests: small colour images (stills and clips) made
// in memory, JPEG Baseline or native, and the messages a station sent on an
// association taken apart again.
#pragma once

#include "dicom/DcmObj.h"
#include "dicom/DcmTag.h"
#include "dicom/Uids.h"
#include "presentation/ImageConversion.h"
#include "tests/net/AssociationScripts.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fw::test {

inline constexpr std::string_view US_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.6.1";
inline constexpr std::string_view US_MULTIFRAME_STORAGE = "1.2.840.10008.5.1.4.1.1.3.1";

// Smooth colour ramps, different in every frame, so JPEG keeps them close.
inline std::vector<std::uint8_t> RampPixels(int width, int height, int frames) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3 * frames);
  std::size_t at = 0;
  for (int f = 0; f < frames; ++f) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        pixels[at++] = static_cast<std::uint8_t>((x * 255 / width + f * 9) & 0xFF);
        pixels[at++] = static_cast<std::uint8_t>(y * 255 / height);
        pixels[at++] = static_cast<std::uint8_t>(((x + y) * 127 / (width + height) + f * 5) & 0xFF);
      }
    }
  }
  return pixels;
}

// A colour image in explicit VR little endian, converted to `syntax` when
// that is another one. frames > 1 adds Number of Frames.
inline std::unique_ptr<DcmObj> MakeImage(std::string_view sopClass, std::string_view instanceUID, int frames,
                                         std::string_view syntax = JPEG_BASELINE, int width = 64, int height = 48) {
  auto ds = std::make_unique<DcmObj>();
  ds->transferSyntax = std::string(EXPLICIT_VR_LITTLE_ENDIAN);
  ds->explicitVR = true;
  ds->PutText(0x0008, 0x0016, sopClass);
  ds->PutText(0x0008, 0x0018, instanceUID);
  ds->PutText(0x0008, 0x0060, "US");
  ds->PutText(0x0010, 0x0010, "DOE^JANE");
  ds->PutText(0x0010, 0x0020, "PID-42");
  ds->PutText(0x0020, 0x000D, "1.2.826.0.1.3680043.9.7777.1");
  ds->PutText(0x0020, 0x000E, "1.2.826.0.1.3680043.9.7777.1.20");
  ds->PutText(0x0020, 0x0013, "1 ");
  ds->Put(DcmTag::FromUS(0x0028, 0x0002, 3));
  ds->PutText(0x0028, 0x0004, "RGB ");
  ds->Put(DcmTag::FromUS(0x0028, 0x0006, 0));
  if (frames > 1) {
    const std::string count = std::to_string(frames);
    ds->PutText(0x0028, 0x0008, count.size() % 2 ? count + " " : count);
  }
  ds->Put(DcmTag::FromUS(0x0028, 0x0010, static_cast<std::uint16_t>(height)));
  ds->Put(DcmTag::FromUS(0x0028, 0x0011, static_cast<std::uint16_t>(width)));
  ds->Put(DcmTag::FromUS(0x0028, 0x0100, 8));
  ds->Put(DcmTag::FromUS(0x0028, 0x0101, 8));
  ds->Put(DcmTag::FromUS(0x0028, 0x0102, 7));
  ds->Put(DcmTag::FromUS(0x0028, 0x0103, 0));
  const std::vector<std::uint8_t> pixels = RampPixels(width, height, frames);
  ds->Put(DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<std::uint32_t>(pixels.size()), pixels.data(), "OB"));
  if (syntax != EXPLICIT_VR_LITTLE_ENDIAN && !ConvertTransferSyntax(*ds, syntax)) {
    return nullptr;
  }
  return ds;
}

// One message as sent: the context it went on, command or data set, bytes.
struct SentMessage {
  std::uint8_t contextID = 0;
  bool command = false;
  std::string bytes;
};

// Gathers the PDVs of the P-DATA-TF PDUs in `bytes` into messages.
inline std::vector<SentMessage> SentMessages(std::string_view bytes) {
  std::vector<SentMessage> messages;
  SentMessage current;
  for (const ReceivedPdu &pdu : SplitPdus(bytes)) {
    if (pdu.type != 0x04) {
      continue;
    }
    std::size_t at = 0;
    while (at + 6 <= pdu.body.size()) {
      const auto byte = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<std::uint8_t>(pdu.body[i]));
      };
      const std::uint32_t length = byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
      current.contextID = static_cast<std::uint8_t>(pdu.body[at + 4]);
      const std::uint8_t control = static_cast<std::uint8_t>(pdu.body[at + 5]);
      current.command = (control & 1) != 0;
      current.bytes += pdu.body.substr(at + 6, length - 2);
      if (control & 2) {
        messages.push_back(std::move(current));
        current = {};
      }
      at += 4 + length;
    }
  }
  return messages;
}

} // namespace fw::test
