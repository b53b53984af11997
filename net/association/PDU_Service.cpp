#include "net/association/PDU_Service.h"

#include "app/base/Log.h"
#include "dicom/BufData.h"
#include "dicom/DcmCodec.h"
#include "dicom/DcmDump.h"
#include "dicom/Uids.h"
#include "net/link/NetTrace.h"
#include "net/pdu/IdCounter.h"
#include "net/pdu/PresentationContext.h"

#include <algorithm>
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

bool IsSelectable(std::string_view uid) {
  return std::find(SELECTABLE_TRANSFER_SYNTAXES.begin(), SELECTABLE_TRANSFER_SYNTAXES.end(), uid) !=
         SELECTABLE_TRANSFER_SYNTAXES.end();
}

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

// ---- association establishment and release ----

bool PDU_Service::OpenAssociation(std::string_view host, std::string_view port, std::string_view callingApTitle,
                                  std::string_view calledApTitle, std::string_view abstractSyntax,
                                  std::string_view transferSyntax1, std::string_view transferSyntax2,
                                  int timeoutSeconds) {
  assocRQ.SetCallingApTitle(callingApTitle);
  assocRQ.SetCalledApTitle(calledApTitle);
  assocRQ.SetApplicationContext(APPLICATION_CONTEXT_NAME);
  Link.dsocket().SetTimeout(timeoutSeconds);
  Info("INFO, OpenAssociation, Calling Ap. Title: " + assocRQ.CallingApTitle);
  Info("INFO, OpenAssociation, Called Ap. Title: " + assocRQ.CalledApTitle);

  IdCounter::Reset();
  auto context = std::make_unique<PresentationContext>(IdCounter::ContextID());
  context->SetAbstractSyntax(abstractSyntax);
  if (!transferSyntax2.empty()) {
    context->AddTransferSyntax(transferSyntax2);
  }
  if (!transferSyntax1.empty() && transferSyntax1 != transferSyntax2) {
    context->AddTransferSyntax(transferSyntax1);
  }
  if (transferSyntax1 != IMPLICIT_VR_LITTLE_ENDIAN && transferSyntax2 != IMPLICIT_VR_LITTLE_ENDIAN) {
    context->AddTransferSyntax(IMPLICIT_VR_LITTLE_ENDIAN);
  }
  assocRQ.AddPresentationContext(std::move(context));
  return Connect(host, port);
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

  if (!Link.dsocket().Connect(host, port)) {
    return false;
  }
  if (TraceLevel() >= 1) {
    WriteLog("Connected to: " + std::string(host) + ":" + std::string(port));
  }
  if (!assocRQ.Write(Link)) {
    WriteLog("Association RQ failed!");
    return false;
  }

  std::uint8_t type = 0;
  if (!Link.ReadByte(type)) {
    return false;
  }
  Info("Item Type: " + std::to_string(type));
  if (type == PDU_ASSOCIATE_AC) {
    Info("Association Accept::ReadDynamic");
    assocAC.ReadDynamic(Link); // whatever items were read count
    if (!TakePeerMaximumLength()) {
      Abort();
      return false;
    }
    if (!SelectPresentationContext()) {
      // The association is established all the same: end it properly.
      ReleaseAssociation();
      return false;
    }
    return true;
  }
  if (type == PDU_ASSOCIATE_RJ) {
    rejected_ = true;
    WriteLog("Association Rejected...");
    if (assocRJ.ReadDynamic(Link)) {
      WriteLog("ERROR, Association rejected by " + std::string(calledTitleOf(assocRQ)) + ", " +
               RejectText(assocRJ.Result, assocRJ.Source, assocRJ.Reason));
    } else {
      WriteLog("ERROR, Association rejected, the A-ASSOCIATE-RJ was cut short");
    }
  } else {
    WriteLog("Corrupt Transmission...");
  }
  Link.dsocket().Close();
  return false;
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
  const PresentationContextAccept *chosen = nullptr;
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
    AcceptedContexts.push_back(accept.get());
    Info("Presentation Context Accept ID: " + std::to_string(accept->PresentationContextID) +
         ", Transfer Syntax: " + accept->TrnSyntax.UID);
    if (chosen == nullptr && IsSelectable(accept->TrnSyntax.UID)) {
      chosen = accept.get();
    }
  }
  if (chosen == nullptr) {
    WriteLog("ERROR, Transfer Syntax is Empty");
    return false;
  }
  pdata.PresentationContextID = chosen->PresentationContextID;
  return true;
}

bool PDU_Service::ReleaseAssociation() {
  pdata.PduLength = 0;
  if (Link.dsocket().Connected()) {
    // A request that could not be sent gets no answer worth waiting for.
    if (releaseRQ.Write(Link)) {
      releaseRP.Read(Link); // any 10 bytes end the wait
    }
  }
  Link.dsocket().Close();
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
    WriteLog("ERROR: pdata.PresentationContextID is 0");
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
  return pdata.WriteMessage(Link, parts.data(), parts.size());
}

bool PDU_Service::EncodeMessage(DcmObj &message, BufData &stream, bool isCommand) {
  ListMessage(message, true);
  try {
    stream.Reserve(EncodedSizeBound(message));
    WriteObj(stream, message);
    return true;
  } catch (const std::bad_alloc &) {
    // A data set too large for memory.
    WriteLog(isCommand ? "ERROR: Parsing DCM Into RAW VR for Command Mode"
                       : "ERROR: Parsing DCM Into RAW VR for Data Mode");
    return false;
  }
}

bool PDU_Service::ParseDCMIntoRawVR(DcmObj &message, Buffer &staging, bool isCommand) {
  BufData stream;
  if (!EncodeMessage(message, stream, isCommand)) {
    staging.DiscardOutgoing(); // nothing of it may stay staged
    return false;
  }
  staging.WriteBytes(stream.Bytes().data(), stream.Size());
  return true;
}

bool PDU_Service::Read(DcmObj &message) {
  if (!Link.dsocket().Connected()) {
    return false;
  }
  pdata.MessageComplete = false;

  // The previous message ended inside a PDU: its remaining PDVs come first.
  if (pdata.PduLength != 0) {
    if (!CheckPdvResult(pdata.ReadDynamic(Link))) {
      return false;
    }
    if (pdata.MessageComplete) {
      return DecodeMessage(message);
    }
  }

  for (;;) {
    std::uint8_t type = 0;
    if (!Link.ReadByte(type)) {
      pdata.Staging.DiscardIncoming();
      return false;
    }
    switch (type) {
    case PDU_DATA_TF:
      if (!CheckPdvResult(pdata.ReadDynamic(Link))) {
        return false;
      }
      if (pdata.MessageComplete) {
        return DecodeMessage(message);
      }
      continue;
    case PDU_ASSOCIATE_RQ: {
      AAssociateRQ unexpected;
      unexpected.ReadDynamic(Link);
      Abort();
      WriteLog("ERROR, PDU_Service::Read Associate-RQ");
      return false;
    }
    case PDU_ASSOCIATE_AC: {
      AAssociateAC unexpected;
      unexpected.ReadDynamic(Link);
      Abort();
      WriteLog("ERROR, PDU_Service::Read Associate-AC");
      return false;
    }
    case PDU_ASSOCIATE_RJ:
      Abort();
      WriteLog("ERROR, PDU_Service::Read Associate-RJ");
      return false;
    case PDU_RELEASE_RQ:
      // The peer ends the association: agree, and it is over.
      pdata.Staging.DiscardIncoming();
      pdata.PduLength = 0;
      if (releaseRQ.ReadDynamic(Link)) {
        releaseRP.Write(Link);
      }
      Link.dsocket().Close();
      WriteLog("WARNING, PDU_Service::Read Release-RQ");
      return false;
    case PDU_RELEASE_RP:
      pdata.Staging.DiscardIncoming();
      Link.dsocket().Close();
      WriteLog("WARNING, PDU_Service::Read Release-RSP");
      return false;
    case PDU_ABORT:
      pdata.Staging.DiscardIncoming();
      Link.dsocket().Close();
      WriteLog("WARNING, PDU_Service::Read Abort-RQ");
      return false;
    default:
      Abort();
      WriteLog("ERROR, PDU_Service::Read Protocol Error");
      return false;
    }
  }
}

bool PDU_Service::CheckPdvResult(PDataTF::ReadResult result) {
  switch (result) {
  case PDataTF::ReadResult::Read:
    return true;
  case PDataTF::ReadResult::LinkLost:
    pdata.Staging.DiscardIncoming();
    pdata.PduLength = 0;
    return false;
  case PDataTF::ReadResult::Malformed:
    Abort();
    WriteLog("ERROR, PDU_Service::Read Protocol Error");
    return false;
  case PDataTF::ReadResult::TooLong:
    Abort();
    WriteLog("ERROR, PDU_Service::Read, message too long (" + std::to_string(pdata.RefusedSize()) + ")");
    return false;
  }
  return false;
}

bool PDU_Service::DecodeMessage(DcmObj &message) {
  if (ParseRawVRIntoDCM(pdata.Staging, message, pdata.ReceivedContextID)) {
    return true;
  }
  Abort();
  WriteLog("ERROR, PDU_Service::Read ParseRawVRIntoDCM()");
  return false;
}

void PDU_Service::Abort() {
  abortRQ.Write(Link);
  Link.dsocket().Close();
  pdata.Staging.DiscardIncoming();
  pdata.PduLength = 0;
}

bool PDU_Service::ParseRawVRIntoDCM(Buffer &staging, DcmObj &message, std::uint8_t contextID) {
  std::string uid;
  if (!GetTransferSyntaxUID(contextID, uid)) {
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

bool PDU_Service::GetTransferSyntaxUID(std::uint8_t contextID, std::string &uid) const {
  for (const PresentationContextAccept *accept : AcceptedContexts) {
    if (accept->PresentationContextID == contextID) {
      uid = accept->TrnSyntax.UID;
      return true;
    }
  }
  return false;
}

void PDU_Service::ListMessage(const DcmObj &message, bool written) const {
  if (!DumpMessages || TraceLevel() < 2) {
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
