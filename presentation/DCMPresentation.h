// DCMPresentation and RenderImage: one frame of a prepared display image
// drawn into a bitmap of any size, scaled with bilinear interpolation in 8.8
// fixed point, centred and optionally panned, through a window (width and
// centre) onto 256 levels; MONOCHROME1 images inverted.
//
// Bitmaps are QImages in one of two pixel layouts:
//   24-bit  Format_BGR888: blue, green, red bytes per pixel
//   8-bit   Format_Grayscale8 (or Format_Indexed8 with a 0..255 grey
//           palette): one level per pixel
// A bitmap of any other format is converted to Format_BGR888 first.
//
// Drawing (W x H bitmap, C x R source, z = zoom source pixels per output
// pixel):
//   origin   x0 = trunc((C - W z) / 2 - panX z), y0 likewise with R, H, panY
//   step     s = trunc(z x 256)
//   pixel    output (l, k) samples the source at (l s + x0 256, k s + y0 256)
//            / 256, drawn only strictly inside the source (0 < pos <
//            (size - 1) x 256), for marginX <= l < W - marginX - 1 and
//            marginY <= k < H - marginY - 1; everything else keeps the
//            background, so a one-pixel border always remains
//   level    L(v) = (v - centre) x 255 / width + 127 clamped to 0..255
//            (integer division toward zero); MONOCHROME1: 255 - L(v) for
//            8-bit and colour sources, (centre - v) x 255 / width + 127
//            clamped for 16-bit ones
// No Rescale Slope or Intercept is applied: the window works on the stored
// values.
#pragma once

#include "presentation/TImages.h"

#include <QImage>

#include <cstdint>

namespace fw {

struct DCMPresentation {
  explicit DCMPresentation(TImages &image) : images(image) {}

  TImages &images;
  // Source pixels per output pixel (2.0 halves the size); must be > 0.
  float zoom = 1.0f;
  // Width of the value window; must be > 0 (a width below 1 is drawn as 1).
  std::int32_t windowWidth = 255;
  std::int32_t windowCentre = 127;
  // Colour the bitmap is cleared with, 0x00BBGGRR.
  std::uint32_t background = 0;
};

// Draws frame (from 0) of p.images into the whole bitmap: RenderColor for
// colour images, RenderGray8 for 8-bit greyscale, RenderGray16 otherwise.
// Draws the background only when there is no such frame, the frame is not
// wholly in the pixels, the image is smaller than 2 x 2 or zoom is not a
// positive number.
void RenderImage(const DCMPresentation &p, QImage &bitmap, int panX, int panY, int marginX, int marginY, int frame);

// The three variants behind RenderImage (same arguments).
void RenderColor(const DCMPresentation &p, QImage &bitmap, int panX, int panY, int marginX, int marginY, int frame);
void RenderGray8(const DCMPresentation &p, QImage &bitmap, int panX, int panY, int marginX, int marginY, int frame);
void RenderGray16(const DCMPresentation &p, QImage &bitmap, int panX, int panY, int marginX, int marginY, int frame);

// Makes bitmap a width x height Format_BGR888 picture filled with colour
// (0x00BBGGRR).
void MakeRgbBitmap(QImage &bitmap, int width, int height, std::uint32_t colour);

// Makes bitmap a width x height 8-bit grey picture filled with the grey level
// of colour ((red + green + blue) / 3). It is Format_Grayscale8, whose bytes
// are the indices of a 0..255 grey palette, so text can be painted on it;
// convert it to Format_Indexed8 with GreyPalette() where a palette bitmap is
// needed.
void MakeGrayBitmap(QImage &bitmap, int width, int height, std::uint32_t colour);

// The 256-entry palette of the 8-bit bitmaps: entry i is red = green = blue = i.
QList<QRgb> GreyPalette();

} // namespace fw
