// PS3.7 9.1.5 C-ECHO, 9.3.5 C-ECHO protocol
// CEcho: verification (C-ECHO) as service class user.
//
// C-ECHO-RQ command set, implicit VR little endian, elements in tag order,
// UIDs padded to even length with a zero byte:
//
//   tag          VR  attribute                 value
//   (0000,0000)  UL  Command Group Length      38 + the SOP class UID's even length
//   (0000,0002)  UI  Affected SOP Class UID    "1.2.840.10008.1.1"
//   (0000,0100)  US  Command Field             0x0030
//   (0000,0110)  US  Message ID                next message ID
//   (0000,0800)  US  Command Data Set Type     0x0101 (no data set)
//
// The answer counts only with Command Field 0x8030, the request's message ID
// in (0000,0120) and Status 0x0000; a missing or warning status is a failed
// test.
#pragma once

#include "dicom/DcmObj.h"
#include "net/association/PeerAddress.h"

#include <cstdint>
#include <string_view>

namespace fw {

class PDU_Service;

inline constexpr std::uint16_t C_ECHO_RQ = 0x0030;
inline constexpr std::uint16_t C_ECHO_RSP = 0x8030;

namespace CEcho {

// Fills an empty command set with the C-ECHO-RQ of the table above.
void BuildRQ(DcmObj &command, std::string_view sopClassUID, std::uint16_t messageID);
// Writes the C-ECHO-RQ (message ID drawn from IdCounter) as a command.
bool WriteRQ(PDU_Service &service, std::string_view sopClassUID);
// True only when a response was read, it is a C-ECHO-RSP and its status is 0.
bool ReadRSP(PDU_Service &service);

} // namespace CEcho

enum class EchoOutcome {
  Answered,      // the C-ECHO succeeded
  Rejected,      // the peer rejected the association (A-ASSOCIATE-RJ)
  NoAssociation, // no association: no connection, no valid answer, nothing acceptable
  Failed,        // associated, but the C-ECHO failed
};

// One complete verification: open (verification, implicit VR little endian
// only), C-ECHO, release.
EchoOutcome EchoPeer(const PeerAddress &peer);

// EchoPeer, true only when all of it succeeded.
bool EchoNode(std::string_view host, std::string_view port, std::string_view callingApTitle,
              std::string_view calledApTitle, int timeoutSeconds);

} // namespace fw
