// fwrender: draws one frame of a DICOM file into a PNG picture the
// way the station draws its thumbnails: compressed pixel data converted to
// explicit VR little endian first, then prepared and drawn with a window.
// For support staff.
//
//   fwrender [-v] [--frame N] [--size WxH] [--window W C] IN OUT.png
//
// The picture has the image's own size unless --size is given; the image is
// scaled to fit and centred. The window (width, centre, on the stored
// sample values) is, unless --window is given: 255 / 127 for 8-bit and colour
// data; else Window Width / Window Center (0028,1051) / (0028,1050) taken
// back through Rescale Slope and Intercept to stored values; else the
// frame's lowest and highest sample.
//
// A Structured Report (no Pixel Data, Modality "SR") is drawn as its printed
// pages; --frame N picks page N (from 0).
//
// Exit status: 0 written, 1 the file could not be read, converted, drawn or
// written, 2 wrong usage.
#include "dicom/DcmObj.h"
#include "dicom/Tags.h"
#include "dicom/Uids.h"
#include "presentation/DCMPresentation.h"
#include "presentation/ImageConversion.h"
#include "tools/common/ToolLog.h"
#include "tools/common/ToolOptions.h"

#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

std::optional<long> ParseInt(std::string_view text, long low, long high) {
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

struct Window {
  std::int32_t width = 255;
  std::int32_t centre = 127;
};

std::int32_t ToInt32(double v) {
  return static_cast<std::int32_t>(std::clamp(std::round(v), -2147483647.0, 2147483647.0));
}

// The default window of a frame (see the file comment).
Window DefaultWindow(const fw::TImages &im, const fw::DcmObj &ds, int frame) {
  if (im.isColor || im.bitsAllocated == 8)
    return {255, 127};
  const fw::DcmTag *width = ds.FindElement(fw::tag::WindowWidth);
  const fw::DcmTag *centre = ds.FindElement(fw::tag::WindowCenter);
  if (width != nullptr && centre != nullptr && width->GetNumber(0) > 0) {
    const fw::DcmTag *slopeTag = ds.FindElement(fw::tag::RescaleSlope);
    double slope = slopeTag != nullptr ? slopeTag->GetNumber(0) : 1.0;
    if (!(std::fabs(slope) > 1e-9) || !std::isfinite(slope))
      slope = 1.0;
    const fw::DcmTag *interceptTag = ds.FindElement(fw::tag::RescaleIntercept);
    const double intercept = interceptTag != nullptr ? interceptTag->GetNumber(0) : 0.0;
    return {std::max(1, ToInt32(width->GetNumber(0) / std::fabs(slope))),
            ToInt32((centre->GetNumber(0) - intercept) / slope)};
  }
  const std::size_t samples = std::size_t{im.columns} * im.rows;
  const std::size_t start = static_cast<std::size_t>(frame) * samples * 2;
  unsigned low = 65535;
  unsigned high = 0;
  for (std::size_t i = 0; i < samples && start + 2 * i + 1 < im.pixels.size(); ++i) {
    const unsigned v = im.pixels[start + 2 * i] | unsigned{im.pixels[start + 2 * i + 1]} << 8;
    low = std::min(low, v);
    high = std::max(high, v);
  }
  if (low > high)
    return {255, 127};
  return {static_cast<std::int32_t>(std::max(1u, high - low)), static_cast<std::int32_t>((low + high) / 2)};
}

bool IsUncompressed(std::string_view ts) {
  return ts == fw::IMPLICIT_VR_LITTLE_ENDIAN || ts == fw::EXPLICIT_VR_LITTLE_ENDIAN || ts == fw::EXPLICIT_VR_BIG_ENDIAN;
}

constexpr std::string_view kProgram = "fwrender";

struct RenderOptions {
  long frame = 0;
  // Picture size; 0 for the image's own.
  long width = 0;
  long height = 0;
  std::optional<Window> window; // else the default window
  std::string in;
  std::string out; // PNG file
  bool verbose = false;
};

fw::tool::ParseResult<RenderOptions> ParseRenderOptions(int argc, char **argv) {
  RenderOptions options;
  std::string frameText, sizeText, windowText;
  fw::tool::CommandLine commandLine(
      std::string(kProgram), "[options] IN OUT.png",
      "Draws frame N (from 0, default 0) of the DICOM file IN into the PNG file OUT.png; a Structured Report "
      "is drawn as printed pages, page N being frame N.");
  commandLine.AddValue("--frame", "N", "frame to draw, from 0 (default 0)", frameText, [&](std::string_view text) {
    const auto n = ParseInt(text, 0, 2147483646);
    if (!n)
      return std::string("a frame number from 0");
    options.frame = *n;
    return std::string();
  });
  commandLine.AddValue("--size", "WxH", "picture size (default: the image's own)", sizeText,
                       [&](std::string_view size) {
                         const std::size_t x = size.find('x');
                         const auto w = x == std::string::npos ? std::nullopt : ParseInt(size.substr(0, x), 1, 16384);
                         const auto h = x == std::string::npos ? std::nullopt : ParseInt(size.substr(x + 1), 1, 16384);
                         if (!w || !h)
                           return std::string("WIDTHxHEIGHT, each 1 to 16384");
                         options.width = *w;
                         options.height = *h;
                         return std::string();
                       });
  commandLine.AddValue(
      "--window", "W C",
      "window width (> 0) and centre on the stored sample values (default: 255 127 for 8-bit data, else the "
      "file's window, else the frame's lowest and highest sample)",
      windowText,
      [&](std::string_view text) {
        const std::size_t space = text.find(' ');
        const auto w = space == std::string::npos ? std::nullopt : ParseInt(text.substr(0, space), 1, 2147483647);
        const auto c =
            space == std::string::npos ? std::nullopt : ParseInt(text.substr(space + 1), -2147483647, 2147483647);
        if (!w || !c)
          return std::string("a width above 0 and a centre");
        options.window = Window{static_cast<std::int32_t>(*w), static_cast<std::int32_t>(*c)};
        return std::string();
      },
      2);
  commandLine.SetArguments({"IN", "OUT.png"});
  if (const auto code = commandLine.Parse(argc, argv))
    return {{}, code};
  options.in = commandLine.Arguments()[0];
  options.out = commandLine.Arguments()[1];
  options.verbose = commandLine.Common().verbose;
  return {std::move(options), std::nullopt};
}

// Reads `in` and prepares it for drawing frame; the reason when that frame
// cannot be drawn.
std::optional<std::string> PrepareFrame(const std::string &in, long frame, fw::DcmObj &ds, fw::TImages &images) {
  if (!ds.Read(in))
    return "cannot read the DICOM file " + in;
  // Without Pixel Data (a report) there is nothing to convert.
  const bool hasPixelData = ds.FindElement(fw::tag::PixelData) != nullptr;
  if (hasPixelData && !IsUncompressed(ds.transferSyntax) &&
      !fw::ConvertTransferSyntax(ds, fw::EXPLICIT_VR_LITTLE_ENDIAN))
    return "the pixel data of " + in + " could not be decoded";
  fw::PrepareDisplayImage(images, ds);
  if (images.pixels.empty() || images.columns < 2 || images.rows < 2)
    return in + " holds no image that can be drawn";
  if (frame >= images.frameCount)
    return in + " has " + std::to_string(images.frameCount) + " frame(s); frame " + std::to_string(frame) +
           " does not exist";
  const std::size_t frameBytes = std::size_t{images.columns} * images.rows *
                                 (images.isColor ? 3u : std::max<std::size_t>(images.bitsAllocated / 8u, 1u));
  if (images.pixels.size() / frameBytes <= static_cast<std::size_t>(frame))
    return "the pixel data of " + in + " end before frame " + std::to_string(frame);
  return std::nullopt;
}

int RunRender(const RenderOptions &options, char **argv) {
  const long frame = options.frame;
  const std::string &in = options.in;
  const std::string_view program = kProgram;

  // Report pages need fonts, which need an application object; no window is
  // ever shown, so no display is needed either.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);

  fw::tool::ToolLog log(options.verbose);
  auto fail = [&](const std::string &message) {
    log.Flush();
    std::cerr << program << ": " << message << '\n';
    return fw::tool::EXIT_FAILED;
  };
  fw::DcmObj ds;
  fw::TImages images;
  if (const std::optional<std::string> problem = PrepareFrame(in, frame, ds, images))
    return fail(*problem);

  long width = options.width;
  long height = options.height;
  if (width == 0) {
    width = images.columns;
    height = images.rows;
  }
  fw::DCMPresentation p(images);
  p.zoom = std::max(static_cast<float>(images.columns) / static_cast<float>(width),
                    static_cast<float>(images.rows) / static_cast<float>(height));
  const Window w = options.window ? *options.window : DefaultWindow(images, ds, static_cast<int>(frame));
  p.windowWidth = w.width;
  p.windowCentre = w.centre;
  QImage bitmap;
  fw::MakeRgbBitmap(bitmap, static_cast<int>(width), static_cast<int>(height), 0);
  fw::RenderImage(p, bitmap, 0, 0, 0, 0, static_cast<int>(frame));
  if (!bitmap.save(QString::fromStdString(options.out), "PNG"))
    return fail("cannot write " + options.out);
  if (options.verbose)
    std::cerr << program << ": frame " << frame << " of " << in << " (" << images.columns << "x" << images.rows
              << ", window " << w.width << "/" << w.centre << ") written to " << options.out << " (" << width << "x"
              << height << ")\n";
  return fw::tool::EXIT_OK;
}

} // namespace

int main(int argc, char **argv) {
  const auto parsed = ParseRenderOptions(argc, argv);
  // The Qt application object takes the program's own argv.
  return parsed.exitCode ? *parsed.exitCode : RunRender(parsed.options, argv);
}
