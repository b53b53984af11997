// fwconvert: reads a DICOM file, converts its data set to another
// transfer syntax as the station does before sending, and writes it as a new
// DICOM file. For support staff.
//
//   fwconvert [-v] [--max-inflated MIB] --ts UID IN OUT
//
// A deflated IN is refused when its data set would inflate to more than
// 256 MiB, unless --max-inflated allows more. A file cut short (a clip
// without its last fragments or delimiter) or whose pixel data contradicts
// its transfer syntax is refused as unreadable.
//
// OUT may be IN. Exit status: 0 written, 1 the file could not be read,
// converted or written (a message on standard error says which, the log's
// error lines why), 2 wrong usage or a transfer syntax the station does not
// handle.
#include "conversion/ConvertTransferSyntax.h"
#include "dicom/DcmFile.h"
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "tools/common/ToolLog.h"
#include "tools/common/ToolOptions.h"

#include <algorithm>
#include <iostream>
#include <string>
#include <utility>

namespace {

constexpr const char *kTargets = "transfer syntaxes (--ts):\n"
                                 "  1.2.840.10008.1.2       implicit VR little endian\n"
                                 "  1.2.840.10008.1.2.1     explicit VR little endian\n"
                                 "  1.2.840.10008.1.2.1.99  deflated explicit VR little endian\n"
                                 "  1.2.840.10008.1.2.2     explicit VR big endian\n"
                                 "  1.2.840.10008.1.2.4.50  JPEG baseline (lossy, 8 bits)\n"
                                 "  1.2.840.10008.1.2.4.51  JPEG extended (lossy, 12 bits)\n"
                                 "  1.2.840.10008.1.2.4.70  JPEG lossless\n"
                                 "  1.2.840.10008.1.2.4.90  JPEG 2000 lossless\n"
                                 "  1.2.840.10008.1.2.4.91  JPEG 2000 (lossy)\n"
                                 "  1.2.840.10008.1.2.5     RLE lossless\n"
                                 "OUT may be IN: the file is replaced only once the conversion has succeeded.\n";

// Largest limit --max-inflated takes: 16 GiB.
constexpr unsigned long long MAX_INFLATED_MIB = 16 * 1024;

std::string CheckInflatedLimit(std::string_view value) {
  const bool digits = !value.empty() && value.size() <= 5 &&
                      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  const unsigned long long mib = digits ? std::stoull(std::string(value)) : 0;
  if (mib < 1 || mib > MAX_INFLATED_MIB)
    return "--max-inflated takes a number of MiB from 1 to " + std::to_string(MAX_INFLATED_MIB);
  return {};
}

std::string CheckTarget(std::string_view uid) {
  if (!fw::IsConversionTarget(uid))
    return "transfer syntax " + std::string(uid) + " is not one the station converts to";
  return {};
}

constexpr std::string_view kProgram = "fwconvert";

struct ConvertOptions {
  std::string target; // transfer syntax UID
  std::size_t maxInflated = fw::MAX_INFLATED_BYTES;
  std::string in;
  std::string out;
  bool verbose = false;
};

fw::tool::ParseResult<ConvertOptions> ParseConvertOptions(int argc, char **argv) {
  ConvertOptions options;
  fw::tool::CommandLine commandLine(std::string(kProgram), "[options] --ts UID IN OUT",
                                    "Converts the DICOM file IN to the transfer syntax UID and writes it to OUT.");
  commandLine.AddValue("--ts", "UID", "target transfer syntax (required, see below)", options.target, CheckTarget);
  std::string inflatedLimit;
  commandLine.AddValue("--max-inflated", "MIB",
                       "largest data set a deflated IN may inflate to, in MiB (default " +
                           std::to_string(fw::MAX_INFLATED_BYTES >> 20) + ")",
                       inflatedLimit, CheckInflatedLimit);
  commandLine.SetArguments({"IN", "OUT"});
  commandLine.SetEpilogue(kTargets);
  if (const auto code = commandLine.Parse(argc, argv))
    return {{}, code};
  if (options.target.empty())
    return {{}, commandLine.UsageError("--ts UID is required")};
  if (!inflatedLimit.empty())
    options.maxInflated = static_cast<std::size_t>(std::stoull(inflatedLimit)) << 20;
  options.in = commandLine.Arguments()[0];
  options.out = commandLine.Arguments()[1];
  options.verbose = commandLine.Common().verbose;
  return {std::move(options), std::nullopt};
}

int RunConvert(const ConvertOptions &options) {
  using fw::tool::EXIT_FAILED;
  const std::string_view program = kProgram;
  const std::string &in = options.in;
  const std::string &out = options.out;
  const std::string &target = options.target;
  fw::tool::ToolLog log(options.verbose);
  fw::DcmObj ds;
  if (!ds.Read(in, options.maxInflated)) {
    log.Flush();
    std::cerr << program << ": cannot read the DICOM file " << in << '\n';
    return EXIT_FAILED;
  }
  const std::string source = ds.transferSyntax;
  // The file goes through a temporary file renamed over OUT, so OUT (IN too,
  // when they are one file) is whole whatever happens. A clip converted to a
  // native syntax is decoded a few frames at a time straight into the file.
  switch (fw::ConvertTransferSyntaxToFile(ds, target, out)) {
  case fw::ConvertedFile::Written:
    break;
  case fw::ConvertedFile::NotConverted:
    log.Flush();
    std::cerr << program << ": " << in << " could not be converted from " << source << " to " << target << '\n';
    return EXIT_FAILED;
  case fw::ConvertedFile::NotWritten:
    log.Flush();
    std::cerr << program << ": cannot write " << out << '\n';
    return EXIT_FAILED;
  }
  if (options.verbose)
    std::cerr << program << ": " << in << " (" << source << ") written to " << out << " (" << target << ")\n";
  return fw::tool::EXIT_OK;
}

} // namespace

int main(int argc, char **argv) {
  const auto parsed = ParseConvertOptions(argc, argv);
  return parsed.exitCode ? *parsed.exitCode : RunConvert(parsed.options);
}
