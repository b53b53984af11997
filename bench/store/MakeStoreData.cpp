// make_store_data FOLDER STILLS CLIPS FRAMES: writes STILLS single-frame and
// CLIPS multi-frame colour objects of 640x480 (JPEG Baseline, quality as the
// pixel conversion encodes) into FOLDER/stills and FOLDER/clips, the
// way the station's acquisitions look: US Image and US Multi-frame.
#include "conversion/ConvertTransferSyntax.h"
#include "dicom/DcmObj.h"
#include "dicom/DcmTag.h"
#include "dicom/Uids.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int WIDTH = 640;
constexpr int HEIGHT = 480;

// A moving scene with some texture, so frames compress like video does.
void FillFrame(std::uint8_t *rgb, int frame, std::uint32_t &seed) {
  for (int y = 0; y < HEIGHT; ++y) {
    for (int x = 0; x < WIDTH; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 28) - 8;
      const int cx = x - WIDTH / 2 - frame * 2;
      const int cy = y - HEIGHT / 2;
      const int disc = cx * cx + cy * cy < 150 * 150 ? 60 : 0;
      rgb[0] = static_cast<std::uint8_t>(std::clamp((x + frame) % 256 / 2 + disc + noise + 40, 0, 255));
      rgb[1] = static_cast<std::uint8_t>(std::clamp(y * 200 / HEIGHT + noise, 0, 255));
      rgb[2] = static_cast<std::uint8_t>(std::clamp(((x ^ y) & 0x3F) + disc + noise + 60, 0, 255));
      rgb += 3;
    }
  }
}

bool WriteObject(const std::string &path, std::string_view sopClass, const std::string &instance, int frames,
                 std::uint32_t &seed) {
  fw::DcmObj ds;
  ds.transferSyntax = std::string(fw::EXPLICIT_VR_LITTLE_ENDIAN);
  ds.explicitVR = true;
  ds.PutText(0x0008, 0x0016, sopClass);
  ds.PutText(0x0008, 0x0018, instance);
  ds.PutText(0x0008, 0x0060, "US");
  ds.PutText(0x0010, 0x0010, "BENCH^STORE");
  ds.PutText(0x0010, 0x0020, "BENCH1");
  ds.PutText(0x0020, 0x000D, "1.2.826.0.1.3680043.9.7777.2");
  ds.PutText(0x0020, 0x000E, "1.2.826.0.1.3680043.9.7777.2.20");
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0002, 3));
  ds.PutText(0x0028, 0x0004, "RGB ");
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0006, 0));
  if (frames > 1) {
    std::string count = std::to_string(frames);
    ds.PutText(0x0028, 0x0008, count.size() % 2 ? count + " " : count);
  }
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0010, HEIGHT));
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0011, WIDTH));
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0100, 8));
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0101, 8));
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0102, 7));
  ds.Put(fw::DcmTag::FromUS(0x0028, 0x0103, 0));
  const std::size_t frameBytes = static_cast<std::size_t>(WIDTH) * HEIGHT * 3;
  std::vector<std::uint8_t> pixels(frameBytes * frames);
  for (int f = 0; f < frames; ++f) {
    FillFrame(pixels.data() + frameBytes * f, f, seed);
  }
  ds.Put(fw::DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<std::uint32_t>(pixels.size()), pixels.data(), "OB"));
  return fw::ConvertTransferSyntax(ds, fw::JPEG_BASELINE) && ds.Write(path);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: make_store_data FOLDER STILLS CLIPS FRAMES\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  const int stills = std::atoi(argv[2]);
  const int clips = std::atoi(argv[3]);
  const int frames = std::atoi(argv[4]);
  std::filesystem::create_directories(folder / "stills");
  std::filesystem::create_directories(folder / "clips");
  std::uint32_t seed = 4242;
  for (int i = 1; i <= stills; ++i) {
    const std::string path = (folder / "stills" / ("still" + std::to_string(i) + ".dcm")).string();
    if (!WriteObject(path, "1.2.840.10008.5.1.4.1.1.6.1", "1.2.826.0.1.3680043.9.7777.2.10." + std::to_string(i), 1,
                     seed)) {
      std::fprintf(stderr, "make_store_data: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  for (int i = 1; i <= clips; ++i) {
    const std::string path = (folder / "clips" / ("clip" + std::to_string(i) + ".dcm")).string();
    if (!WriteObject(path, "1.2.840.10008.5.1.4.1.1.3.1", "1.2.826.0.1.3680043.9.7777.2.11." + std::to_string(i),
                     frames, seed)) {
      std::fprintf(stderr, "make_store_data: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
