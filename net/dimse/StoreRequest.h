// PS3.4 B.2 Storage service class, SCU behaviour
// StoreRequest: sending one object with C-STORE on an open association,
// converted first when the context it travels on was accepted with another
// transfer syntax.
//
// The object goes on an accepted context proposed for its own SOP class
// (0008,0016), the caller's UID standing in when the object has none; that
// UID is the Affected SOP Class UID. A context accepted with the object's own
// transfer syntax comes first (see AcceptedContextFor), so the object's bytes
// go out as they are. Only when no such context was accepted, and the
// object's transfer syntax differs from the context's:
//
//   object                     action
//   image storage class        ConvertTransferSyntax to the context's syntax
//   other, both syntaxes       relabelled (the encoder writes the elements in
//   implicit or explicit VR    the context's syntax)
//   little endian
//   other                      not sent (-3): the peer could not read it
//
// Results: 0 sent, -1 no accepted context for the SOP class, -2 no transfer
// syntax recorded for it, -3 the data set could not be brought into that
// syntax, -4 writing the request failed, or the association was already
// over (then at once, with nothing converted or sent).
//
// WriteStoreRQ is the request half of the store step (SendStoreRequest in
// StoreStep.h) with the data set's own class and these integers for its
// outcomes; a caller that wants the reason uses the step.
#pragma once

#include "dicom/DcmObj.h"

#include <string>
#include <string_view>

namespace fw {

class PDU_Service;

// The SOP class an object is stored as: its (0008,0016), else fallback.
std::string StoredSopClass(const DcmObj &dataSet, std::string_view fallback);

// True for transfer syntaxes that lose information when written.
bool IsLossyTransferSyntax(std::string_view uid);

// Converts dataSet in place as needed and sends it (see above).
int WriteStoreRQ(PDU_Service &service, DcmObj &dataSet, std::string_view sopClassUID);

// The same as CStore::ReadRSP.
int ReadStoreRSP(PDU_Service &service);

} // namespace fw
