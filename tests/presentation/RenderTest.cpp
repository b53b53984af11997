// Window/level rendering: tile geometry and the one-pixel border, the window
// table for 8-bit, colour and 16-bit sources, MONOCHROME1, bilinear weights,
// pan and margins, the two bitmap layouts, and the cases that draw the
// background only.
#include "presentation/DCMPresentation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fw {
namespace {

// A uniform 8-bit colour image.
TImages ColourImage(int columns, int rows, std::uint8_t r, std::uint8_t g, std::uint8_t b, int frames = 1) {
  TImages im;
  im.columns = static_cast<std::uint16_t>(columns);
  im.rows = static_cast<std::uint16_t>(rows);
  im.bitsAllocated = 8;
  im.isColor = true;
  im.photometric = "RGB";
  im.frameCount = frames;
  for (int i = 0; i < columns * rows * frames; ++i) {
    im.pixels.push_back(r);
    im.pixels.push_back(g);
    im.pixels.push_back(b);
  }
  return im;
}

// A greyscale image whose sample at (x, y) of frame f is value(x, y, f).
template <typename Value> TImages GreyImage(int columns, int rows, int bits, Value value, int frames = 1) {
  TImages im;
  im.columns = static_cast<std::uint16_t>(columns);
  im.rows = static_cast<std::uint16_t>(rows);
  im.bitsAllocated = static_cast<std::uint16_t>(bits);
  im.photometric = "MONOCHROME2";
  im.frameCount = frames;
  for (int f = 0; f < frames; ++f)
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < columns; ++x) {
        const unsigned v = value(x, y, f);
        im.pixels.push_back(static_cast<std::uint8_t>(v & 0xFF));
        if (bits == 16)
          im.pixels.push_back(static_cast<std::uint8_t>(v >> 8));
      }
  return im;
}

TImages Uniform(int bits, unsigned v) {
  return GreyImage(16, 16, bits, [v](int, int, int) { return v; });
}

// B, G, R of a 24-bit bitmap pixel as 0x00RRGGBB, or the level of an 8-bit one.
unsigned PixelAt(const QImage &bitmap, int x, int y) {
  const std::uint8_t *line = bitmap.constScanLine(y);
  if (bitmap.format() == QImage::Format_BGR888)
    return unsigned{line[3 * x + 2]} << 16 | unsigned{line[3 * x + 1]} << 8 | line[3 * x];
  return line[x];
}

QImage Render(TImages &im, int width, int height, float zoom, int windowWidth, int windowCentre, bool grey = false,
              int frame = 0, int panX = 0, int panY = 0, int marginX = 0, int marginY = 0) {
  DCMPresentation p(im);
  p.zoom = zoom;
  p.windowWidth = windowWidth;
  p.windowCentre = windowCentre;
  QImage bitmap;
  if (grey)
    MakeGrayBitmap(bitmap, width, height, 0x00FFFFFF);
  else
    MakeRgbBitmap(bitmap, width, height, 0x00FFFFFF);
  RenderImage(p, bitmap, panX, panY, marginX, marginY, frame);
  return bitmap;
}

TEST(RenderTile, ColourFrameFillsTheCentreOfA96Tile) {
  TImages im = ColourImage(640, 480, 200, 100, 50);
  for (bool grey : {false, true}) {
    const QImage tile = Render(im, 96, 96, 640.0f / 96, 255, 127, grey);
    ASSERT_EQ(tile.format(), grey ? QImage::Format_Grayscale8 : QImage::Format_BGR888);
    const unsigned inside = grey ? (200 + 100 + 50) / 3 : 0xC86432;
    for (int y = 0; y < 96; ++y)
      for (int x = 0; x < 96; ++x) {
        const bool drawn = x >= 1 && x <= 94 && y >= 13 && y <= 83;
        ASSERT_EQ(PixelAt(tile, x, y), drawn ? inside : 0u) << "grey " << grey << " at " << x << "," << y;
      }
  }
}

TEST(RenderTile, ImageFillingTheBitmapKeepsAOnePixelBorder) {
  TImages im = Uniform(8, 77);
  DCMPresentation p(im);
  p.zoom = 1;
  p.windowWidth = 255;
  p.windowCentre = 127;
  p.background = 0x00332211;
  QImage bitmap;
  MakeRgbBitmap(bitmap, 16, 16, 0);
  RenderImage(p, bitmap, 0, 0, 0, 0, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool border = x == 0 || y == 0 || x == 15 || y == 15;
      ASSERT_EQ(PixelAt(bitmap, x, y), border ? 0x112233u : 0x4D4D4Du) << x << "," << y;
    }
}

struct LevelCase {
  const char *name;
  int bits;
  bool colour;
  bool monochrome1;
  int width;
  int centre;
  unsigned value;
  unsigned level;
};

class WindowLevel : public testing::TestWithParam<LevelCase> {};

TEST_P(WindowLevel, UniformImageShowsTheLevel) {
  const LevelCase c = GetParam();
  TImages im = c.colour ? ColourImage(16, 16, static_cast<std::uint8_t>(c.value), static_cast<std::uint8_t>(c.value),
                                      static_cast<std::uint8_t>(c.value))
                        : Uniform(c.bits, c.value);
  im.isMonochrome1 = c.monochrome1;
  for (bool grey : {false, true}) {
    const QImage bitmap = Render(im, 16, 16, 1.0f, c.width, c.centre, grey);
    const unsigned expected = grey ? c.level : c.level * 0x010101u;
    EXPECT_EQ(PixelAt(bitmap, 5, 7), expected) << (grey ? "8-bit bitmap" : "24-bit bitmap");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowLevel,
                         testing::Values(LevelCase{"Identity0", 8, false, false, 255, 127, 0, 0},
                                         LevelCase{"Identity1", 8, false, false, 255, 127, 1, 1},
                                         LevelCase{"Identity127", 8, false, false, 255, 127, 127, 127},
                                         LevelCase{"Identity200", 8, false, false, 255, 127, 200, 200},
                                         LevelCase{"Identity255", 8, false, false, 255, 127, 255, 255},
                                         LevelCase{"Width1Below", 8, false, false, 1, 100, 99, 0},
                                         LevelCase{"Width1AtCentre", 8, false, false, 1, 100, 100, 127},
                                         LevelCase{"Width1Above", 8, false, false, 1, 100, 101, 255},
                                         LevelCase{"Width1Zero", 8, false, false, 1, 100, 0, 0},
                                         LevelCase{"Width1Top", 8, false, false, 1, 100, 255, 255},
                                         LevelCase{"Monochrome1Identity0", 8, false, true, 255, 127, 0, 255},
                                         LevelCase{"Monochrome1Identity60", 8, false, true, 255, 127, 60, 195},
                                         LevelCase{"Monochrome1Identity255", 8, false, true, 255, 127, 255, 0},
                                         LevelCase{"ColourIdentity", 8, true, false, 255, 127, 90, 90},
                                         LevelCase{"ColourNarrowWindow", 8, true, false, 100, 50, 75, 190},
                                         LevelCase{"Window16Zero", 16, false, false, 4096, 2048, 0, 0},
                                         LevelCase{"Window16Centre", 16, false, false, 4096, 2048, 2048, 127},
                                         LevelCase{"Window16Top", 16, false, false, 4096, 2048, 4095, 254},
                                         LevelCase{"Window16AboveWindow", 16, false, false, 4096, 2048, 65535, 255},
                                         LevelCase{"Monochrome1Window16Zero", 16, false, true, 4096, 2048, 0, 254},
                                         LevelCase{"Monochrome1Window16Top", 16, false, true, 4096, 2048, 4095, 0},
                                         LevelCase{"HugeCentreDoesNotOverflow", 16, false, false, 1, -2147483647, 65535,
                                                   255},
                                         LevelCase{"ZeroWidthDrawnAsWidth1", 8, false, false, 0, 100, 101, 255}),
                         [](const testing::TestParamInfo<LevelCase> &info) { return std::string(info.param.name); });

// Reference bilinear value at output (l, k) for zoom 0.5 and no pan, from the
// rule itself: source position l x 128 + x0 x 256 in 8.8 fixed point.
TEST(RenderInterpolation, MagnifiedGreyMixesTheFourNeighbours) {
  auto value = [](int x, int y, int) { return static_cast<unsigned>(x * 40 + y * 9); };
  for (int bits : {8, 16}) {
    TImages im = GreyImage(5, 5, bits, value);
    // 10 x 10 output at zoom 0.5: x0 = y0 = 0, step 128.
    const QImage bitmap = Render(im, 10, 10, 0.5f, 255, 127, true);
    for (int k = 1; k < 8; ++k)
      for (int l = 1; l < 8; ++l) {
        const int sx = l * 128;
        const int sy = k * 128;
        const int ix = sx >> 8, fx = sx & 255, iy = sy >> 8, fy = sy & 255;
        const unsigned v = (value(ix, iy, 0) * (256 - fx) * (256 - fy) + value(ix + 1, iy, 0) * fx * (256 - fy) +
                            value(ix, iy + 1, 0) * (256 - fx) * fy + value(ix + 1, iy + 1, 0) * fx * fy) >>
                           16;
        ASSERT_EQ(PixelAt(bitmap, l, k), v) << bits << " bits at " << l << "," << k;
      }
  }
}

TEST(RenderInterpolation, ColourChannelsAreInterpolatedSeparately) {
  TImages im = ColourImage(4, 4, 0, 0, 0);
  // Column 1 red 200, column 2 blue 100: halfway between them is (100, 0, 50).
  for (int y = 0; y < 4; ++y) {
    im.pixels[3 * (y * 4 + 1)] = 200;
    im.pixels[3 * (y * 4 + 2) + 2] = 100;
  }
  const QImage bitmap = Render(im, 8, 8, 0.5f, 255, 127);
  // Output column 3 samples source x = 1.5.
  EXPECT_EQ(PixelAt(bitmap, 3, 4), 0x640032u);
  EXPECT_EQ(PixelAt(bitmap, 2, 4), 0xC80000u); // x = 1.0 exactly
}

TEST(RenderPlacement, PanMovesTheImageByWholeOutputPixels) {
  auto value = [](int x, int y, int) { return static_cast<unsigned>(x * 7 + y * 3); };
  TImages im = GreyImage(32, 32, 8, value);
  const QImage plain = Render(im, 32, 32, 1.0f, 255, 127, true);
  const QImage panned = Render(im, 32, 32, 1.0f, 255, 127, true, 0, 5, -3);
  for (int y = 5; y < 25; ++y)
    for (int x = 8; x < 25; ++x)
      ASSERT_EQ(PixelAt(panned, x, y), PixelAt(plain, x - 5, y + 3)) << x << "," << y;
  EXPECT_EQ(PixelAt(panned, 3, 10), 0u); // left of the moved image
}

TEST(RenderPlacement, MarginsKeepTheBackground) {
  TImages im = Uniform(8, 90);
  const QImage bitmap = Render(im, 16, 16, 1.0f, 255, 127, true, 0, 0, 0, 4, 2);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool drawn = x >= 4 && x < 11 && y >= 2 && y < 13;
      ASSERT_EQ(PixelAt(bitmap, x, y), drawn ? 90u : 0u) << x << "," << y;
    }
}

TEST(RenderFrames, TheRequestedFrameIsDrawn) {
  for (int bits : {8, 16}) {
    TImages im = GreyImage(
        8, 8, bits, [](int, int, int f) { return static_cast<unsigned>(10 + 50 * f); }, 3);
    for (int frame = 0; frame < 3; ++frame)
      EXPECT_EQ(PixelAt(Render(im, 8, 8, 1.0f, 255, 127, true, frame), 3, 3), 10u + 50u * frame) << bits;
  }
  TImages colour = ColourImage(8, 8, 1, 2, 3, 2);
  colour.pixels[3 * 64 + 3 * (3 * 8 + 3)] = 250; // frame 1, pixel (3, 3), red
  EXPECT_EQ(PixelAt(Render(colour, 8, 8, 1.0f, 255, 127, false, 1), 3, 3), 0xFA0203u);
}

struct BackgroundCase {
  const char *name;
  void (*damage)(TImages &);
  int frame;
  float zoom;
};

class BackgroundOnly : public testing::TestWithParam<BackgroundCase> {};

TEST_P(BackgroundOnly, NothingButTheBackgroundIsDrawn) {
  const BackgroundCase c = GetParam();
  for (int bits : {8, 16, 24}) {
    TImages im = bits == 24 ? ColourImage(8, 8, 9, 9, 9, 2)
                            : GreyImage(
                                  8, 8, bits, [](int, int, int) { return 9u; }, 2);
    c.damage(im);
    const QImage bitmap = Render(im, 8, 8, c.zoom, 255, 127, true, c.frame);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        ASSERT_EQ(PixelAt(bitmap, x, y), 0u) << bits << " bits at " << x << "," << y;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackgroundOnly,
    testing::Values(BackgroundCase{"NoPixels", [](TImages &im) { im.pixels.clear(); }, 0, 1.0f},
                    BackgroundCase{"OneRow", [](TImages &im) { im.rows = 1; }, 0, 1.0f},
                    BackgroundCase{"OneColumn", [](TImages &im) { im.columns = 1; }, 0, 1.0f},
                    BackgroundCase{"FrameBeyondCount", [](TImages &) {}, 2, 1.0f},
                    BackgroundCase{"NegativeFrame", [](TImages &) {}, -1, 1.0f},
                    BackgroundCase{"FrameNotWhollyPresent", [](TImages &im) { im.pixels.pop_back(); }, 1, 1.0f},
                    BackgroundCase{"CountAboveThePixels", [](TImages &im) { im.frameCount = 5; }, 3, 1.0f},
                    BackgroundCase{"ZeroZoom", [](TImages &) {}, 0, 0.0f},
                    BackgroundCase{"NegativeZoom", [](TImages &) {}, 0, -2.0f},
                    BackgroundCase{"NotANumberZoom", [](TImages &) {}, 0, std::numeric_limits<float>::quiet_NaN()}),
    [](const testing::TestParamInfo<BackgroundCase> &info) { return std::string(info.param.name); });

TEST(RenderBitmaps, OtherFormatsAreDrawnAs24Bit) {
  TImages im = Uniform(8, 40);
  DCMPresentation p(im);
  p.zoom = 1;
  for (QImage::Format format : {QImage::Format_ARGB32, QImage::Format_RGB888, QImage::Format_Mono}) {
    QImage bitmap(16, 16, format);
    RenderImage(p, bitmap, 0, 0, 0, 0, 0);
    ASSERT_EQ(bitmap.format(), QImage::Format_BGR888);
    EXPECT_EQ(bitmap.size(), QSize(16, 16));
    EXPECT_EQ(PixelAt(bitmap, 4, 4), 0x282828u);
  }
  // A palette bitmap is drawn with levels as indices.
  QImage indexed(16, 16, QImage::Format_Indexed8);
  indexed.setColorTable(GreyPalette());
  RenderImage(p, indexed, 0, 0, 0, 0, 0);
  ASSERT_EQ(indexed.format(), QImage::Format_Indexed8);
  EXPECT_EQ(PixelAt(indexed, 4, 4), 40u);
  EXPECT_EQ(indexed.pixel(4, 4), qRgb(40, 40, 40));
}

TEST(RenderBitmaps, MakeBitmapsSetSizeFormatAndFill) {
  QImage rgb;
  MakeRgbBitmap(rgb, 7, 3, 0x00102030);
  ASSERT_EQ(rgb.format(), QImage::Format_BGR888);
  ASSERT_EQ(rgb.size(), QSize(7, 3));
  EXPECT_EQ(rgb.constScanLine(2)[18], 0x10); // blue byte first
  EXPECT_EQ(rgb.constScanLine(2)[20], 0x30);
  EXPECT_EQ(rgb.pixel(6, 2), qRgb(0x30, 0x20, 0x10));

  QImage grey;
  MakeGrayBitmap(grey, 850, 2, 0x00808080);
  ASSERT_EQ(grey.format(), QImage::Format_Grayscale8);
  ASSERT_EQ(grey.size(), QSize(850, 2));
  EXPECT_EQ(grey.constScanLine(1)[849], 0x80);
  const QImage indexed = grey.convertToFormat(QImage::Format_Indexed8, GreyPalette());
  EXPECT_EQ(indexed.pixelIndex(849, 1), 0x80);
  EXPECT_EQ(GreyPalette().at(200), qRgb(200, 200, 200));
}

} // namespace
} // namespace fw
