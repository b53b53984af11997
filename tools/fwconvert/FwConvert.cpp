// fwconvert: reads a DICOM file, converts its data set to another
// transfer syntax as the station does before sending, and writes it as a new
// DICOM file. For support staff.
//
//   fwconvert [-v] --ts UID IN OUT
//
// OUT may be IN. Exit status: 0 written, 1 the file could not be read,
// converted or written (a message on standard error says which, the log's
// error lines why), 2 wrong usage or a transfer syntax the station does not
// handle.
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "presentation/ConvertTransferSyntax.h"
#include "tools/common/ToolLog.h"
#include "tools/common/ToolOptions.h"

#include <iostream>
#include <string>

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

std::string CheckTarget(std::string_view uid) {
  if (!fw::IsConversionTarget(uid))
    return "transfer syntax " + std::string(uid) + " is not one the station converts to";
  return {};
}

} // namespace

int main(int argc, char **argv) {
  using namespace fw::tool;
  std::string target;
  CommandLine commandLine("fwconvert", "[options] --ts UID IN OUT",
                          "Converts the DICOM file IN to the transfer syntax UID and writes it to OUT.");
  commandLine.AddValue("--ts", "UID", "target transfer syntax (required, see below)", target, CheckTarget);
  commandLine.SetArguments({"IN", "OUT"});
  commandLine.SetEpilogue(kTargets);
  if (const auto code = commandLine.Parse(argc, argv))
    return *code;
  if (target.empty())
    return commandLine.UsageError("--ts UID is required");
  const std::string &in = commandLine.Arguments()[0];
  const std::string &out = commandLine.Arguments()[1];
  const std::string_view program = commandLine.Program();

  ToolLog log(commandLine.Common().verbose);
  fw::DcmObj ds;
  if (!ds.Read(in)) {
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
  if (commandLine.Common().verbose)
    std::cerr << program << ": " << in << " (" << source << ") written to " << out << " (" << target << ")\n";
  return EXIT_OK;
}
