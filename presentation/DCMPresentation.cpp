// Window/level rendering of a prepared display image into a QImage (see
// DCMPresentation.h for the geometry and the level mapping).
#include "presentation/DCMPresentation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace fw {

namespace {

enum class Output { Rgb24, Grey8 };

Output PrepareBitmap(QImage &bitmap) {
  switch (bitmap.format()) {
  case QImage::Format_BGR888:
    return Output::Rgb24;
  case QImage::Format_Grayscale8:
  case QImage::Format_Indexed8:
    return Output::Grey8;
  default:
    bitmap = bitmap.convertToFormat(QImage::Format_BGR888);
    return Output::Rgb24;
  }
}

std::uint8_t Red(std::uint32_t colour) { return static_cast<std::uint8_t>(colour & 0xFF); }
std::uint8_t Green(std::uint32_t colour) { return static_cast<std::uint8_t>((colour >> 8) & 0xFF); }
std::uint8_t Blue(std::uint32_t colour) { return static_cast<std::uint8_t>((colour >> 16) & 0xFF); }
std::uint8_t GreyOf(std::uint32_t colour) {
  return static_cast<std::uint8_t>((Red(colour) + Green(colour) + Blue(colour)) / 3);
}

void Fill(QImage &bitmap, Output output, std::uint32_t colour) {
  const int width = bitmap.width();
  for (int y = 0; y < bitmap.height(); ++y) {
    std::uint8_t *line = bitmap.scanLine(y);
    if (output == Output::Grey8) {
      std::memset(line, GreyOf(colour), static_cast<std::size_t>(width));
      continue;
    }
    for (int x = 0; x < width; ++x) {
      line[3 * x] = Blue(colour);
      line[3 * x + 1] = Green(colour);
      line[3 * x + 2] = Red(colour);
    }
  }
}

// L(v), or its MONOCHROME1 form, in 64-bit arithmetic so that no window
// setting overflows.
std::uint8_t Level(std::int64_t v, std::int64_t centre, std::int64_t width, bool inverted) {
  const std::int64_t offset = inverted ? centre - v : v - centre;
  return static_cast<std::uint8_t>(std::clamp<std::int64_t>(offset * 255 / width + 127, 0, 255));
}

std::int64_t WindowWidth(const DCMPresentation &p) { return std::max<std::int64_t>(p.windowWidth, 1); }

// The 256-entry window table of the 8-bit sources.
std::array<std::uint8_t, 256> WindowTable(const DCMPresentation &p) {
  std::array<std::uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t level = Level(i, p.windowCentre, WindowWidth(p), false);
    table[static_cast<std::size_t>(i)] = p.images.isMonochrome1 ? static_cast<std::uint8_t>(255 - level) : level;
  }
  return table;
}

// A source position: whole pixel and 8-bit fraction.
struct Sample {
  int out;          // output column or row
  std::uint32_t at; // source column or row
  std::uint32_t fraction;
};

// Where the output columns (or rows) first..last-1 fall in a source of size
// pixels, for those strictly inside it (0 < pos < (size - 1) x 256).
std::vector<Sample> Positions(int first, int last, std::int64_t step, std::int64_t origin, int size) {
  std::vector<Sample> samples;
  const std::int64_t end = (static_cast<std::int64_t>(size) - 1) * 256;
  for (int i = first; i < last; ++i) {
    const std::int64_t pos = static_cast<std::int64_t>(i) * step + origin * 256;
    if (pos > 0 && pos < end)
      samples.push_back({i, static_cast<std::uint32_t>(pos >> 8), static_cast<std::uint32_t>(pos & 0xFF)});
  }
  return samples;
}

// Everything a variant needs to draw one frame, or nothing to draw.
struct Plan {
  bool draw = false;
  Output output = Output::Rgb24;
  const std::uint8_t *frame = nullptr;
  std::size_t stride = 0; // source bytes per row
  std::vector<Sample> rows;
  std::vector<Sample> columns;
};

// Clears the bitmap and works out the geometry; sampleBytes is the variant's
// source bytes per pixel.
Plan MakePlan(const DCMPresentation &p, QImage &bitmap, int panX, int panY, int marginX, int marginY, int frame,
              int sampleBytes) {
  Plan plan;
  if (bitmap.isNull())
    return plan;
  plan.output = PrepareBitmap(bitmap);
  Fill(bitmap, plan.output, p.background);

  const TImages &im = p.images;
  const int C = im.columns;
  const int R = im.rows;
  // Single precision, as the origin of the 96 x 96 thumbnails has always
  // been computed (640 / 96 gives -80 there, not -79).
  const float z = p.zoom;
  if (C < 2 || R < 2 || !(z > 0) || !std::isfinite(z) || frame < 0 || frame >= im.frameCount)
    return plan;
  // The frame must lie wholly in the pixels: a short buffer draws nothing.
  const std::size_t frameBytes = static_cast<std::size_t>(C) * static_cast<std::size_t>(R) *
                                 (im.isColor ? 3u : static_cast<std::size_t>(im.bitsAllocated) / 8u);
  if (frameBytes == 0 || static_cast<std::size_t>(frame) > im.pixels.size() / frameBytes)
    return plan;
  const std::size_t start = static_cast<std::size_t>(frame) * frameBytes;
  const std::size_t needed = static_cast<std::size_t>(C) * static_cast<std::size_t>(R) * sampleBytes;
  if (start > im.pixels.size() || im.pixels.size() - start < needed)
    return plan;

  const int W = bitmap.width();
  const int H = bitmap.height();
  // Bounded before conversion: absurd zooms or pans must not overflow.
  auto whole = [](float v) { return static_cast<std::int64_t>(std::clamp(std::trunc(v), -1e12f, 1e12f)); };
  const std::int64_t x0 = whole((static_cast<float>(C) - static_cast<float>(W) * z) / 2 - static_cast<float>(panX) * z);
  const std::int64_t y0 = whole((static_cast<float>(R) - static_cast<float>(H) * z) / 2 - static_cast<float>(panY) * z);
  const std::int64_t step = whole(z * 256);

  plan.frame = im.pixels.data() + start;
  plan.stride = static_cast<std::size_t>(C) * static_cast<std::size_t>(sampleBytes);
  plan.rows = Positions(marginY, H - marginY - 1, step, y0, R);
  plan.columns = Positions(marginX, W - marginX - 1, step, x0, C);
  plan.draw = true;
  return plan;
}

// Bilinear weights of one output pixel, 16 bits each, summing to 65536.
struct Weights {
  std::uint32_t w00, w10, w01, w11;
  Weights(std::uint32_t fx, std::uint32_t fy)
      : w00((256 - fx) * (256 - fy)), w10(fx * (256 - fy)), w01((256 - fx) * fy), w11(fx * fy) {}
  std::uint32_t Mix(std::uint32_t p00, std::uint32_t p10, std::uint32_t p01, std::uint32_t p11) const {
    return (p00 * w00 + p10 * w10 + p01 * w01 + p11 * w11) >> 16;
  }
};

} // namespace

void RenderColor(const DCMPresentation &p, QImage &bitmap, int panX, int panY, int marginX, int marginY, int frame) {
  const Plan plan = MakePlan(p, bitmap, panX, panY, marginX, marginY, frame, 3);
  if (!plan.draw)
    return;
  const std::array<std::uint8_t, 256> T = WindowTable(p);
  for (const Sample &row : plan.rows) {
    const std::uint8_t *top = plan.frame + row.at * plan.stride;
    const std::uint8_t *bottom = top + plan.stride;
    std::uint8_t *line = bitmap.scanLine(row.out);
    for (const Sample &col : plan.columns) {
      const Weights w(col.fraction, row.fraction);
      const std::size_t i = 3 * static_cast<std::size_t>(col.at);
      const std::uint8_t r = T[w.Mix(top[i], top[i + 3], bottom[i], bottom[i + 3]) & 0xFF];
      const std::uint8_t g = T[w.Mix(top[i + 1], top[i + 4], bottom[i + 1], bottom[i + 4]) & 0xFF];
      const std::uint8_t b = T[w.Mix(top[i + 2], top[i + 5], bottom[i + 2], bottom[i + 5]) & 0xFF];
      if (plan.output == Output::Rgb24) {
        std::uint8_t *out = line + 3 * static_cast<std::size_t>(col.out);
        out[0] = b;
        out[1] = g;
        out[2] = r;
      } else {
        line[col.out] = static_cast<std::uint8_t>((r + g + b) / 3);
      }
    }
  }
}

void RenderGray8(const DCMPresentation &p, QImage &bitmap, int panX, int panY, int marginX, int marginY, int frame) {
  const Plan plan = MakePlan(p, bitmap, panX, panY, marginX, marginY, frame, 1);
  if (!plan.draw)
    return;
  const std::array<std::uint8_t, 256> T = WindowTable(p);
  for (const Sample &row : plan.rows) {
    const std::uint8_t *top = plan.frame + row.at * plan.stride;
    const std::uint8_t *bottom = top + plan.stride;
    std::uint8_t *line = bitmap.scanLine(row.out);
    for (const Sample &col : plan.columns) {
      const Weights w(col.fraction, row.fraction);
      const std::size_t i = col.at;
      const std::uint8_t level = T[w.Mix(top[i], top[i + 1], bottom[i], bottom[i + 1]) & 0xFF];
      if (plan.output == Output::Rgb24) {
        std::memset(line + 3 * static_cast<std::size_t>(col.out), level, 3);
      } else {
        line[col.out] = level;
      }
    }
  }
}

void RenderGray16(const DCMPresentation &p, QImage &bitmap, int panX, int panY, int marginX, int marginY, int frame) {
  const Plan plan = MakePlan(p, bitmap, panX, panY, marginX, marginY, frame, 2);
  if (!plan.draw)
    return;
  const std::int64_t width = WindowWidth(p);
  const bool inverted = p.images.isMonochrome1;
  auto at = [](const std::uint8_t *s) -> std::uint64_t { return s[0] | static_cast<std::uint64_t>(s[1]) << 8; };
  for (const Sample &row : plan.rows) {
    const std::uint8_t *top = plan.frame + row.at * plan.stride;
    const std::uint8_t *bottom = top + plan.stride;
    const std::uint64_t fy = row.fraction;
    std::uint8_t *line = bitmap.scanLine(row.out);
    for (const Sample &col : plan.columns) {
      const std::uint64_t fx = col.fraction;
      const std::size_t i = 2 * static_cast<std::size_t>(col.at);
      const std::uint64_t v = (at(top + i) * (256 - fx) * (256 - fy) + at(top + i + 2) * fx * (256 - fy) +
                               at(bottom + i) * (256 - fx) * fy + at(bottom + i + 2) * fx * fy) >>
                              16;
      const std::uint8_t level = Level(static_cast<std::int64_t>(v), p.windowCentre, width, inverted);
      if (plan.output == Output::Rgb24) {
        std::memset(line + 3 * static_cast<std::size_t>(col.out), level, 3);
      } else {
        line[col.out] = level;
      }
    }
  }
}

void RenderImage(const DCMPresentation &p, QImage &bitmap, int panX, int panY, int marginX, int marginY, int frame) {
  if (p.images.isColor)
    RenderColor(p, bitmap, panX, panY, marginX, marginY, frame);
  else if (p.images.bitsAllocated == 8)
    RenderGray8(p, bitmap, panX, panY, marginX, marginY, frame);
  else
    RenderGray16(p, bitmap, panX, panY, marginX, marginY, frame);
}

void MakeRgbBitmap(QImage &bitmap, int width, int height, std::uint32_t colour) {
  bitmap = QImage(std::max(width, 0), std::max(height, 0), QImage::Format_BGR888);
  Fill(bitmap, Output::Rgb24, colour);
}

void MakeGrayBitmap(QImage &bitmap, int width, int height, std::uint32_t colour) {
  bitmap = QImage(std::max(width, 0), std::max(height, 0), QImage::Format_Grayscale8);
  Fill(bitmap, Output::Grey8, colour);
}

QList<QRgb> GreyPalette() {
  QList<QRgb> palette;
  palette.reserve(256);
  for (int i = 0; i < 256; ++i)
    palette.push_back(qRgb(i, i, i));
  return palette;
}

} // namespace fw
