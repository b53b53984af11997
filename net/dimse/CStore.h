// PS3.7 9.1.1 C-STORE, 9.3.1 C-STORE protocol
// CStore: storage (C-STORE) as service class user. The presentation contexts
// of the SOP classes to be stored are proposed and chosen as Negotiation.h
// says (ProposeStorageContexts, AcceptedContextFor).
//
// C-STORE-RQ command set, implicit VR little endian, elements in tag order,
// UIDs padded to even length with a zero byte:
//
//   tag          VR  attribute                   value
//   (0000,0000)  UL  Command Group Length        48 + L(class UID) [+ 8 + L(instance UID)]
//   (0000,0002)  UI  Affected SOP Class UID      the SOP class UID given
//   (0000,0100)  US  Command Field               0x0001
//   (0000,0110)  US  Message ID                  next message ID
//   (0000,0700)  US  Priority                    0 (medium)
//   (0000,0800)  US  Command Data Set Type       0x0102 (a data set follows)
//   (0000,1000)  UI  Affected SOP Instance UID   the data set's (0008,0018); left out when empty
//
// L(x) is the length of x rounded up to even. A C-STORE-RSP must have
// Command Field 0x8001, the request's message ID in (0000,0120) and a
// Status; only status 0 means stored.
#pragma once

#include "dicom/DcmObj.h"
#include "net/association/Negotiation.h"

#include <cstdint>
#include <string_view>

namespace fw {

class PDU_Service;

inline constexpr std::uint16_t C_STORE_RQ = 0x0001;
inline constexpr std::uint16_t C_STORE_RSP = 0x8001;

namespace CStore {

// Fills an empty command set with the C-STORE-RQ of the table above.
void BuildRQ(DcmObj &command, std::string_view sopClassUID, std::string_view sopInstanceUID, std::uint16_t messageID);
// Writes the C-STORE-RQ (message ID drawn from IdCounter) and then the data
// set, when there is one, in its own transfer syntax.
bool WriteRQ(PDU_Service &service, DcmObj *dataSet, std::string_view sopClassUID);
// -1 no response could be read, -2 the message read is not a C-STORE-RSP,
// answers another request (the association is then aborted) or has no
// Status, otherwise the status (0 to 65535; non-zero logged). A data set the
// response announces is read and dropped.
int ReadRSP(PDU_Service &service);

} // namespace CStore

} // namespace fw
