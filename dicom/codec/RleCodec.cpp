// RLE Lossless frames (see RleCodec.h for the layout).
#include "dicom/codec/RleCodec.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace fw {

namespace {

constexpr std::size_t HEADER_BYTES = 64;
constexpr std::size_t MAX_LITERAL = 128;
constexpr std::size_t MAX_REPEAT = 128;

std::uint32_t Little32(const std::uint8_t *p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

void PutLittle32(std::uint8_t *p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Unpacks one segment into `count` bytes spaced `stride` apart from out.
// False when the segment ends first.
bool UnpackSegment(const std::uint8_t *in, const std::uint8_t *end, std::uint8_t *out, std::size_t count,
                   std::size_t stride) {
  std::size_t done = 0;
  while (done < count) {
    if (in == end)
      return false;
    const auto control = static_cast<std::int8_t>(*in++);
    if (control >= 0) {
      const std::size_t run = static_cast<std::size_t>(control) + 1;
      const std::size_t n = std::min(run, count - done);
      if (static_cast<std::size_t>(end - in) < n)
        return false;
      for (std::size_t i = 0; i < n; ++i)
        out[(done + i) * stride] = in[i];
      in += std::min(run, static_cast<std::size_t>(end - in));
      done += n;
    } else if (control != -128) {
      if (in == end)
        return false;
      const std::uint8_t value = *in++;
      const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(1 - control), count - done);
      for (std::size_t i = 0; i < n; ++i)
        out[(done + i) * stride] = value;
      done += n;
    }
  }
  return true;
}

// PackBits of one row of a plane: runs of three or more equal bytes repeat,
// the rest go out as literals.
void PackRow(const std::uint8_t *row, std::size_t count, std::vector<std::uint8_t> &out) {
  std::size_t i = 0;
  while (i < count) {
    std::size_t run = 1;
    while (i + run < count && run < MAX_REPEAT && row[i + run] == row[i])
      ++run;
    if (run >= 3 || (run == 2 && i + run == count)) {
      out.push_back(static_cast<std::uint8_t>(static_cast<std::int8_t>(1 - static_cast<int>(run))));
      out.push_back(row[i]);
      i += run;
      continue;
    }
    // A literal runs until a repeat of three starts or it is full.
    std::size_t literal = 0;
    while (i + literal < count && literal < MAX_LITERAL) {
      const std::size_t at = i + literal;
      if (at + 2 < count && row[at] == row[at + 1] && row[at] == row[at + 2])
        break;
      ++literal;
    }
    out.push_back(static_cast<std::uint8_t>(literal - 1));
    out.insert(out.end(), row + i, row + i + literal);
    i += literal;
  }
}

} // namespace

bool RleDecode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize,
               int bytesPerSample) {
  if (stream == nullptr || destination == nullptr || length < HEADER_BYTES ||
      (bytesPerSample != 1 && bytesPerSample != 2 && bytesPerSample != 4))
    return false;
  const std::uint32_t segments = Little32(stream);
  if (segments == 0 || segments > RLE_MAX_SEGMENTS || segments % static_cast<std::uint32_t>(bytesPerSample) != 0 ||
      destinationSize % segments != 0 || destinationSize == 0)
    return false;
  std::array<std::size_t, RLE_MAX_SEGMENTS + 1> bounds{};
  for (std::uint32_t s = 0; s < segments; ++s) {
    bounds[s] = Little32(stream + 4 + 4 * s);
    if (bounds[s] < HEADER_BYTES || bounds[s] >= length || (s > 0 && bounds[s] <= bounds[s - 1]))
      return false;
  }
  bounds[segments] = length;

  const std::size_t pixels = destinationSize / segments;
  const std::size_t stride = segments; // bytes from one pixel to the next
  for (std::uint32_t s = 0; s < segments; ++s) {
    const std::size_t sample = s / static_cast<std::uint32_t>(bytesPerSample);
    const std::size_t significance = static_cast<std::size_t>(bytesPerSample) - 1 - s % bytesPerSample;
    std::uint8_t *out = destination + sample * static_cast<std::size_t>(bytesPerSample) + significance;
    if (!UnpackSegment(stream + bounds[s], stream + bounds[s + 1], out, pixels, stride))
      return false;
  }
  return true;
}

bool RleEncode(const std::uint8_t *samples, int columns, int rows, int components, int bytesPerSample,
               std::vector<std::uint8_t> &output) {
  const int segments = components * bytesPerSample;
  if (samples == nullptr || columns <= 0 || rows <= 0 || components <= 0 || bytesPerSample <= 0 ||
      segments > RLE_MAX_SEGMENTS)
    return false;
  const auto width = static_cast<std::size_t>(columns);
  const std::size_t stride = static_cast<std::size_t>(segments);
  output.assign(HEADER_BYTES, 0);
  PutLittle32(output.data(), static_cast<std::uint32_t>(segments));
  std::vector<std::uint8_t> row(width);
  for (int s = 0; s < segments; ++s) {
    PutLittle32(output.data() + 4 + 4 * s, static_cast<std::uint32_t>(output.size()));
    const int sample = s / bytesPerSample;
    const int significance = bytesPerSample - 1 - s % bytesPerSample;
    const std::uint8_t *plane = samples + sample * bytesPerSample + significance;
    for (std::size_t r = 0; r < static_cast<std::size_t>(rows); ++r) {
      const std::uint8_t *in = plane + r * width * stride;
      for (std::size_t x = 0; x < width; ++x)
        row[x] = in[x * stride];
      PackRow(row.data(), width, output);
    }
    if (output.size() % 2 != 0)
      output.push_back(0x00);
  }
  return true;
}

} // namespace fw
