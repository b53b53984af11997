// UID tables and the base UID of an acquisition.
#include "dicom/Uids.h"

#include "dicom/MachineNumber.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace fw {

namespace {

struct UidRow {
  std::string_view uid;
  std::string_view name; // shown exactly as written, trailing space included
  bool imageStorage;
};

// clang-format off
constexpr UidRow UID_TABLE[] = {
    {"1.2.840.10008.1.2", "Little Endian Implicit VR", false},
    {"1.2.840.10008.1.2.1", "Little Endian Explicit VR", false},
    {"1.2.840.10008.1.2.2", "Big Endian Explicit VR", false},
    {"1.2.840.10008.1.2.5", "RLE LossLess", false},
    {"1.2.840.10008.1.2.4.70", "JPEG LossLess", false},
    {"1.2.840.10008.1.2.4.50", "JPEG BaseLine Lossy ", false},
    {"1.2.840.10008.1.2.4.51", "JPEG Extended Lossy", false},
    {"1.2.840.10008.1.2.4.90", "JPEG 2000 LossLess", false},
    {"1.2.840.10008.1.2.4.91", "JPEG 2000 Lossy", false},
    {"1.2.840.10008.1.1", "Verification", false},
    {"1.2.840.10008.5.1.4.31", "Worklist", false},
    {"1.2.840.10008.5.1.4.1.2.2.1", "C-FIND", false},
    {"1.2.840.10008.5.1.4.1.2.2.2", "C-MOVE", false},
    {"1.2.840.10008.5.1.1.1", "Basic Film Session SOP Class", false},
    {"1.2.840.10008.5.1.1.2", "Basic Film Box SOP Class", false},
    {"1.2.840.10008.5.1.1.4", "Basic Grayscale Image Box SOP Class", false},
    {"1.2.840.10008.5.1.1.4.1", "Basic Color Image Box SOP Class", false},
    {"1.2.840.10008.5.1.1.9", "Basic Grayscale Print Management Meta SOP Class", false},
    {"1.2.840.10008.5.1.1.14", "Print Job SOP Class", false},
    {"1.2.840.10008.5.1.1.15", "Basic Annotation Box SOP Class", false},
    {"1.2.840.10008.5.1.1.16", "Printer SOP Class", false},
    {"1.2.840.10008.5.1.1.17", "Printer SOP Instance", false},
    {"1.2.840.10008.5.1.1.18", "Basic Color Print Management Meta SOP Class", false},
    {"1.2.840.10008.5.1.1.23", "Presentation LUT SOP Class", false},
    {"1.2.840.10008.5.1.4.1.1.9.1.3", "Ambulatory ECG Waveform Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.11", "Basic Text SR", false},
    {"1.2.840.10008.5.1.4.1.1.9.4.1", "Basic Voice Audio Waveform Storage", false},
    {"1.2.840.10008.5.1.4.1.1.11.4", "Blending Softcopy Presentation State Storage", false},
    {"1.2.840.10008.5.1.4.1.1.9.3.1", "Cardiac Electrophysiology Waveform Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.65", "Chest CAD SR", false},
    {"1.2.840.10008.5.1.4.1.1.11.2", "Color Softcopy Presentation State Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.33", "Comprehensive SR", false},
    {"1.2.840.10008.5.1.4.1.1.104.1", "Encapsulated PDF Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.22", "Enhanced SR", false},
    {"1.2.840.10008.5.1.4.1.1.9.1.2", "General ECG Waveform Storage", false},
    {"1.2.840.10008.5.1.4.1.1.11.1", "Grayscale Softcopy Presentation State Storage", false},
    {"1.2.840.10008.5.1.4.1.1.9.2.1", "Hemodynamic Waveform Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.59", "Key Object Selection Document", false},
    {"1.2.840.10008.5.1.4.1.1.88.50", "Mammography CAD SR", false},
    {"1.2.840.10008.5.1.4.1.1.4.2", "MR Spectroscopy Storage", false},
    {"1.2.840.10008.5.1.4.1.1.129", "PET Curve Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.40", "Procedure Log Storage", false},
    {"1.2.840.10008.5.1.4.1.1.11.3", "Pseudo Color Softcopy Presentation StateStorage", false},
    {"1.2.840.10008.5.1.4.1.1.66", "Raw Data Storage", false},
    {"1.2.840.10008.5.1.4.1.1.67", "Real World Value Mapping Storage", false},
    {"1.2.840.10008.5.1.4.1.1.481.4", "RT Beams Treatment Record Storage", false},
    {"1.2.840.10008.5.1.4.1.1.481.6", "RT Brachy Treatment Record Storage", false},
    {"1.2.840.10008.5.1.4.1.1.481.2", "RT Dose Storage", false},
    {"1.2.840.10008.5.1.4.1.1.481.5", "RT Plan Storage", false},
    {"1.2.840.10008.5.1.4.1.1.481.3", "RT Structure Set Storage", false},
    {"1.2.840.10008.5.1.4.1.1.481.7", "RT Treatment Summary Record Storage", false},
    {"1.2.840.10008.5.1.4.1.1.66.2", "Spatial Fiducials Storage", false},
    {"1.2.840.10008.5.1.4.1.1.66.1", "Spatial Registration Storage", false},
    {"1.2.840.10008.5.1.4.1.1.9", "Standalone Curve Storage", false},
    {"1.2.840.10008.5.1.4.1.1.10", "Standalone Modality LUT Storage", false},
    {"1.2.840.10008.5.1.4.1.1.8", "Standalone Overlay Storage", false},
    {"1.2.840.10008.5.1.4.1.1.11", "Standalone VOI LUT Storage", false},
    {"1.2.840.10008.5.1.4.1.1.77.1.5.3", "Stereometric Relationship Storage", false},
    {"1.2.840.10008.5.1.1.27", "Stored Print Storage", false},
    {"1.2.840.10008.5.1.4.1.1.9.1.1", "Twelve Lead ECG Waveform Storage", false},
    {"1.2.840.10008.5.1.4.1.1.88.67", "XRay Radiation Dose SR", false},
    {"1.2.840.10008.5.1.4.1.1.1", "CR Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.2", "CT Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.1.2", "Digital Mammography X-ray Image Storage - For Presentation", true},
    {"1.2.840.10008.5.1.4.1.1.1.2.1", "Digital Mammography X-ray Image Storage - For Processing", true},
    {"1.2.840.10008.5.1.4.1.1.1.3", "Digital IntraOral X-ray Image Storage - For Presentation", true},
    {"1.2.840.10008.5.1.4.1.1.1.3.1", "Digital IntraOral X-ray Image Storage - For Processing", true},
    {"1.2.840.10008.5.1.4.1.1.1.1", "Digital X-ray Image Storage - For Presentation", true},
    {"1.2.840.10008.5.1.4.1.1.1.1.1", "Digital X-ray Image Storage - For Processing", true},
    {"1.2.840.10008.5.1.4.1.1.2.1", "Enhanced CT Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.4.1", "Enhanced MR Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.12.1.1", "Enhanced XA Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.12.2.1", "XRF Image Storage", true},
    {"1.2.840.10008.5.1.1.30", "Hardcopy Color Image StorageSOP Class (Retired)", true},
    {"1.2.840.10008.5.1.1.29", "Hardcopy Grayscale Image Storage SOP Class (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.4", "MR Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.7.2", "Multi-frame Grayscale Byte Secondary Capture Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.7.3", "Multi-frame Grayscale Word Secondary Capture Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.7.1", "Multi-frame Single Bit Secondary Capture Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.7.4", "Multi-frame True Color Byte Secondary Capture Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.20", "Nuclear Medicine Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.5.1", "Ophthalmic Photography 8 bit Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.5.2", "Ophthalmic Photography 16 bit Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.128", "Positron Emission Tomography (PET) Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.5", "Nuclear Medicine Image Storage (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.6", "Ultrasound Image Storage (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.3", "Ultrasound Multi-frame Image Storage (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.77.1", "VL Image Storage (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.77.2", "VL Multi-frame Image Storage (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.12.3", "X Ray Angiographic BiPlane Image Storage (Retired)", true},
    {"1.2.840.10008.5.1.4.1.1.481.1", "RT Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.7", "Secondary Capture Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.6.1", "Ultrasound Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.3.1", "Ultrasound Multi-frame Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.1.1", "Video Endoscopic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.2.1", "Video Microscopic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.4.1", "Video Photographic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.1", "VL Video Endoscopic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.2", "VL Video Microscopic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.77.1.4", "VL Video Photographic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.12.1", "X-Ray Angiographic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.12.2", "X-Ray Radiofluoroscopic Image Storage", true},
    {"1.2.840.10008.5.1.4.1.1.13.1.2", "", true},
};
// clang-format on

constexpr std::string_view SUPPORTED_TRANSFER_SYNTAXES[] = {
    IMPLICIT_VR_LITTLE_ENDIAN,
    EXPLICIT_VR_LITTLE_ENDIAN,
    EXPLICIT_VR_BIG_ENDIAN,
    DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN,
    RLE_LOSSLESS,
    JPEG_LOSSLESS,
    JPEG_BASELINE,
    JPEG_EXTENDED,
    JPEG_2000_LOSSLESS,
    JPEG_2000,
    JPEG_LS_LOSSLESS,
    JPEG_LS_NEAR_LOSSLESS,
    MPEG2_MAIN_PROFILE,
};

const UidRow *FindUid(std::string_view uid) {
  const auto row =
      std::find_if(std::begin(UID_TABLE), std::end(UID_TABLE), [&](const UidRow &r) { return r.uid == uid; });
  return row != std::end(UID_TABLE) ? row : nullptr;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// 100 ns intervals from the start of the Gregorian calendar (15 October
// 1582) to the Unix epoch: the clock of version 1 UUIDs.
constexpr std::uint64_t GREGORIAN_TO_UNIX_100NS = 0x01B21DD213814000ULL;

// The 48-bit node of a time-based UUID: the first Ethernet hardware address,
// else a number made from the process and the clock with the multicast bit
// set, which RFC 4122 reserves for nodes that are not hardware addresses.
std::array<std::uint8_t, 6> NodeOfThisMachine(std::uint64_t timestamp) {
  std::array<std::uint8_t, 6> node{};
  for (const NetworkAdapter &adapter : ListNetworkAdapters()) {
    if (adapter.ethernet && adapter.hardwareAddress.size() == node.size() && FoldedAddress(adapter.hardwareAddress)) {
      std::copy(adapter.hardwareAddress.begin(), adapter.hardwareAddress.end(), node.begin());
      return node;
    }
  }
  const std::uint64_t mixed = (static_cast<std::uint64_t>(::getpid()) << 24) ^ timestamp;
  for (std::size_t i = 0; i < node.size(); ++i) {
    node[i] = static_cast<std::uint8_t>(mixed >> (8 * i));
  }
  node[0] |= 0x01;
  return node;
}

// A version 1 UUID: the 100 ns clock (strictly increasing within the
// process), a clock sequence from the process number (so two processes in
// the same 100 ns still differ) and the node.
Uuid TimeBasedUuid() {
  static std::mutex mutex;
  static std::uint64_t last = 0;
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  std::uint64_t timestamp =
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count() / 100) +
      GREGORIAN_TO_UNIX_100NS;
  {
    const std::lock_guard lock(mutex);
    timestamp = std::max(timestamp, last + 1);
    last = timestamp;
  }
  const auto pid = static_cast<std::uint32_t>(::getpid());
  const std::uint32_t clockSequence = (pid ^ (pid >> 14)) & 0x3FFF;
  // Looked up once: the adapter list is slow to read.
  static const std::array<std::uint8_t, 6> node = NodeOfThisMachine(timestamp);

  Uuid uuid{};
  const auto timeLow = static_cast<std::uint32_t>(timestamp);
  const auto timeMid = static_cast<std::uint16_t>(timestamp >> 32);
  const auto timeHigh = static_cast<std::uint16_t>((timestamp >> 48) & 0x0FFF);
  for (int i = 0; i < 4; ++i) {
    uuid[i] = static_cast<std::uint8_t>(timeLow >> (24 - 8 * i));
  }
  uuid[4] = static_cast<std::uint8_t>(timeMid >> 8);
  uuid[5] = static_cast<std::uint8_t>(timeMid);
  uuid[6] = static_cast<std::uint8_t>(0x10 | (timeHigh >> 8));
  uuid[7] = static_cast<std::uint8_t>(timeHigh);
  uuid[8] = static_cast<std::uint8_t>(0x80 | (clockSequence >> 8));
  uuid[9] = static_cast<std::uint8_t>(clockSequence);
  std::copy(node.begin(), node.end(), uuid.begin() + 10);
  return uuid;
}

bool ReadUrandom(std::span<std::uint8_t> bytes) {
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;
    }
    filled += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return filled == bytes.size();
}

} // namespace

bool KernelRandomBytes(std::span<std::uint8_t> bytes) {
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    // Blocks only until the kernel's pool is first seeded, early at boot.
    const ssize_t n = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      // No getrandom (an old kernel or a sandbox that filters it).
      return ReadUrandom(bytes.subspan(filled));
    }
    filled += static_cast<std::size_t>(n);
  }
  return true;
}

Uuid NewUuid(const RandomBytes &random) {
  Uuid uuid{};
  if (!random || !random(uuid)) {
    return TimeBasedUuid();
  }
  uuid[6] = static_cast<std::uint8_t>((uuid[6] & 0x0F) | 0x40); // version 4
  uuid[8] = static_cast<std::uint8_t>((uuid[8] & 0x3F) | 0x80); // RFC 4122 variant
  return uuid;
}

std::string UuidDecimal(const Uuid &uuid) {
  // Long division of the 128-bit number by 10, four 32-bit limbs at a time.
  std::array<std::uint32_t, 4> limbs{};
  for (std::size_t i = 0; i < uuid.size(); ++i) {
    limbs[i / 4] = (limbs[i / 4] << 8) | uuid[i];
  }
  std::string digits;
  const auto isZero = [&] { return std::all_of(limbs.begin(), limbs.end(), [](std::uint32_t v) { return v == 0; }); };
  do {
    std::uint64_t remainder = 0;
    for (std::uint32_t &limb : limbs) {
      const std::uint64_t value = (remainder << 32) | limb;
      limb = static_cast<std::uint32_t>(value / 10);
      remainder = value % 10;
    }
    digits += static_cast<char>('0' + remainder);
  } while (!isZero());
  std::reverse(digits.begin(), digits.end());
  return digits;
}

std::string MakeBaseUID(const RandomBytes &random) { return "2.25." + UuidDecimal(NewUuid(random)); }

std::string MakeBaseUID() { return MakeBaseUID(KernelRandomBytes); }

bool IsValidUID(std::string_view uid) {
  if (uid.empty() || uid.size() > 64) {
    return false;
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = uid.find('.', start);
    const std::string_view component = uid.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (component.empty() || !std::all_of(component.begin(), component.end(), IsDigit) ||
        (component.size() > 1 && component.front() == '0')) {
      return false;
    }
    if (dot == std::string_view::npos) {
      return true;
    }
    start = dot + 1;
  }
}

std::string UIDName(std::string_view uid) {
  const UidRow *row = FindUid(uid);
  return row != nullptr ? std::string(row->name) : std::string();
}

bool IsImageStorageClass(std::string_view uid) {
  const UidRow *row = FindUid(uid);
  return row != nullptr && row->imageStorage;
}

bool IsSupportedTransferSyntax(std::string_view uid) {
  return std::find(std::begin(SUPPORTED_TRANSFER_SYNTAXES), std::end(SUPPORTED_TRANSFER_SYNTAXES), uid) !=
         std::end(SUPPORTED_TRANSFER_SYNTAXES);
}

bool IsConversionTarget(std::string_view uid) {
  return IsSupportedTransferSyntax(uid) && uid != MPEG2_MAIN_PROFILE && uid != JPEG_LS_LOSSLESS &&
         uid != JPEG_LS_NEAR_LOSSLESS;
}

} // namespace fw
