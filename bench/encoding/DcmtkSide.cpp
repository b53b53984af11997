// DCMTK reading and writing DICOM files from and to memory buffers.
#include "bench/encoding/DcmtkSide.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcostrmb.h>
#include <dcmtk/dcmdata/dcstack.h>
#include <dcmtk/oflog/oflog.h>

namespace bench {

struct DcmtkFile::Impl {
  DcmFileFormat file;
};

DcmtkFile::DcmtkFile() : impl_(std::make_unique<Impl>()) {}
DcmtkFile::~DcmtkFile() = default;

bool DcmtkFile::Read(const std::vector<std::uint8_t> &file) {
  impl_ = std::make_unique<Impl>();
  DcmInputBufferStream in;
  in.setBuffer(file.data(), static_cast<offile_off_t>(file.size()));
  in.setEos();
  impl_->file.transferInit();
  const OFCondition status = impl_->file.read(in, EXS_Unknown, EGL_noChange, DCM_MaxReadLength);
  impl_->file.transferEnd();
  // A buffer stream cannot be read again later, but make sure nothing waits.
  impl_->file.loadAllDataIntoMemory();
  return status.good();
}

std::size_t DcmtkFile::Write(std::vector<std::uint8_t> &buffer) {
  DcmOutputBufferStream out(buffer.data(), static_cast<offile_off_t>(buffer.size()));
  const E_TransferSyntax xfer = impl_->file.getDataset()->getOriginalXfer();
  impl_->file.transferInit();
  const OFCondition status =
      impl_->file.write(out, xfer, EET_ExplicitLength, nullptr, EGL_noChange, EPD_noChange, 0, 0, 0, EWM_fileformat);
  impl_->file.transferEnd();
  if (status.bad()) {
    return 0;
  }
  void *bytes = nullptr;
  offile_off_t length = 0;
  out.flushBuffer(bytes, length);
  return static_cast<std::size_t>(length);
}

bool DcmtkFile::WriteFile(const std::string &path) {
  const E_TransferSyntax xfer = impl_->file.getDataset()->getOriginalXfer();
  return impl_->file.saveFile(path.c_str(), xfer, EET_ExplicitLength).good();
}

std::size_t DcmtkFile::CountElements() {
  DcmStack stack;
  std::size_t count = 0;
  while (impl_->file.getDataset()->nextObject(stack, OFTrue).good()) {
    ++count;
  }
  return count;
}

void QuietDcmtk() { OFLog::configure(OFLogger::ERROR_LOG_LEVEL); }

} // namespace bench
