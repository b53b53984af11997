// Fuzz target: arbitrary bytes as a whole DICOM file, decoded as
// DcmObj::Read decodes a loaded file (large values as views of it); whatever was decoded is then written
// again and dumped, so the writer and the dump see odd content too. Seeds in
// corpus/ are files of each transfer syntax written here and by DCMTK.
#include "dicom/BufData.h"
#include "dicom/DcmCodec.h"
#include "dicom/DcmDump.h"
#include "dicom/DcmObj.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fw::DcmObj dataSet;
  // Large values stay views of the input, as when a file is read.
  dataSet.ReadFrom(std::vector<std::uint8_t>(data, data + size));
  std::vector<std::string> lines;
  fw::Dump(dataSet, lines, 0);
  fw::BufData out(false);
  dataSet.WriteTo(out);
  // The piece encoder (what is sent and written to files) must produce the
  // same bytes as the plain one, with large values taken from the input.
  fw::BufData plain(false);
  fw::WriteObj(plain, dataSet);
  fw::BufData head(false);
  std::vector<fw::EncodedPiece> pieces;
  fw::WriteObjPieces(head, dataSet, fw::VIEWED_VALUE_BYTES, pieces);
  std::size_t at = 0;
  for (const fw::EncodedPiece &piece : pieces) {
    const std::uint8_t *bytes = piece.external != nullptr ? piece.external : head.Bytes().data() + piece.offset;
    if (piece.size > plain.Size() - at || !std::equal(bytes, bytes + piece.size, plain.Bytes().begin() + at))
      std::abort();
    at += piece.size;
  }
  if (at != plain.Size())
    std::abort();
  return 0;
}
