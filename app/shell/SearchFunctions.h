// The two searches of the main window, each on its own association: a study
// search of the PACS (Study Root FIND, level "STUDY") and a worklist search
// (Modality Worklist FIND). Every response but the final success is handed
// to the caller once, as it arrives, with its status: the pending matches
// and a final failure (whose record comes from its identifier, empty when it
// had none). The search ends at the first status that is not pending, when a
// response cannot be read, or at the match limit: when a response beyond the
// limit arrives, the association is aborted and a WARNING is logged.
//
// These are the only calls the window makes into the network for searching,
// so they can be swapped for the toolkit's own search functions in one place.
#pragma once

#include "net/query/StudyInfo.h"
#include "net/query/TWorklistItem.h"

#include <functional>
#include <string>

namespace fw {

inline constexpr int SEARCH_MATCH_LIMIT = 1000;
inline constexpr int SEARCH_TIMEOUT_SECONDS = 30;

struct SearchPeer {
  std::string host;
  std::string port;
  std::string callingAETitle;
  std::string calledAETitle;
  int timeoutSeconds = SEARCH_TIMEOUT_SECONDS;
  int matchLimit = SEARCH_MATCH_LIMIT;
};

enum class SearchEnd {
  NotConnected, // the association could not be opened
  NotSent,      // the request could not be sent
  Finished,     // a final status arrived (success or failure)
  ReadFailed,   // a response could not be read
  LimitReached, // more matches than the limit; the association was aborted
};

struct SearchOutcome {
  SearchEnd end = SearchEnd::NotConnected;
  int finalStatus = -1; // the last status read, -1 when none
  int responses = 0;    // responses handed to the caller
};

using StudyResponse = std::function<void(const StudyInfo &record, int status)>;
using WorklistResponse = std::function<void(const TWorklistItem &record, int status)>;

SearchOutcome SearchStudies(const SearchPeer &peer, const StudyInfo &query, const StudyResponse &onResponse);
SearchOutcome SearchWorklist(const SearchPeer &peer, const TWorklistItem &query, const WorklistResponse &onResponse);

} // namespace fw
