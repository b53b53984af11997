// BufData: byte-order conversion, bounded reads, file load and save.
#include "dicom/BufData.h"

#include "dicom/TemporaryFiles.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace fw {

std::uint16_t BufData::ReadUS() {
  std::uint8_t b[2] = {0, 0};
  ReadBytes(b, 2);
  return bigEndian ? static_cast<std::uint16_t>(b[0] << 8 | b[1]) : static_cast<std::uint16_t>(b[1] << 8 | b[0]);
}

std::uint32_t BufData::ReadUL() {
  std::uint8_t b[4] = {0, 0, 0, 0};
  ReadBytes(b, 4);
  if (bigEndian) {
    return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
  }
  return std::uint32_t{b[3]} << 24 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[1]} << 8 | b[0];
}

void BufData::WriteUS(std::uint16_t value) {
  std::uint8_t *p = Place(2);
  if (bigEndian) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
  } else {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
  }
}

void BufData::WriteUL(std::uint32_t value) {
  std::uint8_t *p = Place(4);
  for (int i = 0; i < 4; ++i) {
    const int shift = bigEndian ? 24 - 8 * i : 8 * i;
    p[i] = static_cast<std::uint8_t>(value >> shift);
  }
}

std::size_t BufData::ReadBytes(void *buffer, std::size_t n) {
  const std::size_t count = std::min(n, Remaining());
  if (count > 0) {
    std::memcpy(buffer, bytes_.data() + position_, count);
  }
  position_ += count;
  return count;
}

std::size_t BufData::ReadBytes(std::vector<std::uint8_t> &out, std::size_t n) {
  const std::size_t count = std::min(n, Remaining());
  const auto first = bytes_.begin() + static_cast<std::ptrdiff_t>(position_);
  out.assign(first, first + static_cast<std::ptrdiff_t>(count));
  position_ += count;
  return count;
}

void BufData::WriteBytes(const void *buffer, std::size_t n) {
  if (n == 0) {
    return;
  }
  if (position_ == bytes_.size()) {
    // Appending: no zero fill before the copy.
    const auto *first = static_cast<const std::uint8_t *>(buffer);
    bytes_.insert(bytes_.end(), first, first + n);
    position_ += n;
    return;
  }
  std::memcpy(Place(n), buffer, n);
}

void BufData::WriteBytesSwapped(const void *buffer, std::size_t n, std::size_t unit) {
  if (n == 0) {
    return;
  }
  const std::size_t at = position_;
  WriteBytes(buffer, n);
  std::uint8_t *out = bytes_.data() + at;
  if (unit > 1) {
    for (std::size_t at = 0; at + unit <= n; at += unit) {
      std::reverse(out + at, out + at + unit);
    }
  }
}

void BufData::Seek(std::size_t position) { position_ = std::min(position, bytes_.size()); }

void BufData::Clear() {
  bytes_.clear();
  position_ = 0;
}

std::vector<std::uint8_t> BufData::Release() {
  std::vector<std::uint8_t> out = std::move(bytes_);
  Clear();
  return out;
}

std::uint8_t *BufData::Place(std::size_t n) {
  if (bytes_.size() - position_ < n) {
    bytes_.resize(position_ + n);
  }
  std::uint8_t *p = bytes_.data() + position_;
  position_ += n;
  return p;
}

namespace {
// Distinguishes the temporary files of writes running at the same time.
unsigned long NextTemporaryNumber() {
  static std::atomic<unsigned long> next{0};
  return next.fetch_add(1, std::memory_order_relaxed);
}

struct FileCloser {
  void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
} // namespace

namespace {
// A large buffer about to be filled is faulted in as huge pages where the
// system allows it: a clip's bytes cost a few faults instead of thousands.
void AdviseHugePages(std::uint8_t *bytes, std::size_t size) {
  constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{2} << 20;
  const auto first = (reinterpret_cast<std::uintptr_t>(bytes) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(bytes) + size) & ~(HUGE_PAGE - 1);
  if (last > first) {
    madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
  }
}
} // namespace

bool BufData::LoadFromFile(const std::string &path) {
  Clear();
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    return false;
  }
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (!error && size > 0) {
    // Straight into place, in one call: no staging copy.
    bytes_.reserve(static_cast<std::size_t>(size));
    AdviseHugePages(bytes_.data(), bytes_.capacity());
    bytes_.resize(static_cast<std::size_t>(size));
    bytes_.resize(std::fread(bytes_.data(), 1, bytes_.size(), file.get()));
  }
  // Whatever follows (a file that grew since its size was taken, or one
  // whose size is not known) comes in chunks.
  std::uint8_t chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof(chunk), file.get())) > 0) {
    bytes_.insert(bytes_.end(), chunk, chunk + got);
  }
  if (std::ferror(file.get())) {
    Clear();
    return false;
  }
  return true;
}

bool BufData::SaveToFile(const std::string &path) const {
  const ByteSlice whole{bytes_.data(), bytes_.size()};
  return SaveSlicesToFile(path, &whole, 1);
}

namespace {

// Writes the slices to fd, many per system call.
bool WriteSlicesToFile(int fd, const ByteSlice *slices, std::size_t count) {
  return WriteSlices(slices, count, [fd](const iovec *vectors, int used) {
    ssize_t n = 0;
    do {
      n = ::writev(fd, vectors, used);
    } while (n < 0 && errno == EINTR);
    return n;
  });
}

} // namespace

bool SaveSlicesToFile(const std::string &path, const ByteSlice *slices, std::size_t count) {
  return SaveStreamToFile(path, [slices, count](const SliceWriter &write) { return write(slices, count); });
}

bool SaveStreamToFile(const std::string &path, const std::function<bool(const SliceWriter &)> &fill) {
  // Written beside the target and renamed over it, so a failed or interrupted
  // write leaves the old file whole (and a file converted onto itself is read
  // before anything replaces it). The folder is the target's, so the rename
  // never crosses file systems.
  const std::filesystem::path target(path);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  // Hidden, and named after the target and this process (TemporaryFiles.h).
  const std::string targetName = target.filename().string();
  int fd = -1;
  std::string temporary;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = (folder / TemporaryFileName(targetName, ::getpid(), NextTemporaryNumber())).string();
    // 0666 less the umask, as a file created in place would have.
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) {
      return false;
    }
  }
  if (fd < 0) {
    return false;
  }
  // A replaced file keeps its permissions.
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    ::fchmod(fd, existing.st_mode & 07777);
  }
  bool written = true;
  const SliceWriter write = [fd, &written](const ByteSlice *slices, std::size_t count) {
    written = written && WriteSlicesToFile(fd, slices, count);
    return written;
  };
  bool ok = fill(write) && written;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
  }
  return ok;
}

} // namespace fw
