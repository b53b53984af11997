// Fuzz target: ReadOjb over arbitrary bytes, as the network decodes a
// received data set or command set. The first byte picks the transfer syntax
// (its value modulo 3: implicit VR little endian, explicit VR little endian,
// explicit VR big endian); the rest is the stream. What was decoded is written
// again in the same syntax and read back, and dumped. Seeds in corpus/ are
// data sets of each syntax with that first byte.
#include "dicom/BufData.h"
#include "dicom/DcmCodec.h"
#include "dicom/DcmDump.h"
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  static const std::string_view SYNTAXES[] = {fw::IMPLICIT_VR_LITTLE_ENDIAN, fw::EXPLICIT_VR_LITTLE_ENDIAN,
                                              fw::EXPLICIT_VR_BIG_ENDIAN};
  const std::string_view syntax = SYNTAXES[data[0] % 3];
  const bool bigEndian = syntax == fw::EXPLICIT_VR_BIG_ENDIAN;

  fw::DcmObj dataSet;
  dataSet.transferSyntax = std::string(syntax);
  dataSet.explicitVR = syntax != fw::IMPLICIT_VR_LITTLE_ENDIAN;
  fw::BufData in(std::vector<std::uint8_t>(data + 1, data + size), bigEndian);
  fw::ReadOjb(in, dataSet);

  std::vector<std::string> lines;
  fw::Dump(dataSet, lines, 0);

  fw::BufData out(false);
  fw::WriteObj(out, dataSet);
  out.Seek(0);
  fw::DcmObj again;
  again.transferSyntax = dataSet.transferSyntax;
  again.explicitVR = dataSet.explicitVR;
  fw::ReadOjb(out, again);
  return 0;
}
