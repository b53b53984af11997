// PS3.8 7.1-7.3 association establishment, release and abort; 9.2 state machine
// PDU_Service: one association of the station (always the requester) with
// its link, one object of every association PDU, and the P-DATA-TF coder.
//
//   created -> OpenAssociation true -> associated -> ReleaseAssociation, or
//   a failure that closed the link -> closed -> destroyed
//
// One object serves one association: the caller opens, exchanges its DIMSE
// messages with Write and Read, releases (in every case, even after a failed
// open) and destroys it. Every call blocks until its PDUs are sent or
// received, each wait bounded by the association's time-out. A wait for the
// peer that runs out of time sends A-ABORT and closes the link; every other
// end closes it in order (FIN), a reset being kept for a peer that takes
// nothing more (see Socket).
//
// What Read does with the PDU that comes instead of data:
//
//   type                 action                          log line
//   0x01 A-ASSOCIATE-RQ  read it, A-ABORT, close         ERROR, PDU_Service::Read Associate-RQ
//   0x02 A-ASSOCIATE-AC  read it, A-ABORT, close         ERROR, PDU_Service::Read Associate-AC
//   0x03 A-ASSOCIATE-RJ  A-ABORT, close                  ERROR, PDU_Service::Read Associate-RJ
//   0x05 A-RELEASE-RQ    read it, answer A-RELEASE-RP,   WARNING, PDU_Service::Read Release-RQ
//                        close (the association is over)
//   0x06 A-RELEASE-RP    close                           WARNING, PDU_Service::Read Release-RSP
//   0x07 A-ABORT         close                           WARNING, PDU_Service::Read Abort-RQ
//   other                A-ABORT, close                  ERROR, PDU_Service::Read Protocol Error
//
// All of them make Read false. So do a P-DATA-TF whose PDVs do not fit it
// (A-ABORT, the Protocol Error line), a message that grows past
// PDataTF::MaxMessageSize (A-ABORT, "ERROR, PDU_Service::Read, message too
// long (<bytes>)") and one that cannot be decoded (A-ABORT,
// "ERROR, PDU_Service::Read ParseRawVRIntoDCM()"). A link lost in the middle
// is not aborted. Once the link is closed, for whatever reason, the
// association is over: Write fails at once without encoding or sending, and
// ReleaseAssociation sends nothing.
//
// The peer's maximum PDU length (A-ASSOCIATE-AC user information) sets the
// fragment size of everything written:
//
//   received             used
//   no sub-item          16384
//   0 (no limit)         16384
//   above 16384          16384 ("INFO, PDU_Service, MaxiumLength set to 16384")
//   7 to 16384           as received
//   1 to 6               the association is aborted: no room for a fragment
//
// An A-ASSOCIATE-AC whose items do not add up (an item longer than what the
// PDU has left, an accept item or user information sub-item too short for
// its fields, more accept items than context IDs, a PDU too short for its
// fixed part) is refused: A-ABORT, "ERROR, PDU_Service::Connect, the
// A-ASSOCIATE-AC's items do not add up, refused".
//
// Deadlines. The time-out bounds each wait for bytes, which a peer that
// trickles renews for ever; these bound each unit as a whole
// (TransferDeadline: the time-out for the first MiB, one more for each
// further MiB begun, BytesPerTimeout):
//
//   unit                      runs from                  size counted
//   the association's answer  its first byte             its PDU length
//   each PDU read             its first byte             its PDU length
//   each message read         its first PDU's first byte the P-DATA-TF PDU
//     (command or data set)                              lengths so far
//   each message written      the start of its writing   its encoded size
//
// Nothing at all within the time-out stays a plain time-out (the socket's
// line). A unit past its deadline ends with A-ABORT, the link closed, and one
// line naming it:
//   ERROR, PDU_Service::Connect, A-ASSOCIATE-AC of <n> bytes not received within <t>
//   ERROR, PDU_Service::Read, P-DATA-TF PDU of <n> bytes not received within <t>
//   ERROR, PDU_Service::Read, P-DATA-TF PDU header not received within <t>
//   ERROR, PDU_Service::Read, command not received within <t> (<n> bytes announced)
//   ERROR, PDU_Service::Write, data set of <n> bytes not sent within <t>
// (<t> as "3 s" or "0.5 s"; "message" where command or data set is not yet
// known.) A cancel check (SetCancelCheck) that says yes ends any wait the
// same way, within Socket::CancelPoll, with "WARNING, PDU_Service::<Connect,
// Read or Write>, cancelled by the operator", and Cancelled() true.
#pragma once

#include "dicom/DcmObj.h"
#include "net/link/Buffer.h"
#include "net/link/TransferDeadline.h"
#include "net/pdu/AAbortRQ.h"
#include "net/pdu/AAssociateAC.h"
#include "net/pdu/AAssociateRJ.h"
#include "net/pdu/AAssociateRQ.h"
#include "net/pdu/AReleaseRP.h"
#include "net/pdu/AReleaseRQ.h"
#include "net/pdu/PDataTF.h"
#include "net/pdu/PresentationContextAccept.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// The transfer syntaxes messages may be written in, unranked: the first
// accepted context with one of them is used.
inline constexpr std::array<std::string_view, 6> SELECTABLE_TRANSFER_SYNTAXES = {
    "1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.70", "1.2.840.10008.1.2.1",
    "1.2.840.10008.1.2",      "1.2.840.10008.1.2.4.91", "1.2.840.10008.1.2.4.50",
};

// The maximum PDU length the station asks for and the largest it sends.
inline constexpr std::uint32_t STATION_MAXIMUM_LENGTH = 16384;

class PDU_Service {
public:
  PDU_Service();
  // An association over another kind of socket (see MemorySocket).
  explicit PDU_Service(std::unique_ptr<Socket> socket);
  ~PDU_Service();
  PDU_Service(const PDU_Service &) = delete;
  PDU_Service &operator=(const PDU_Service &) = delete;

  // Proposes one presentation context (ID 1) for the abstract syntax with,
  // in this order: transferSyntax2 if not empty; transferSyntax1 if not
  // empty and not the same; implicit VR little endian unless already there.
  // AE titles are padded with spaces or cut to 16 characters. The time-out
  // (seconds) holds for every wait of the association.
  bool OpenAssociation(std::string_view host, std::string_view port, std::string_view callingApTitle,
                       std::string_view calledApTitle, std::string_view abstractSyntax,
                       std::string_view transferSyntax1, std::string_view transferSyntax2, int timeoutSeconds);
  bool OpenAssociation(std::string_view host, std::string_view port, std::string_view callingApTitle,
                       std::string_view calledApTitle, std::string_view abstractSyntax, int timeoutSeconds);

  // Connects, sends the request and reads the answer. False with the link
  // closed, except after "Association RQ failed!" (still connected). A
  // rejection logs "Association Rejected..." and an ERROR line with its
  // result, source and reason in words, and sets Rejected. An accept without
  // a context the station can use is released (A-RELEASE-RQ, the answer
  // awaited) before the link closes.
  bool Connect(std::string_view host, std::string_view port);

  // Keeps the accepted items in AcceptedContexts and chooses the first one
  // whose transfer syntax is selectable for writing. Items for a context ID
  // that was never proposed are ignored with a WARNING line.
  bool SelectPresentationContext();

  // True while the link of the association is open.
  bool IsOpen() const { return Link.dsocket().Connected(); }
  // True when the peer answered the request with A-ASSOCIATE-RJ.
  bool Rejected() const { return rejected_; }
  // The largest PDU written on this association (see the table above).
  std::uint32_t PeerMaximumLength() const { return peerMaximumLength_; }
  // A-ABORT and the link closed, for a caller that gives up on the
  // association (a search past its match limit, a response that answers
  // another request).
  void AbortAssociation() { Abort(); }

  // A-RELEASE-RQ, then any 10 bytes as the answer, then the link is closed.
  // Always true.
  bool ReleaseAssociation();

  // Encodes the message in its own transfer syntax and sends it on the
  // chosen context, as a command (control bit 0 set) or a data set.
  bool Write(DcmObj &message, bool isCommand);
  // Reads the next complete message and adds its elements to message, which
  // gets the transfer syntax of the context it came on.
  bool Read(DcmObj &message);
  // The same for a message of at most limit bytes (capped at
  // PDataTF::MaxMessageSize): a longer one is refused like one past that
  // size, and MessageTooLong() tells.
  bool Read(DcmObj &message, std::size_t limit);
  // The last Read refused its message for its size.
  bool MessageTooLong() const { return messageTooLong_; }
  // Bytes of the message the last successful Read took.
  std::size_t LastMessageSize() const { return lastMessageSize_; }

  // Asked while any wait of the association lasts (and between the pieces
  // of a send); true ends the operation with A-ABORT. Set before opening.
  void SetCancelCheck(std::function<bool()> check) { Link.dsocket().SetCancelCheck(std::move(check)); }
  // The operator's cancel ended the association.
  bool Cancelled() const { return cancelled_; }
  // Bytes a unit may take per time-out beyond its first (see the deadline
  // table); tests set it to make deadlines short or long.
  std::uint64_t BytesPerTimeout = TransferDeadline::DefaultBytesPerTimeout;

  // Encodes message into stream (after listing it); false, logged, when it
  // does not fit in memory.
  bool EncodeMessage(DcmObj &message, BufData &stream, bool isCommand);
  bool ParseDCMIntoRawVR(DcmObj &message, Buffer &staging, bool isCommand);
  // Decodes the staging buffer's incoming bytes into message and empties it.
  bool ParseRawVRIntoDCM(Buffer &staging, DcmObj &message, std::uint8_t contextID);
  bool GetTransferSyntaxUID(std::uint8_t contextID, std::string &uid) const;

  // List every message written or read in the log (at trace level 2 or more).
  bool DumpMessages = false;
  // Message ID of the last DIMSE request written; its response must answer
  // it in (0000,0120).
  std::uint16_t RequestMessageID = 0;
  // The accepted items of assocAC, in the peer's order; they belong to it.
  std::vector<PresentationContextAccept *> AcceptedContexts;
  Buffer Link;
  AAssociateRQ assocRQ;
  AAssociateAC assocAC;
  AAssociateRJ assocRJ;
  AReleaseRQ releaseRQ;
  AReleaseRP releaseRP;
  AAbortRQ abortRQ;
  PDataTF pdata;

  // Works out PeerMaximumLength from the accept (Connect calls it); false,
  // with its ERROR line, for 1 to 6.
  bool TakePeerMaximumLength();

private:
  // A-ABORT, then the link closed; the partly read message is dropped.
  void Abort();
  // Turns what the PDV reader said into Read's outcome; false ends Read.
  bool CheckPdvResult(PDataTF::ReadResult result);
  // Decodes the gathered message; on failure aborts.
  bool DecodeMessage(DcmObj &message);
  void ListMessage(const DcmObj &message, bool written) const;

  TransferDeadline Deadlines() const;
  // Starts the deadline of the PDU whose type byte was just read (and of
  // the message, for the first PDU of a Read): peeks at its length. False
  // when the link failed or the wait was interrupted.
  bool StartPdu(std::uint8_t type);
  // Sets the link's deadline to the earlier of the PDU's and the message's.
  void ApplyReadDeadlines();
  // When the last wait was interrupted: A-ABORT, the line for what was too
  // slow (or the cancel), and true.
  bool GaveUp(std::string_view operation, const std::string &tooSlow);
  std::string ReadTooSlowText() const;

  // The deadlines of the Read under way.
  struct ReadClock {
    bool started = false;
    Socket::Clock::time_point messageStart;
    std::uint64_t announced = 0; // P-DATA-TF PDU lengths of the message so far
    Socket::Clock::time_point pduStart;
    std::uint8_t pduType = 0;
    std::uint64_t pduSize = 0;
    bool pduLengthKnown = false;
    bool pduBinding = false; // the PDU's deadline is the earlier one
  };
  ReadClock clock_;
  bool cancelled_ = false;
  bool messageTooLong_ = false;
  std::size_t lastMessageSize_ = 0;
  bool rejected_ = false;
  std::uint32_t peerMaximumLength_ = STATION_MAXIMUM_LENGTH;
};

} // namespace fw
