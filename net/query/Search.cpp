// Search: the study and worklist searches, each on its own association.
#include "net/query/Search.h"

#include "base/Log.h"
#include "net/association/PDU_Service.h"
#include "net/link/NetTrace.h"
#include "net/query/CFind.h"
#include "net/query/QueryKeys.h"

#include <string>

namespace fw {
namespace {

using Outcome = SearchResult::Outcome;

// Opens the association and sends the request. False, with the association
// released and result.outcome saying why, when the search cannot start.
bool StartSearch(PDU_Service &service, const PeerAddress &peer, std::string_view model, DcmObj &identifier,
                 SearchResult &result) {
  if (!service.OpenAssociation(peer, {ProposeContext(model)})) {
    service.ReleaseAssociation();
    if (service.Cancelled()) {
      result.outcome = Outcome::Cancelled;
    }
    return false; // NoAssociation otherwise
  }
  if (!CFind::WriteRQ(service, identifier, model)) {
    result.outcome = service.Cancelled() ? Outcome::Cancelled : Outcome::NotSent;
    service.ReleaseAssociation();
    return false;
  }
  return true;
}

// A response past a limit: the rest stays unread.
void StopAtLimit(PDU_Service &service, SearchResult &result, const std::string &what) {
  service.AbortAssociation();
  WriteLog("WARNING, " + what + ", the search was stopped");
  result.outcome = Outcome::LimitReached;
}

// Runs one search: open, send the identifier, hand each response with an
// identifier to onResponse, stop at the first status that is not pending
// or past the match limit, release. onResponse gets the identifier and the
// status.
template <typename OnResponse>
SearchResult RunSearch(const PeerAddress &peer, std::string_view model, DcmObj &identifier,
                       const SearchOptions &options, std::string_view name, OnResponse onResponse) {
  SearchResult result;
  PDU_Service service;
  service.SetDumpMessages(options.dumpMessages && TraceLevel() >= 2);
  service.SetCancelCheck(options.cancelRequested);
  if (!StartSearch(service, peer, model, identifier, result)) {
    return result;
  }
  std::size_t pendingResponses = 0;
  std::size_t &identifierBytes = result.identifierBytes;
  for (;;) {
    DcmObj response;
    bool identifierRead = false;
    const int status = CFind::ReadRSP(service, response, identifierRead, options.identifierSizeLimit);
    result.status = status;
    if (status == -1) {
      result.outcome = service.Cancelled() ? Outcome::Cancelled : Outcome::NoResponse;
      break;
    }
    if (status == FIND_SUCCESS) {
      result.outcome = Outcome::Completed;
      break;
    }
    const bool pending = IsPendingStatus(status);
    // Pending responses without an identifier count as well: a peer that
    // sends only those, each within the time-out, would otherwise keep the
    // search reading for ever.
    if (pending && pendingResponses++ == options.matchLimit) {
      // One match more than the caller wants.
      StopAtLimit(service, result,
                  std::string(name) + ", more than " + std::to_string(options.matchLimit) + " matches");
      break;
    }
    if (identifierRead && (identifierBytes += service.LastMessageSize()) > options.identifierByteLimit) {
      StopAtLimit(service, result,
                  std::string(name) + ", more than " + std::to_string(options.identifierByteLimit) +
                      " bytes of matches");
      break;
    }
    if (identifierRead) {
      ++result.matches;
      onResponse(response, status);
    }
    if (!pending) {
      result.outcome = Outcome::PeerFailure;
      break;
    }
  }
  service.ReleaseAssociation();
  return result;
}

} // namespace

SearchResult SearchStudies(const PeerAddress &peer, const StudyInfo &query, const StudyMatch &onMatch,
                           const SearchOptions &options) {
  DcmObj identifier;
  BuildStudyKeys(query, identifier);
  return RunSearch(peer, STUDY_ROOT_FIND_UID, identifier, options, "SearchStudies",
                   [&](const DcmObj &response, int status) {
                     StudyInfo study;
                     ReadStudyInfo(study, response);
                     if (onMatch) {
                       onMatch(study, status);
                     }
                   });
}

SearchResult SearchWorklist(const PeerAddress &peer, const TWorklistItem &query, const WorklistMatch &onMatch,
                            const SearchOptions &options) {
  DcmObj identifier;
  BuildWorklistKeys(query, identifier);
  return RunSearch(peer, MODALITY_WORKLIST_FIND_UID, identifier, options, "SearchWorklist",
                   [&](const DcmObj &response, int status) {
                     TWorklistItem item;
                     ReadWorklistItem(item, response);
                     if (onMatch) {
                       onMatch(item, status);
                     }
                   });
}

} // namespace fw
