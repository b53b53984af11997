// StoreRequest: WriteStoreRQ and ReadStoreRSP, over the store step.
#include "net/dimse/StoreRequest.h"

#include "base/Log.h"
#include "dicom/Tags.h"
#include "dicom/Uids.h"
#include "net/association/PDU_Service.h"
#include "net/dimse/CStore.h"
#include "net/dimse/StoreStep.h"

#include <algorithm>
#include <array>

namespace fw {

namespace {

std::string TrimUid(std::string text) {
  while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

} // namespace

std::string StoredSopClass(const DcmObj &dataSet, std::string_view fallback) {
  std::string own = TrimUid(dataSet.FindText(tag::SOPClassUID));
  return own.empty() ? TrimUid(std::string(fallback)) : own;
}

bool IsLossyTransferSyntax(std::string_view uid) {
  static constexpr std::array<std::string_view, 6> LOSSY = {
      JPEG_BASELINE, JPEG_EXTENDED, JPEG_2000, "1.2.840.10008.1.2.4.81", "1.2.840.10008.1.2.4.93", MPEG2_MAIN_PROFILE,
  };
  return std::find(LOSSY.begin(), LOSSY.end(), uid) != LOSSY.end() || uid.starts_with("1.2.840.10008.1.2.4.10");
}

int WriteStoreRQ(PDU_Service &service, DcmObj &dataSet, std::string_view sopClassUID) {
  if (!service.IsOpen()) {
    return -4; // the association is over: converting would be wasted
  }
  if (service.ChosenContext() == 0) {
    return -1;
  }
  const std::string sopClass = StoredSopClass(dataSet, sopClassUID);
  StoreResult result;
  if (SendStoreRequest(service, dataSet, sopClass, {}, result)) {
    return 0;
  }
  switch (result.outcome) {
  case StoreResult::Outcome::NoContext:
    if (result.contextID != 0) {
      return -2; // chosen, but without a transfer syntax on record
    }
    WriteLog("ERROR, WriteStoreRQ, no accepted presentation context for " + sopClass);
    return -1;
  case StoreResult::Outcome::LossyConversion:
  case StoreResult::Outcome::ConversionFailed:
    return -3;
  default:
    return -4;
  }
}

int ReadStoreRSP(PDU_Service &service) { return CStore::ReadRSP(service); }

} // namespace fw
