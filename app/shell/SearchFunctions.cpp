#include "app/shell/SearchFunctions.h"

#include "app/base/Log.h"
#include "dicom/DcmObj.h"
#include "net/association/PDU_Service.h"
#include "net/link/NetTrace.h"
#include "net/query/CFind.h"
#include "net/query/FindQuery.h"

#include <variant>

namespace fw {
namespace {

bool Open(PDU_Service &service, const SearchPeer &peer, std::string_view abstractSyntax) {
  service.DumpMessages = TraceLevel() >= 2;
  return service.OpenAssociation(peer.host, peer.port, peer.callingAETitle, peer.calledAETitle, abstractSyntax,
                                 peer.timeoutSeconds);
}

// Gives up the association without waiting for the rest of the matches.
void AbortAtLimit(PDU_Service &service, const SearchPeer &peer, const char *operation) {
  WriteLog(std::string("WARNING, ") + operation + ", more than " + std::to_string(peer.matchLimit) + " matches from " +
           peer.calledAETitle + ", search stopped");
  service.abortRQ.Write(service.Link);
  service.Link.dsocket().Close();
}

// Reads responses with `read` (which returns the status and fills the
// record) until the search ends; hands each one on.
template <typename Record, typename ReadOne, typename Hand>
SearchOutcome ReadResponses(PDU_Service &service, const SearchPeer &peer, const char *operation, ReadOne read,
                            Hand hand) {
  SearchOutcome outcome;
  int matches = 0;
  while (true) {
    Record record;
    const int status = read(record);
    outcome.finalStatus = status;
    if (status == -1) {
      outcome.end = SearchEnd::ReadFailed;
      return outcome;
    }
    if (status == FIND_SUCCESS) {
      outcome.end = SearchEnd::Finished;
      return outcome;
    }
    if (IsPendingStatus(status) && matches >= peer.matchLimit) {
      AbortAtLimit(service, peer, operation);
      outcome.end = SearchEnd::LimitReached;
      return outcome;
    }
    hand(record, status);
    ++outcome.responses;
    if (!IsPendingStatus(status)) {
      outcome.end = SearchEnd::Finished;
      return outcome;
    }
    ++matches;
  }
}

} // namespace

SearchOutcome SearchStudies(const SearchPeer &peer, const StudyInfo &query, const StudyResponse &onResponse) {
  PDU_Service service;
  SearchOutcome outcome;
  if (Open(service, peer, STUDY_ROOT_FIND_UID)) {
    FindList list{query};
    if (FindQuery(service, list, STUDY_ROOT_FIND_UID, "STUDY")) {
      list.clear();
      outcome = ReadResponses<StudyInfo>(
          service, peer, "SearchStudies",
          [&](StudyInfo &record) {
            list.clear();
            const int status = FindNext(service, list, "STUDY");
            if (!list.empty()) {
              record = std::get<StudyInfo>(list.back());
            }
            return status;
          },
          onResponse);
    } else {
      outcome.end = SearchEnd::NotSent;
    }
  }
  service.ReleaseAssociation();
  return outcome;
}

SearchOutcome SearchWorklist(const SearchPeer &peer, const TWorklistItem &query, const WorklistResponse &onResponse) {
  PDU_Service service;
  SearchOutcome outcome;
  if (Open(service, peer, MODALITY_WORKLIST_FIND_UID)) {
    DcmObj identifier;
    BuildWorklistKeys(query, identifier);
    if (CFind::WriteRQ(service, identifier, MODALITY_WORKLIST_FIND_UID)) {
      DcmObj response;
      outcome = ReadResponses<TWorklistItem>(
          service, peer, "SearchWorklist",
          [&](TWorklistItem &record) {
            response.Clear();
            const int status = CFind::ReadRSP(service, response);
            if (status != -1 && status != FIND_SUCCESS) {
              ReadWorklistItem(record, response);
            }
            return status;
          },
          onResponse);
    } else {
      outcome.end = SearchEnd::NotSent;
    }
  }
  service.ReleaseAssociation();
  return outcome;
}

} // namespace fw
