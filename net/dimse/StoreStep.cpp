// StoreStep: StoreFile and its request half.
#include "net/dimse/StoreStep.h"

#include "base/Log.h"
#include "conversion/ConvertTransferSyntax.h"
#include "dicom/Uids.h"
#include "net/association/PDU_Service.h"
#include "net/dimse/CStore.h"
#include "net/dimse/StoreRequest.h"

#include <memory>

namespace fw {

namespace {

using Outcome = StoreResult::Outcome;

// The syntaxes a data set moves between by relabelling alone: element values
// are kept little endian either way.
bool IsRelabelable(std::string_view uid) {
  return uid == IMPLICIT_VR_LITTLE_ENDIAN || uid == EXPLICIT_VR_LITTLE_ENDIAN;
}

// A failure on the link after the operator cancelled is the cancel.
StoreResult Finished(const PDU_Service &service, StoreResult result) {
  const bool onTheLink = result.outcome == Outcome::AssociationOver || result.outcome == Outcome::NotSent ||
                         result.outcome == Outcome::NoResponse || result.outcome == Outcome::InvalidResponse;
  if (onTheLink && service.Cancelled()) {
    result.outcome = Outcome::Cancelled;
  }
  return result;
}

} // namespace

bool IsStoreWarning(int status) { return status == 0x0001 || (status >= 0xB000 && status <= 0xBFFF); }

bool SendStoreRequest(PDU_Service &service, DcmObj &dataSet, std::string_view sopClass, const StoreOptions &options,
                      StoreResult &result) {
  if (!service.IsOpen()) {
    result.outcome = Outcome::AssociationOver; // converting would be wasted
    return false;
  }
  result.contextID = service.ContextFor(sopClass, dataSet.transferSyntax);
  if (result.contextID == 0) {
    result.outcome = Outcome::NoContext;
    return false;
  }
  service.ChooseContext(result.contextID);
  if (!service.AcceptedSyntax(result.contextID, result.acceptedSyntax)) {
    result.outcome = Outcome::NoContext;
    return false;
  }
  const std::string &accepted = result.acceptedSyntax;
  if (dataSet.transferSyntax != accepted) {
    if (options.refuseLossyConversion && IsLossyTransferSyntax(accepted)) {
      result.outcome = Outcome::LossyConversion;
      return false;
    }
    if (IsImageStorageClass(sopClass)) {
      if (!ConvertTransferSyntax(dataSet, accepted)) {
        result.outcome = Outcome::ConversionFailed;
        return false;
      }
    } else if (IsRelabelable(accepted) && IsRelabelable(dataSet.transferSyntax)) {
      dataSet.transferSyntax = accepted;
      dataSet.explicitVR = accepted != IMPLICIT_VR_LITTLE_ENDIAN;
    } else {
      WriteLog("ERROR, WriteStoreRQ, cannot send " + dataSet.transferSyntax + " as " + accepted);
      result.outcome = Outcome::ConversionFailed;
      return false;
    }
  }
  if (!CStore::WriteRQ(service, &dataSet, sopClass)) {
    result.outcome = Outcome::NotSent;
    return false;
  }
  return true;
}

StoreResult StoreFile(PDU_Service &service, const std::string &path, std::string_view sopClass,
                      const StoreOptions &options) {
  StoreResult result;
  if (options.checkLinkBeforeReading && !service.IsOpen()) {
    result.outcome = Outcome::AssociationOver; // not worth reading the file for
    return Finished(service, result);
  }
  auto dataSet = std::make_unique<DcmObj>();
  if (!dataSet->Read(path)) {
    result.outcome = Outcome::Unreadable;
    return result;
  }
  if (!SendStoreRequest(service, *dataSet, sopClass, options, result)) {
    return Finished(service, result);
  }
  // The object may be large: it is not held while the peer takes its time.
  dataSet.reset();
  const int status = CStore::ReadRSP(service);
  if (status == -1) {
    result.outcome = Outcome::NoResponse;
  } else if (status == -2) {
    result.outcome = Outcome::InvalidResponse;
  } else {
    result.status = status;
    result.outcome = status == 0              ? Outcome::Stored
                     : IsStoreWarning(status) ? Outcome::StoredWithWarning
                                              : Outcome::Refused;
  }
  return Finished(service, result);
}

} // namespace fw
