// CStore: the C-STORE-RQ command set, its exchange, and the association that
// proposes the storage contexts of each SOP class.
#include "net/dimse/CStore.h"

#include "base/Log.h"
#include "dicom/DcmTag.h"
#include "dicom/Uids.h"
#include "net/association/DimseCommand.h"
#include "net/association/PDU_Service.h"
#include "net/association/Response.h"
#include "net/link/NetTrace.h"
#include "net/pdu/IdCounter.h"
#include "net/pdu/PresentationContext.h"

#include <algorithm>
#include <memory>

namespace fw {

namespace {

bool IsSelectable(std::string_view uid) {
  return std::find(SELECTABLE_TRANSFER_SYNTAXES.begin(), SELECTABLE_TRANSFER_SYNTAXES.end(), uid) !=
         SELECTABLE_TRANSFER_SYNTAXES.end();
}

bool IsUncompressed(std::string_view uid) {
  return uid == EXPLICIT_VR_LITTLE_ENDIAN || uid == IMPLICIT_VR_LITTLE_ENDIAN;
}

void AddOnce(std::vector<std::string> &list, std::string_view value) {
  if (!value.empty() && std::find(list.begin(), list.end(), value) == list.end()) {
    list.emplace_back(value);
  }
}

// A class with the compressed syntaxes of its objects, in order.
struct ClassSyntaxes {
  std::string sopClass;
  std::vector<std::string> compressed;
};

} // namespace

void CStore::BuildRQ(DcmObj &command, std::string_view sopClassUID, std::string_view sopInstanceUID,
                     std::uint16_t messageID) {
  dimse::CommandFields fields;
  fields.affectedSopClass = sopClassUID;
  fields.commandField = C_STORE_RQ;
  fields.messageID = messageID;
  fields.priority = dimse::PRIORITY_MEDIUM;
  fields.dataSetType = dimse::DATA_SET_PRESENT;
  fields.affectedSopInstance = sopInstanceUID;
  dimse::BuildCommand(command, fields);
}

bool CStore::WriteRQ(PDU_Service &service, DcmObj *dataSet, std::string_view sopClassUID) {
  const std::string instanceUID = dataSet != nullptr ? dataSet->FindText(0x0008, 0x0018) : std::string();
  DcmObj command;
  service.RequestMessageID = IdCounter::MessageID();
  BuildRQ(command, sopClassUID, instanceUID, service.RequestMessageID);
  if (!service.Write(command, true)) {
    WriteLog("ERROR, CStore::WriteRQ, PDU->Write DCO failed");
    return false;
  }
  if (dataSet == nullptr) {
    return true;
  }
  return service.Write(*dataSet, false);
}

int CStore::ReadRSP(PDU_Service &service) {
  DcmObj response;
  if (!service.Read(response)) {
    WriteLog("ERROR, CStore::ReadRSP, PDU->Read DCO failed");
    return -1;
  }
  if (AnnouncesDataSet(response) && !DropDataSet(service)) {
    WriteLog("ERROR, CStore::ReadRSP, PDU->Read DCO failed");
    return -1;
  }
  if (response.FindUS(dimse::COMMAND_GROUP, dimse::COMMAND_FIELD) != C_STORE_RSP) {
    WriteLog("ERROR, CStore::ReadRSP, not a C-Store RSP");
    return -2;
  }
  if (!AnswersRequest(service, response, "CStore::ReadRSP")) {
    return -2;
  }
  // Status is mandatory: a response without one must not count as stored.
  const DcmTag *status = response.FindElement(dimse::COMMAND_GROUP, dimse::STATUS);
  if (status == nullptr || status->data.size() < 2) {
    WriteLog("ERROR, CStore::ReadRSP, no status");
    return -2;
  }
  const int value = status->GetUS();
  if (value != 0) {
    WriteLog("ERROR, CStore::ReadRSP, status == " + std::to_string(value));
  }
  return value;
}

std::vector<ProposedContext> ProposeStorageContexts(const std::vector<StorageClass> &classes) {
  std::vector<ClassSyntaxes> wanted;
  for (const StorageClass &storage : classes) {
    if (storage.sopClass.empty()) {
      continue;
    }
    auto known = std::find_if(wanted.begin(), wanted.end(),
                              [&](const ClassSyntaxes &c) { return c.sopClass == storage.sopClass; });
    if (known == wanted.end()) {
      if (wanted.size() == MAX_PRESENTATION_CONTEXTS) {
        continue; // no context left even for its uncompressed one
      }
      known = wanted.insert(wanted.end(), {storage.sopClass, {}});
    }
    for (const std::string &syntax : storage.ownSyntaxes) {
      if (!IsUncompressed(syntax)) {
        AddOnce(known->compressed, syntax);
      }
    }
  }

  // Every class has its uncompressed context; what is left goes to separate
  // compressed contexts, earliest classes first.
  std::size_t spare = MAX_PRESENTATION_CONTEXTS - wanted.size();
  const std::vector<std::string> uncompressed = {std::string(EXPLICIT_VR_LITTLE_ENDIAN),
                                                 std::string(IMPLICIT_VR_LITTLE_ENDIAN)};
  std::vector<ProposedContext> contexts;
  for (const ClassSyntaxes &c : wanted) {
    if (c.compressed.size() <= spare) {
      spare -= c.compressed.size();
      for (const std::string &syntax : c.compressed) {
        contexts.push_back({c.sopClass, {syntax}});
      }
      contexts.push_back({c.sopClass, uncompressed});
    } else {
      std::vector<std::string> joined = c.compressed;
      joined.insert(joined.end(), uncompressed.begin(), uncompressed.end());
      contexts.push_back({c.sopClass, std::move(joined)});
      spare = 0; // later classes must not overtake this one
    }
  }
  return contexts;
}

std::vector<ProposedContext> ProposeStorageContexts(const std::vector<std::string> &classes,
                                                    const std::vector<std::string> &ownSyntaxes) {
  std::vector<StorageClass> storage;
  storage.reserve(classes.size());
  for (const std::string &sopClass : classes) {
    storage.push_back({sopClass, ownSyntaxes});
  }
  return ProposeStorageContexts(storage);
}

bool OpenAssociation(PDU_Service &service, std::string_view host, std::string_view port,
                     std::string_view callingApTitle, std::string_view calledApTitle,
                     const std::vector<ProposedContext> &contexts, int timeoutSeconds) {
  if (contexts.empty() || contexts.size() > MAX_PRESENTATION_CONTEXTS) {
    WriteLog("ERROR, OpenAssociation, " + std::to_string(contexts.size()) + " presentation contexts");
    return false;
  }
  service.assocRQ.SetCallingApTitle(callingApTitle);
  service.assocRQ.SetCalledApTitle(calledApTitle);
  service.assocRQ.SetApplicationContext(APPLICATION_CONTEXT_NAME);
  service.Link.dsocket().SetTimeout(timeoutSeconds);
  if (TraceLevel() >= 2) {
    WriteLog("INFO, OpenAssociation, Calling Ap. Title: " + service.assocRQ.CallingApTitle);
    WriteLog("INFO, OpenAssociation, Called Ap. Title: " + service.assocRQ.CalledApTitle);
  }

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
    service.assocRQ.AddPresentationContext(std::move(context));
  }
  return service.Connect(host, port);
}

std::string ProposedAbstractSyntax(const PDU_Service &service, std::uint8_t contextID) {
  for (const auto &context : service.assocRQ.PresContexts) {
    if (context->PresentationContextID == contextID) {
      return context->AbsSyntax.UID;
    }
  }
  return {};
}

std::uint8_t AcceptedContextFor(const PDU_Service &service, std::string_view abstractSyntax,
                                std::string_view objectSyntax) {
  std::uint8_t uncompressed = 0;
  std::uint8_t other = 0;
  for (const PresentationContextAccept *accept : service.AcceptedContexts) {
    const std::string &syntax = accept->TrnSyntax.UID;
    if (!IsSelectable(syntax) || ProposedAbstractSyntax(service, accept->PresentationContextID) != abstractSyntax) {
      continue;
    }
    if (!objectSyntax.empty() && syntax == objectSyntax) {
      return accept->PresentationContextID;
    }
    if (IsUncompressed(syntax)) {
      if (uncompressed == 0) {
        uncompressed = accept->PresentationContextID;
      }
    } else if (other == 0) {
      other = accept->PresentationContextID;
    }
  }
  return uncompressed != 0 ? uncompressed : other;
}

} // namespace fw
