// Fuzz target: arbitrary bytes as a whole DICOM file, decoded as
// DcmObj::Read decodes a loaded file; whatever was decoded is then written
// again and dumped, so the writer and the dump see odd content too. Seeds in
// corpus/ are files of each transfer syntax written here and by DCMTK.
#include "dicom/BufData.h"
#include "dicom/DcmDump.h"
#include "dicom/DcmObj.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fw::BufData stream(std::vector<std::uint8_t>(data, data + size), false);
  fw::DcmObj dataSet;
  dataSet.ReadFrom(stream);
  std::vector<std::string> lines;
  fw::Dump(dataSet, lines, 0);
  fw::BufData out(false);
  dataSet.WriteTo(out);
  return 0;
}
