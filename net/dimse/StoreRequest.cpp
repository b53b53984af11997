// StoreRequest: WriteStoreRQ and ReadStoreRSP.
#include "net/dimse/StoreRequest.h"

#include "base/Log.h"
#include "conversion/ConvertTransferSyntax.h"
#include "dicom/Uids.h"
#include "net/association/PDU_Service.h"
#include "net/dimse/CStore.h"

#include <algorithm>
#include <array>

namespace fw {

namespace {

// The syntaxes a data set moves between by relabelling alone: element values
// are kept little endian either way.
bool IsRelabelable(std::string_view uid) {
  return uid == IMPLICIT_VR_LITTLE_ENDIAN || uid == EXPLICIT_VR_LITTLE_ENDIAN;
}

std::string TrimUid(std::string text) {
  while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

} // namespace

std::string StoredSopClass(const DcmObj &dataSet, std::string_view fallback) {
  std::string own = TrimUid(dataSet.FindText(0x0008, 0x0016));
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
  const std::uint8_t contextID = service.ContextFor(sopClass, dataSet.transferSyntax);
  if (contextID == 0) {
    WriteLog("ERROR, WriteStoreRQ, no accepted presentation context for " + sopClass);
    return -1;
  }
  service.ChooseContext(contextID);

  std::string accepted;
  if (!service.AcceptedSyntax(contextID, accepted)) {
    return -2;
  }
  if (dataSet.transferSyntax != accepted) {
    if (IsImageStorageClass(sopClass)) {
      if (!ConvertTransferSyntax(dataSet, accepted)) {
        return -3;
      }
    } else if (IsRelabelable(accepted) && IsRelabelable(dataSet.transferSyntax)) {
      dataSet.transferSyntax = accepted;
      dataSet.explicitVR = accepted != IMPLICIT_VR_LITTLE_ENDIAN;
    } else {
      WriteLog("ERROR, WriteStoreRQ, cannot send " + dataSet.transferSyntax + " as " + accepted);
      return -3;
    }
  }
  return CStore::WriteRQ(service, &dataSet, sopClass) ? 0 : -4;
}

int ReadStoreRSP(PDU_Service &service) { return CStore::ReadRSP(service); }

} // namespace fw
