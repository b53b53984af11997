// The DCMTK half of the encoding benchmark, behind a small interface so that
// DCMTK's headers (which have a DcmTag of their own) stay in one file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bench {

// One DICOM file held by DCMTK.
class DcmtkFile {
public:
  DcmtkFile();
  ~DcmtkFile();
  DcmtkFile(const DcmtkFile &) = delete;
  DcmtkFile &operator=(const DcmtkFile &) = delete;

  // Parses a whole file from memory, every value loaded; false on an error.
  bool Read(const std::vector<std::uint8_t> &file);
  // Writes the file into buffer (large enough) in its own transfer syntax,
  // with explicit sequence lengths; the byte count, 0 on an error.
  std::size_t Write(std::vector<std::uint8_t> &buffer);
  // Saves the file at path in its own transfer syntax, with explicit
  // sequence lengths, as a program saving an object to disk does; false on an
  // error.
  bool WriteFile(const std::string &path);
  // Elements of the data set, items and nested elements included.
  std::size_t CountElements();

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Turns DCMTK's warnings off for the benchmark run.
void QuietDcmtk();

} // namespace bench
