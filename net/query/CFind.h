// PS3.7 9.1.2 C-FIND, 9.3.2 C-FIND protocol
// CFind: the C-FIND request and response of a query, as service class user.
//
// C-FIND-RQ command set, implicit VR little endian, elements in tag order,
// UIDs padded to even length with a zero byte:
//
//   tag          VR  attribute                 value
//   (0000,0000)  UL  Command Group Length      48 + the SOP class UID's even length
//   (0000,0002)  UI  Affected SOP Class UID    the information model given
//   (0000,0100)  US  Command Field             0x0020
//   (0000,0110)  US  Message ID                next message ID
//   (0000,0700)  US  Priority                  0 (medium)
//   (0000,0800)  US  Command Data Set Type     0x0102 (an identifier follows)
//
// A C-FIND-RSP has Command Field 0x8020; its identifier follows unless its
// Command Data Set Type is 0x0101. Statuses 0xFF00 and 0xFF01 are pending
// (one match each); 0x0000 ends the query; anything else is a failure (or a
// cancel) that ends it too.
#pragma once

#include "dicom/DcmObj.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fw {

class PDU_Service;

// Information models of the two searches.
inline constexpr std::string_view STUDY_ROOT_FIND_UID = "1.2.840.10008.5.1.4.1.2.2.1";
inline constexpr std::string_view MODALITY_WORKLIST_FIND_UID = "1.2.840.10008.5.1.4.31";

inline constexpr std::uint16_t C_FIND_RQ = 0x0020;
inline constexpr std::uint16_t C_FIND_RSP = 0x8020;
inline constexpr std::uint16_t FIND_PENDING = 0xFF00;
inline constexpr std::uint16_t FIND_PENDING_WARNING = 0xFF01;
inline constexpr std::uint16_t FIND_SUCCESS = 0x0000;

// The largest identifier a response may carry: a worklist or study match is
// a few kilobytes, and a 60 MB Patient's Name once froze the station.
inline constexpr std::size_t MAX_IDENTIFIER_SIZE = std::size_t{1} << 20;

// A response status (or a -1 failure) that announces more responses.
inline bool IsPendingStatus(int status) { return status == FIND_PENDING || status == FIND_PENDING_WARNING; }

namespace CFind {

// Fills an empty command set with the C-FIND-RQ of the table above.
void BuildRQ(DcmObj &command, std::string_view sopClassUID, std::uint16_t messageID);

// Writes the C-FIND-RQ (message ID drawn from IdCounter) and, when the
// identifier has any entry, the identifier as a data set. False when a write
// fails.
bool WriteRQ(PDU_Service &service, DcmObj &identifier, std::string_view sopClassUID);

// Reads one C-FIND-RSP, and its identifier into the caller's container
// unless the response announces none. -1 when a message cannot be read, is
// not a C-FIND-RSP, has no Status, answers another request than the last one
// written (the association is then aborted), or the announced identifier
// cannot be read; otherwise the status (0 to 65535).
//
// An identifier larger than identifierLimit is refused: the association is
// aborted, "ERROR, CFind::ReadRSP, identifier larger than <limit> bytes,
// refused", -1. A value longer than its VR allows is cut to that length with
// a WARNING line (BoundValueLengths); the identifier stays usable.
int ReadRSP(PDU_Service &service, DcmObj &identifier);
// The same; identifierRead tells whether the response carried an identifier.
int ReadRSP(PDU_Service &service, DcmObj &identifier, bool &identifierRead,
            std::size_t identifierLimit = MAX_IDENTIFIER_SIZE);

} // namespace CFind

} // namespace fw
