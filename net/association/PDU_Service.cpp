#include "net/association/PDU_Service.h"

#include "base/Log.h"
#include "dicom/BufData.h"
#include "dicom/DcmCodec.h"
#include "dicom/DcmDump.h"
#include "dicom/Uids.h"
#include "net/link/NetTrace.h"
#include "net/pdu/IdCounter.h"
#include "net/pdu/PresentationContext.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace fw {
namespace {

void Info(const std::string &line) {
  if (TraceLevel() >= 2) {
    WriteLog(line);
  }
}

std::string TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  return std::string(text);
}

// What a P-DATA-TF PDU length counts besides the fragment: the PDV's item
// length (4 bytes), context ID and control header.
constexpr std::uint32_t PDV_OVERHEAD = 6;

std::string_view calledTitleOf(const AAssociateRQ &request) {
  std::string_view title = request.CalledApTitle;
  while (!title.empty() && (title.back() == ' ' || title.back() == '\0')) {
    title.remove_suffix(1);
  }
  return title;
}

bool WasProposed(const AAssociateRQ &request, std::uint8_t contextID) {
  return std::any_of(request.PresContexts.begin(), request.PresContexts.end(),
                     [&](const auto &context) { return context->PresentationContextID == contextID; });
}

// "3 s", "0.5 s".
std::string DurationText(std::chrono::milliseconds duration) {
  const auto ms = duration.count();
  if (ms % 1000 == 0) {
    return std::to_string(ms / 1000) + " s";
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%.3g s", static_cast<double>(ms) / 1000.0);
  return text;
}

std::string PduName(std::uint8_t type) {
  switch (type) {
  case PDU_ASSOCIATE_RQ:
    return "A-ASSOCIATE-RQ";
  case PDU_ASSOCIATE_AC:
    return "A-ASSOCIATE-AC";
  case PDU_ASSOCIATE_RJ:
    return "A-ASSOCIATE-RJ";
  case PDU_DATA_TF:
    return "P-DATA-TF PDU";
  case PDU_RELEASE_RQ:
    return "A-RELEASE-RQ";
  case PDU_RELEASE_RP:
    return "A-RELEASE-RP";
  case PDU_ABORT:
    return "A-ABORT";
  default:
    return "PDU of type " + std::to_string(type);
  }
}

// Clears the link's deadline when a unit ends, however it ends.
class DeadlineScope {
public:
  explicit DeadlineScope(Socket &socket) : socket_(socket) {}
  ~DeadlineScope() { socket_.ClearDeadline(); }
  DeadlineScope(const DeadlineScope &) = delete;
  DeadlineScope &operator=(const DeadlineScope &) = delete;

private:
  Socket &socket_;
};

} // namespace

PDU_Service::PDU_Service() : PDU_Service(std::make_unique<Socket>()) {}

PDU_Service::PDU_Service(std::unique_ptr<Socket> socket) : Link(std::move(socket)) {
  Link.SetReadOrder(Buffer::BigEndian);
  Link.SetWriteOrder(Buffer::BigEndian);
  // A peer that leaves the station waiting past the time-out is told the
  // association is aborted before the link closes.
  Link.dsocket().SetTimeoutNotice(abortRQ.Bytes());
}

PDU_Service::~PDU_Service() {
  if (Link.dsocket().Connected()) {
    Link.dsocket().Close();
  }
}

AssociationState PDU_Service::State() const { return Link.dsocket().Connected() ? state_ : AssociationState::Sta1Idle; }

PDU_Service::HeldBytes PDU_Service::Held() const {
  return {pdata.PduLength, pdata.Staging.Incoming(), pdata.Staging.Outgoing(), Link.Outgoing()};
}

void PDU_Service::CloseLink() {
  Link.dsocket().Close();
  state_ = AssociationState::Sta1Idle;
}

// ---- association establishment and release ----

bool PDU_Service::OpenAssociation(const PeerAddress &peer, const std::vector<ProposedContext> &contexts) {
  if (!ProposalFits(contexts)) {
    WriteLog("ERROR, OpenAssociation, " + std::to_string(contexts.size()) + " presentation contexts");
    return false;
  }
  if (State() != AssociationState::Sta1Idle) {
    return false; // one association per object, opened once
  }
  assocRQ.SetCallingApTitle(peer.callingApTitle);
  assocRQ.SetCalledApTitle(peer.calledApTitle);
  assocRQ.SetApplicationContext(APPLICATION_CONTEXT_NAME);
  Link.dsocket().SetTimeout(peer.timeoutSeconds);
  Info("INFO, OpenAssociation, Calling Ap. Title: " + assocRQ.CallingApTitle);
  Info("INFO, OpenAssociation, Called Ap. Title: " + assocRQ.CalledApTitle);

  IdCounter::Reset();
  for (const ProposedContext &proposed : contexts) {
    auto context = std::make_unique<PresentationContext>(IdCounter::ContextID());
    context->SetAbstractSyntax(proposed.abstractSyntax);
    for (const std::string &syntax : proposed.transferSyntaxes) {
      context->AddTransferSyntax(syntax);
    }
    if (proposed.transferSyntaxes.empty()) {
      context->AddTransferSyntax(IMPLICIT_VR_LITTLE_ENDIAN);
    }
    assocRQ.AddPresentationContext(std::move(context));
  }
  return Connect(peer.host, peer.port);
}

bool PDU_Service::OpenAssociation(std::string_view host, std::string_view port, std::string_view callingApTitle,
                                  std::string_view calledApTitle, std::string_view abstractSyntax,
                                  std::string_view transferSyntax1, std::string_view transferSyntax2,
                                  int timeoutSeconds) {
  return OpenAssociation(
      {std::string(host), std::string(port), std::string(callingApTitle), std::string(calledApTitle), timeoutSeconds},
      {ProposeContext(abstractSyntax, transferSyntax1, transferSyntax2)});
}

bool PDU_Service::OpenAssociation(std::string_view host, std::string_view port, std::string_view callingApTitle,
                                  std::string_view calledApTitle, std::string_view abstractSyntax, int timeoutSeconds) {
  return OpenAssociation(host, port, callingApTitle, calledApTitle, abstractSyntax, {}, {}, timeoutSeconds);
}

bool PDU_Service::Connect(std::string_view host, std::string_view port) {
  pdata.PduLength = 0;
  assocRQ.UserInfo.SetMaximumLength(STATION_MAXIMUM_LENGTH);
  assocRQ.UserInfo.SetImpClass(IMPLEMENTATION_CLASS_UID);
  assocRQ.UserInfo.SetImpVersion(IMPLEMENTATION_VERSION_NAME);
  if (!ConnectLink(host, port)) {
    return false;
  }
  state_ = AssociationState::Sta5AwaitingAccept;
  const DeadlineScope scope(Link.dsocket());
  if (!assocRQ.Write(Link)) {
    if (GaveUp("Connect", "A-ASSOCIATE-RQ not sent")) {
      return false;
    }
    WriteLog("Association RQ failed!");
    return false;
  }
  std::uint8_t type = 0;
  if (!StartAnswer(type)) {
    return false;
  }
  if (type == PDU_ASSOCIATE_AC) {
    return TakeAccept();
  }
  if (type == PDU_ASSOCIATE_RJ) {
    TakeReject();
  } else {
    WriteLog("Corrupt Transmission...");
  }
  CloseLink();
  return false;
}

bool PDU_Service::ConnectLink(std::string_view host, std::string_view port) {
  Socket &socket = Link.dsocket();
  if (!socket.Connect(host, port)) {
    if (socket.Interrupted() == Socket::Interrupt::Cancelled) {
      cancelled_ = true;
      WriteLog("WARNING, PDU_Service::Connect, cancelled by the operator");
    }
    return false;
  }
  if (TraceLevel() >= 1) {
    WriteLog("Connected to: " + std::string(host) + ":" + std::string(port));
  }
  return true;
}

bool PDU_Service::StartAnswer(std::uint8_t &type) {
  if (!Link.ReadByte(type)) {
    GaveUp("Connect", "answer not received");
    return false;
  }
  Info("Item Type: " + std::to_string(type));
  // The answer, from its first byte, within the deadline of its size.
  clock_ = ReadClock{};
  // A link lost here goes on as before: the reads below fail and say so.
  return StartPdu(type) || !GaveUp("Connect", ReadTooSlowText());
}

bool PDU_Service::TakeAccept() {
  Info("Association Accept::ReadDynamic");
  const bool read = assocAC.ReadDynamic(Link);
  if (GaveUp("Connect", ReadTooSlowText())) {
    return false;
  }
  if (!read && !assocAC.ItemsAddUp && Link.dsocket().Connected()) {
    Abort();
    WriteLog("ERROR, PDU_Service::Connect, the A-ASSOCIATE-AC's items do not add up, refused");
    return false;
  }
  // Otherwise whatever items were read count.
  if (!TakePeerMaximumLength()) {
    Abort();
    return false;
  }
  state_ = AssociationState::Sta6Established;
  if (!SelectPresentationContext()) {
    // The association is established all the same: end it properly.
    ReleaseAssociation();
    return false;
  }
  return true;
}

void PDU_Service::TakeReject() {
  rejected_ = true;
  WriteLog("Association Rejected...");
  if (assocRJ.ReadDynamic(Link)) {
    WriteLog("ERROR, Association rejected by " + std::string(calledTitleOf(assocRQ)) + ", " +
             RejectText(assocRJ.Result, assocRJ.Source, assocRJ.Reason));
  } else if (!GaveUp("Connect", ReadTooSlowText())) {
    WriteLog("ERROR, Association rejected, the A-ASSOCIATE-RJ was cut short");
  }
}

TransferDeadline PDU_Service::Deadlines() const {
  return {std::chrono::seconds(std::max(Link.dsocket().Timeout(), 0)), bytesPerTimeout_};
}

bool PDU_Service::StartPdu(std::uint8_t type) {
  const auto now = Socket::Clock::now();
  if (!clock_.started && type == PDU_DATA_TF) {
    clock_.started = true;
    clock_.messageStart = now;
    clock_.announced = 0;
  }
  clock_.pduStart = now;
  clock_.pduType = type;
  clock_.pduSize = 6; // until the length is known: the header only
  clock_.pduLengthKnown = false;
  ApplyReadDeadlines();
  std::uint8_t header[5];
  if (!Link.Peek(header, sizeof(header))) {
    return false;
  }
  const std::uint32_t length = std::uint32_t{header[1]} << 24 | std::uint32_t{header[2]} << 16 |
                               std::uint32_t{header[3]} << 8 | std::uint32_t{header[4]};
  clock_.pduSize = std::uint64_t{length} + 6;
  clock_.pduLengthKnown = true;
  if (type == PDU_DATA_TF) {
    clock_.announced += length;
  }
  ApplyReadDeadlines();
  return true;
}

void PDU_Service::ApplyReadDeadlines() {
  const TransferDeadline deadlines = Deadlines();
  const auto pduEnd = clock_.pduStart + deadlines.For(clock_.pduSize);
  if (!clock_.started) {
    clock_.pduBinding = true;
    Link.dsocket().SetDeadline(pduEnd);
    return;
  }
  const auto messageEnd = clock_.messageStart + deadlines.For(clock_.announced);
  clock_.pduBinding = pduEnd <= messageEnd;
  Link.dsocket().SetDeadline(std::min(pduEnd, messageEnd));
}

std::string PDU_Service::ReadTooSlowText() const {
  const TransferDeadline deadlines = Deadlines();
  if (clock_.pduBinding && !clock_.pduLengthKnown) {
    return PduName(clock_.pduType) + " header not received within " + DurationText(deadlines.For(clock_.pduSize));
  }
  if (clock_.pduBinding) {
    return PduName(clock_.pduType) + " of " + std::to_string(clock_.pduSize) + " bytes not received within " +
           DurationText(deadlines.For(clock_.pduSize));
  }
  std::string what = "message";
  if (pdata.PdvLength != 0) {
    what = (pdata.PdvControlHeader & 0x01) != 0 ? "command" : "data set";
  }
  return what + " not received within " + DurationText(deadlines.For(clock_.announced)) + " (" +
         std::to_string(clock_.announced) + " bytes announced)";
}

bool PDU_Service::GaveUp(std::string_view operation, const std::string &tooSlow) {
  const Socket::Interrupt why = Link.dsocket().Interrupted();
  if (why == Socket::Interrupt::None || !Link.dsocket().Connected()) {
    return false;
  }
  Abort();
  if (why == Socket::Interrupt::Cancelled) {
    cancelled_ = true;
    WriteLog("WARNING, PDU_Service::" + std::string(operation) + ", cancelled by the operator");
  } else {
    WriteLog("ERROR, PDU_Service::" + std::string(operation) + ", " + tooSlow);
  }
  return true;
}

bool PDU_Service::TakePeerMaximumLength() {
  const UserInformation &info = assocAC.UserInfo;
  const std::uint32_t received = info.MaxSubLength.MaximumLength;
  if (!info.HasMaximumLength) {
    peerMaximumLength_ = STATION_MAXIMUM_LENGTH;
  } else if (received == 0 || received > STATION_MAXIMUM_LENGTH) {
    peerMaximumLength_ = STATION_MAXIMUM_LENGTH;
    WriteLog("INFO, PDU_Service::Write, MaxiumLength set to 16384");
  } else if (received <= PDV_OVERHEAD) {
    WriteLog("ERROR, PDU_Service::Connect, the peer's maximum PDU length " + std::to_string(received) +
             " leaves no room for data");
    return false;
  } else {
    peerMaximumLength_ = received;
  }
  return true;
}

bool PDU_Service::SelectPresentationContext() {
  accepted_.clear();
  if (assocAC.PresContextAccepts.empty()) {
    WriteLog("WARNING, assocAC.PresContextAccepts Count==0");
  }
  for (const auto &accept : assocAC.PresContextAccepts) {
    if (!WasProposed(assocRQ, accept->PresentationContextID)) {
      WriteLog("WARNING, PDU_Service, accept item for presentation context " +
               std::to_string(accept->PresentationContextID) + ", which was not proposed, ignored");
      continue;
    }
    if (!accept->Accepted()) {
      continue;
    }
    accepted_.push_back(
        {accept->PresentationContextID, ProposedAbstractSyntax(accept->PresentationContextID), accept->TrnSyntax.UID});
    Info("Presentation Context Accept ID: " + std::to_string(accept->PresentationContextID) +
         ", Transfer Syntax: " + accept->TrnSyntax.UID);
  }
  const std::uint8_t chosen = DefaultContext(accepted_);
  if (chosen == 0) {
    WriteLog("ERROR, Transfer Syntax is Empty");
    return false;
  }
  pdata.PresentationContextID = chosen;
  return true;
}

std::string PDU_Service::ProposedAbstractSyntax(std::uint8_t contextID) const {
  for (const auto &context : assocRQ.PresContexts) {
    if (context->PresentationContextID == contextID) {
      return context->AbsSyntax.UID;
    }
  }
  return {};
}

bool PDU_Service::ReleaseAssociation() {
  pdata.PduLength = 0;
  releaseAnswered_ = false;
  const AssociationState from = State();
  // From Sta5 too: a request cut short leaves a link the peer may still read.
  if (from == AssociationState::Sta6Established || from == AssociationState::Sta5AwaitingAccept) {
    state_ = AssociationState::Sta7AwaitingReleaseRP;
    // A request that could not be sent gets no answer worth waiting for.
    if (releaseRQ.Write(Link)) {
      releaseAnswered_ = releaseRP.Read(Link); // any 10 bytes end the wait
    }
  }
  CloseLink();
  return true;
}

// ---- message transfer ----

namespace {
// Values of at least this many bytes are sent from where they are.
constexpr std::size_t LARGE_VALUE = 16 * 1024;
} // namespace

bool PDU_Service::Write(DcmObj &message, bool isCommand) {
  if (!IsOpen()) {
    return false; // the association is over: nothing to encode or send
  }
  if (pdata.PresentationContextID == 0) {
    WriteLog("ERROR: pdata.PresentationContextID is 0"); // ChooseContext(0)
    return false;
  }
  // Large values (pixel data, fragments) are not copied: the PDUs take them
  // from the data set.
  ListMessage(message, true);
  BufData stream;
  std::vector<EncodedPiece> pieces;
  try {
    WriteObjPieces(stream, message, LARGE_VALUE, pieces);
  } catch (const std::bad_alloc &) {
    WriteLog(isCommand ? "ERROR: Parsing DCM Into RAW VR for Command Mode"
                       : "ERROR: Parsing DCM Into RAW VR for Data Mode");
    return false;
  }
  std::vector<Socket::Slice> parts;
  parts.reserve(pieces.size());
  for (const EncodedPiece &piece : pieces) {
    parts.push_back({piece.external != nullptr ? piece.external : stream.Bytes().data() + piece.offset, piece.size});
  }
  pdata.MessageControl = isCommand ? 1 : 0;
  pdata.BlockSize = peerMaximumLength_ - PDV_OVERHEAD; // above 0: lengths 1 to 6 refused at Connect
  std::uint64_t size = 0;
  for (const Socket::Slice &part : parts) {
    size += part.size;
  }
  const DeadlineScope scope(Link.dsocket());
  const std::chrono::milliseconds allowed = Deadlines().For(size);
  Link.dsocket().SetDeadline(Socket::Clock::now() + allowed);
  if (pdata.WriteMessage(Link, parts.data(), parts.size())) {
    return true;
  }
  GaveUp("Write", std::string(isCommand ? "command" : "data set") + " of " + std::to_string(size) +
                      " bytes not sent within " + DurationText(allowed));
  return false;
}

bool PDU_Service::Read(DcmObj &message) { return Read(message, PDataTF::MaxMessageSize); }

bool PDU_Service::Read(DcmObj &message, std::size_t limit) {
  messageTooLong_ = false;
  if (!IsOpen()) {
    return false;
  }
  pdata.MessageComplete = false;
  pdata.PdvLength = 0;
  pdata.MessageLimit = std::min(limit, PDataTF::MaxMessageSize);
  struct LimitScope {
    PDataTF &pdata;
    ~LimitScope() { pdata.MessageLimit = PDataTF::MaxMessageSize; }
  } limitScope{pdata};
  const DeadlineScope scope(Link.dsocket());
  clock_ = ReadClock{};

  if (pdata.PduLength != 0) {
    if (!ReadRestOfPdu()) {
      return false;
    }
    if (pdata.MessageComplete) {
      return DecodeMessage(message);
    }
  }
  for (;;) {
    std::uint8_t type = 0;
    if (!StartNextPdu(type)) {
      return false;
    }
    if (type != PDU_DATA_TF) {
      EndOnOtherPdu(type);
      return false;
    }
    if (!CheckPdvResult(pdata.ReadDynamic(Link))) {
      return false;
    }
    if (pdata.MessageComplete) {
      return DecodeMessage(message);
    }
  }
}

bool PDU_Service::ReadRestOfPdu() {
  // The previous message ended inside a PDU: its remaining PDVs come first,
  // within the deadline of what is left of it.
  const auto now = Socket::Clock::now();
  clock_ = ReadClock{true, now, pdata.PduLength, now, PDU_DATA_TF, pdata.PduLength, true};
  ApplyReadDeadlines();
  return CheckPdvResult(pdata.ReadDynamic(Link));
}

bool PDU_Service::StartNextPdu(std::uint8_t &type) {
  if (clock_.started) {
    // Between the PDUs of a message only the message's deadline runs.
    clock_.pduBinding = false;
    Link.dsocket().SetDeadline(clock_.messageStart + Deadlines().For(clock_.announced));
  }
  if (!Link.ReadByte(type)) {
    pdata.Staging.DiscardIncoming();
    GaveUp("Read", ReadTooSlowText());
    return false;
  }
  if (!StartPdu(type) && GaveUp("Read", ReadTooSlowText())) {
    pdata.Staging.DiscardIncoming();
    return false;
  }
  return true;
}

void PDU_Service::EndOnOtherPdu(std::uint8_t type) {
  switch (type) {
  case PDU_ASSOCIATE_RQ: {
    AAssociateRQ unexpected;
    unexpected.ReadDynamic(Link);
    Abort();
    WriteLog("ERROR, PDU_Service::Read Associate-RQ");
    return;
  }
  case PDU_ASSOCIATE_AC: {
    AAssociateAC unexpected;
    unexpected.ReadDynamic(Link);
    Abort();
    WriteLog("ERROR, PDU_Service::Read Associate-AC");
    return;
  }
  case PDU_ASSOCIATE_RJ:
    Abort();
    WriteLog("ERROR, PDU_Service::Read Associate-RJ");
    return;
  case PDU_RELEASE_RQ:
    // The peer ends the association: agree, and it is over.
    pdata.Staging.DiscardIncoming();
    pdata.PduLength = 0;
    if (releaseRQ.ReadDynamic(Link)) {
      releaseRP.Write(Link);
      state_ = AssociationState::Sta13AwaitingClose;
    }
    CloseLink();
    WriteLog("WARNING, PDU_Service::Read Release-RQ");
    return;
  case PDU_RELEASE_RP:
    pdata.Staging.DiscardIncoming();
    CloseLink();
    WriteLog("WARNING, PDU_Service::Read Release-RSP");
    return;
  case PDU_ABORT:
    pdata.Staging.DiscardIncoming();
    CloseLink();
    WriteLog("WARNING, PDU_Service::Read Abort-RQ");
    return;
  default:
    Abort();
    WriteLog("ERROR, PDU_Service::Read Protocol Error");
    return;
  }
}

bool PDU_Service::CheckPdvResult(PDataTF::ReadResult result) {
  switch (result) {
  case PDataTF::ReadResult::Read:
    return true;
  case PDataTF::ReadResult::LinkLost:
    pdata.Staging.DiscardIncoming();
    pdata.PduLength = 0;
    GaveUp("Read", ReadTooSlowText());
    return false;
  case PDataTF::ReadResult::Malformed:
    Abort();
    WriteLog("ERROR, PDU_Service::Read Protocol Error");
    return false;
  case PDataTF::ReadResult::TooLong:
    messageTooLong_ = true;
    Abort();
    WriteLog("ERROR, PDU_Service::Read, message too long (" + std::to_string(pdata.RefusedSize()) + ")");
    return false;
  }
  return false;
}

bool PDU_Service::DecodeMessage(DcmObj &message) {
  lastMessageSize_ = pdata.Staging.Incoming();
  if (ParseRawVRIntoDCM(pdata.Staging, message, pdata.ReceivedContextID)) {
    return true;
  }
  Abort();
  WriteLog("ERROR, PDU_Service::Read ParseRawVRIntoDCM()");
  return false;
}

void PDU_Service::Abort() {
  abortRQ.Write(Link);
  state_ = AssociationState::Sta13AwaitingClose;
  CloseLink();
  pdata.Staging.DiscardIncoming();
  pdata.PduLength = 0;
}

bool PDU_Service::ParseRawVRIntoDCM(Buffer &staging, DcmObj &message, std::uint8_t contextID) {
  std::string uid;
  if (!AcceptedSyntax(contextID, uid)) {
    staging.DiscardIncoming();
    WriteLog("ERROR, PDU_Service::ParseRawVRIntoDCM GetTransferSyntaxUID()");
    return false;
  }
  message.transferSyntax = uid;
  message.explicitVR = uid != IMPLICIT_VR_LITTLE_ENDIAN;

  std::vector<std::uint8_t> bytes(staging.Incoming());
  staging.ReadBytes(bytes.data(), bytes.size());
  BufData stream(std::move(bytes), false);
  if (!ReadOjb(stream, message)) {
    WriteLog("ERROR, PDU_Service::ParseRawVRIntoDCM buf.ReadOjb()");
    return false;
  }
  ListMessage(message, false);
  return true;
}

bool PDU_Service::AcceptedSyntax(std::uint8_t contextID, std::string &uid) const {
  const AcceptedContext *accepted = FindAccepted(accepted_, contextID);
  if (accepted == nullptr) {
    return false;
  }
  uid = accepted->transferSyntax;
  return true;
}

void PDU_Service::ListMessage(const DcmObj &message, bool written) const {
  if (!dumpMessages_ || TraceLevel() < 2) {
    return;
  }
  WriteLog(TrimBlanks(assocAC.CallingApTitle) + (written ? " >> " : " << ") + TrimBlanks(assocAC.CalledApTitle));
  std::vector<std::string> lines;
  Dump(message, lines, 0);
  for (const std::string &line : lines) {
    WriteLog(line);
  }
  WriteLog("");
}

} // namespace fw
