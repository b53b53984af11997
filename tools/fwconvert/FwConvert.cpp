// fwconvert: reads a DICOM file, converts its data set to another
// transfer syntax as the station does before sending, and writes it as a new
// DICOM file. For support staff.
//
//   fwconvert [-v] --ts UID IN OUT
//
// Exit status: 0 written, 1 the file could not be read, converted or written
// (a message on standard error says which, the log's error lines why), 2
// wrong usage or a transfer syntax the station does not handle.
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "presentation/ImageConversion.h"
#include "tools/common/ToolLog.h"
#include "tools/imagetools/ImageTool.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr std::string_view kProgram = "fwconvert";
constexpr std::string_view kUsage = "[-v] --ts UID IN OUT\n"
                                    "  Converts the DICOM file IN to the transfer syntax UID and writes it to OUT.\n"
                                    "  --ts UID       target transfer syntax, one of\n"
                                    "                 1.2.840.10008.1.2       implicit VR little endian\n"
                                    "                 1.2.840.10008.1.2.1     explicit VR little endian\n"
                                    "                 1.2.840.10008.1.2.2     explicit VR big endian\n"
                                    "                 1.2.840.10008.1.2.4.50  JPEG baseline (lossy, 8 bits)\n"
                                    "                 1.2.840.10008.1.2.4.51  JPEG extended (lossy, 12 bits)\n"
                                    "                 1.2.840.10008.1.2.4.70  JPEG lossless\n"
                                    "                 1.2.840.10008.1.2.4.90  JPEG 2000 lossless\n"
                                    "                 1.2.840.10008.1.2.4.91  JPEG 2000 (lossy)\n"
                                    "  -v, --verbose  every log line on standard error\n"
                                    "  --help, --version\n"
                                    "  Exit status: 0 written, 1 failed, 2 usage error.\n";

} // namespace

int main(int argc, char **argv) {
  using namespace fw::imagetool;
  bool verbose = false;
  std::string target;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool handled = false;
    if (auto code = CommonOption(arg, kProgram, kUsage, verbose, handled))
      return *code;
    if (handled)
      continue;
    if (arg == "--ts") {
      if (i + 1 >= argc)
        return UsageError(kProgram, "--ts needs a transfer syntax UID", kUsage);
      target = argv[++i];
    } else if (arg.rfind("--ts=", 0) == 0) {
      target = arg.substr(5);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError(kProgram, "unknown option " + arg, kUsage);
    } else {
      files.push_back(arg);
    }
  }
  if (target.empty())
    return UsageError(kProgram, "--ts UID is required", kUsage);
  if (files.size() != 2)
    return UsageError(kProgram, "an input and an output file are required", kUsage);
  if (!fw::IsConversionTarget(target))
    return UsageError(kProgram, "transfer syntax " + target + " is not one the station converts to", kUsage);

  fw::tool::ToolLog log(verbose);
  fw::DcmObj ds;
  if (!ds.Read(files[0])) {
    log.Flush();
    std::cerr << kProgram << ": cannot read the DICOM file " << files[0] << '\n';
    return EXIT_FAILED;
  }
  const std::string source = ds.transferSyntax;
  if (!fw::ConvertTransferSyntax(ds, target)) {
    log.Flush();
    std::cerr << kProgram << ": " << files[0] << " could not be converted from " << source << " to " << target << '\n';
    return EXIT_FAILED;
  }
  if (!ds.Write(files[1])) {
    log.Flush();
    std::cerr << kProgram << ": cannot write " << files[1] << '\n';
    return EXIT_FAILED;
  }
  if (verbose)
    std::cerr << kProgram << ": " << files[0] << " (" << source << ") written to " << files[1] << " (" << target
              << ")\n";
  return EXIT_OK;
}
