// PS3.8 7.1-7.3 association establishment, release and abort; 9.2 state machine
// PDU_Service: one association of the station (always the requester) with
// its link, one object of every association PDU, and the P-DATA-TF coder.
//
//   created -> OpenAssociation true -> associated -> ReleaseAssociation, or
//   a failure that closed the link -> closed -> destroyed
//
// (the states in between, as the state machine names them, are in
// AssociationState.h; State() tells where the association stands).
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
#include "net/association/AssociationState.h"
#include "net/association/Negotiation.h"
#include "net/association/PeerAddress.h"
#include "net/link/Buffer.h"
#include "net/link/TransferDeadline.h"
#include "net/pdu/AAbortRQ.h"
#include "net/pdu/AAssociateAC.h"
#include "net/pdu/AAssociateRJ.h"
#include "net/pdu/AAssociateRQ.h"
#include "net/pdu/AReleaseRP.h"
#include "net/pdu/AReleaseRQ.h"
#include "net/pdu/PDataTF.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

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

  // Opens an association with the peer, proposing one presentation context
  // per entry with context IDs 1, 3, 5, ... in the order given (see
  // Negotiation.h). AE titles are padded with spaces or cut to 16
  // characters. The peer's time-out (seconds) holds for every wait of the
  // association. False, nothing sent, for a list that does not fit one
  // request ("ERROR, OpenAssociation, <n> presentation contexts") or an
  // association not in Sta1; otherwise as Connect below.
  bool OpenAssociation(const PeerAddress &peer, const std::vector<ProposedContext> &contexts);
  // The same with the one context ProposeContext makes of the abstract
  // syntax and the two transfer syntaxes.
  bool OpenAssociation(std::string_view host, std::string_view port, std::string_view callingApTitle,
                       std::string_view calledApTitle, std::string_view abstractSyntax,
                       std::string_view transferSyntax1, std::string_view transferSyntax2, int timeoutSeconds);
  bool OpenAssociation(std::string_view host, std::string_view port, std::string_view callingApTitle,
                       std::string_view calledApTitle, std::string_view abstractSyntax, int timeoutSeconds);

  // Where the association stands; Sta1 once the link is closed, whoever
  // closed it.
  AssociationState State() const;
  // True while the association is established and its link open.
  bool IsOpen() const { return State() == AssociationState::Sta6Established; }
  // True when the peer answered the request with A-ASSOCIATE-RJ.
  bool Rejected() const { return rejected_; }
  // The peer's rejection (after Rejected) and acceptance as received.
  const AAssociateRJ &Rejection() const { return assocRJ; }
  const AAssociateAC &Acceptance() const { return assocAC; }
  // The largest PDU written on this association (see the table above).
  std::uint32_t PeerMaximumLength() const { return peerMaximumLength_; }

  // The accepted contexts, in the peer's order (accept items for contexts
  // never proposed left out, with a WARNING line).
  const std::vector<AcceptedContext> &AcceptedContexts() const { return accepted_; }
  // The context messages are written on: first DefaultContext, then what
  // ChooseContext says; 0 before an accept.
  std::uint8_t ChosenContext() const { return pdata.PresentationContextID; }
  void ChooseContext(std::uint8_t contextID) { pdata.PresentationContextID = contextID; }
  // The accepted context for an object of the class (AcceptedContextFor).
  std::uint8_t ContextFor(std::string_view abstractSyntax, std::string_view objectSyntax = {}) const {
    return AcceptedContextFor(accepted_, abstractSyntax, objectSyntax);
  }
  // The transfer syntax accepted for the context; false, uid unchanged, for
  // a context that was not accepted.
  bool AcceptedSyntax(std::uint8_t contextID, std::string &uid) const;
  // The abstract syntax proposed for a context ID; empty when none was.
  std::string ProposedAbstractSyntax(std::uint8_t contextID) const;

  // A-ABORT and the link closed, for a caller that gives up on the
  // association (a search past its match limit, a response that answers
  // another request).
  void AbortAssociation() { Abort(); }
  // A-RELEASE-RQ, then any 10 bytes as the answer, then the link is closed.
  // Always true.
  bool ReleaseAssociation();
  // The last ReleaseAssociation read an answer.
  bool ReleaseAnswered() const { return releaseAnswered_; }
  // Closes the link without a word, as a peer sees a lost connection.
  void Disconnect() { CloseLink(); }

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

  // The message ID of the last DIMSE request written; its response must
  // answer it in (0000,0120).
  std::uint16_t RequestMessageID() const { return requestMessageID_; }
  void SetRequestMessageID(std::uint16_t messageID) { requestMessageID_ = messageID; }

  // Asked while any wait of the association lasts (and between the pieces
  // of a send); true ends the operation with A-ABORT. Set before opening.
  void SetCancelCheck(std::function<bool()> check) { Link.dsocket().SetCancelCheck(std::move(check)); }
  // The operator's cancel ended the association.
  bool Cancelled() const { return cancelled_; }
  // Bytes a unit may take per time-out beyond its first (see the deadline
  // table); tests set it to make deadlines short or long.
  void SetBytesPerTimeout(std::uint64_t bytes) { bytesPerTimeout_ = bytes; }
  // List every message written or read in the log (at trace level 2 or more).
  void SetDumpMessages(bool dump) { dumpMessages_ = dump; }

  // Bytes the association holds between calls: what is left of the P-DATA-TF
  // PDU the last message ended in, and what is staged or queued on the link.
  struct HeldBytes {
    std::uint32_t pduLeft = 0;
    std::size_t stagedIn = 0;
    std::size_t stagedOut = 0;
    std::size_t linkOut = 0;
  };
  HeldBytes Held() const;

private:
  // Connects, sends the request and reads the answer. False with the link
  // closed, except after "Association RQ failed!" (still connected). A
  // rejection logs "Association Rejected..." and an ERROR line with its
  // result, source and reason in words, and sets Rejected. An accept without
  // a context the station can use is released (A-RELEASE-RQ, the answer
  // awaited) before the link closes.
  bool Connect(std::string_view host, std::string_view port);
  // The steps of Connect. ConnectLink opens the link (false when it could
  // not, the cancel logged). StartAnswer reads the answer's type byte and
  // starts its deadline; false when the answer is not coming. TakeAccept
  // reads an A-ASSOCIATE-AC and establishes the association; TakeReject
  // reads an A-ASSOCIATE-RJ and logs why (the caller closes the link).
  bool ConnectLink(std::string_view host, std::string_view port);
  bool StartAnswer(std::uint8_t &type);
  bool TakeAccept();
  void TakeReject();
  // Works out PeerMaximumLength from the accept; false, with its ERROR
  // line, for 1 to 6.
  bool TakePeerMaximumLength();
  // Keeps the accepted items in AcceptedContexts and chooses the
  // DefaultContext. Items for a context ID that was never proposed are
  // ignored with a WARNING line.
  bool SelectPresentationContext();

  // A-ABORT, then the link closed; the partly read message is dropped.
  void Abort();
  // Closes the link: the association is over (Sta1).
  void CloseLink();
  // Turns what the PDV reader said into Read's outcome; false ends Read.
  bool CheckPdvResult(PDataTF::ReadResult result);
  // The steps of Read. ReadRestOfPdu reads the PDVs left in the PDU the
  // previous message ended in. StartNextPdu reads the next PDU's type byte
  // and starts its deadline; false ends Read. EndOnOtherPdu deals with a PDU
  // other than a P-DATA-TF, which always ends Read.
  bool ReadRestOfPdu();
  bool StartNextPdu(std::uint8_t &type);
  void EndOnOtherPdu(std::uint8_t type);
  // Decodes the gathered message; on failure aborts.
  bool DecodeMessage(DcmObj &message);
  // Decodes the staging buffer's incoming bytes into message and empties it.
  bool ParseRawVRIntoDCM(Buffer &staging, DcmObj &message, std::uint8_t contextID);
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

  Buffer Link;
  AAssociateRQ assocRQ;
  AAssociateAC assocAC;
  AAssociateRJ assocRJ;
  AReleaseRQ releaseRQ;
  AReleaseRP releaseRP;
  AAbortRQ abortRQ;
  PDataTF pdata;

  AssociationState state_ = AssociationState::Sta1Idle;
  std::vector<AcceptedContext> accepted_;
  ReadClock clock_;
  bool dumpMessages_ = false;
  std::uint64_t bytesPerTimeout_ = TransferDeadline::DefaultBytesPerTimeout;
  std::uint16_t requestMessageID_ = 0;
  bool cancelled_ = false;
  bool messageTooLong_ = false;
  std::size_t lastMessageSize_ = 0;
  bool rejected_ = false;
  bool releaseAnswered_ = false;
  std::uint32_t peerMaximumLength_ = STATION_MAXIMUM_LENGTH;
};

} // namespace fw
