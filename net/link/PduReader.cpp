#include "net/link/PduReader.h"

namespace fw {

PduReader::PduReader(Buffer &link, std::uint64_t budget) : PduReader(link, budget, std::make_shared<bool>(false)) {}

PduReader::PduReader(Buffer &link, std::uint64_t budget, std::shared_ptr<bool> linkFailed)
    : link_(link), left_(budget), linkFailed_(std::move(linkFailed)) {}

bool PduReader::Fits(std::uint64_t n) {
  if (n > left_ || *linkFailed_) {
    overrun_ = overrun_ || n > left_;
    return false;
  }
  left_ -= n;
  return true;
}

bool PduReader::Check(bool linkOk) {
  if (!linkOk) {
    *linkFailed_ = true;
  }
  return linkOk;
}

bool PduReader::ReadByte(std::uint8_t &value) { return Fits(1) && Check(link_.ReadByte(value)); }
bool PduReader::ReadUInt16(std::uint16_t &value) { return Fits(2) && Check(link_.ReadUInt16(value)); }
bool PduReader::ReadUInt32(std::uint32_t &value) { return Fits(4) && Check(link_.ReadUInt32(value)); }
bool PduReader::ReadBytes(void *dest, std::size_t n) { return Fits(n) && Check(link_.ReadBytes(dest, n)); }
bool PduReader::Skip(std::uint64_t n) { return Fits(n) && Check(link_.Skip(n)); }

std::optional<PduReader> PduReader::Take(std::uint64_t n) {
  if (!Fits(n)) {
    return std::nullopt;
  }
  return PduReader(link_, n, linkFailed_);
}

std::optional<PduReader> ReadItemHeader(PduReader &in, std::uint8_t &reserved, std::uint16_t &length) {
  if (!in.ReadByte(reserved) || !in.ReadUInt16(length)) {
    return std::nullopt;
  }
  return in.Take(length);
}

} // namespace fw
