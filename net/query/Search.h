// PS3.4 C.4.1 Study Root C-FIND and K.4 Modality Worklist C-FIND, SCU side
// Search: the station's two C-FIND searches, the study search on the PACS
// (Study Root, level "STUDY") and the worklist search, each on an
// association of its own.
//
//   SearchStudies(peer, query, onMatch)
//     open (Study Root FIND) -> C-FIND-RQ -> read responses -> release
//
//   response                           onMatch    the search
//   0xFF00 / 0xFF01 with identifier    called     goes on
//   0xFF00 / 0xFF01 without one        -          goes on (nothing to show)
//   0x0000                             -          ends: Completed
//   any other status, identifier       called     ends: PeerFailure
//   any other status, none             -          ends: PeerFailure
//   nothing readable                   -          ends: NoResponse
//   a pending response past matchLimit -          A-ABORT, WARNING line,
//   (with or without identifier)                  ends: LimitReached
//   an identifier that takes the       -          A-ABORT, WARNING line,
//   search past identifierByteLimit               ends: LimitReached
//   an identifier larger than          -          A-ABORT, ERROR line
//   identifierSizeLimit                           (CFind), ends: NoResponse
//   the cancel check says yes          -          A-ABORT, WARNING line
//   (asked during every wait)                     (PDU_Service), ends: Cancelled
//
// onMatch runs on the caller's thread right after each response is read, so
// a window can add its row and process pending events before the next one.
// Whatever onMatch was given stays the caller's, also when the search ends
// early. Failures are logged where they are detected; the search adds no
// line of its own except the WARNING lines of its two limits:
//   WARNING, SearchWorklist, more than 1000 matches, the search was stopped
//   WARNING, SearchWorklist, more than 67108864 bytes of matches, the search was stopped
//
// The worklist search runs the same way with Modality Worklist FIND and
// TWorklistItem records.
#pragma once

#include "net/association/PeerAddress.h"
#include "net/query/CFind.h"
#include "net/query/StudyInfo.h"
#include "net/query/TWorklistItem.h"

#include <cstddef>
#include <functional>

namespace fw {

inline constexpr std::size_t DEFAULT_MATCH_LIMIT = 1000;
// Identifier bytes one search takes in all: 1000 matches of 45 MB each kept
// a search reading for twenty minutes.
inline constexpr std::size_t DEFAULT_IDENTIFIER_BYTE_LIMIT = std::size_t{64} << 20;

struct SearchOptions {
  // Pending responses (matches) taken before the search is stopped; a
  // further one aborts the association and the search reports LimitReached.
  std::size_t matchLimit = DEFAULT_MATCH_LIMIT;
  // Identifier bytes taken in all; the identifier that goes past it aborts
  // the association and the search reports LimitReached.
  std::size_t identifierByteLimit = DEFAULT_IDENTIFIER_BYTE_LIMIT;
  // The largest single identifier (CFind::ReadRSP).
  std::size_t identifierSizeLimit = MAX_IDENTIFIER_SIZE;
  // List every message in the log; takes effect at trace level 2 or more.
  bool dumpMessages = true;
  // Asked while every wait lasts (at least every Socket::CancelPoll, also
  // while connecting); true aborts the search, which reports Cancelled. A
  // window processes its pending events here, so its Cancel button works.
  std::function<bool()> cancelRequested{};
};

struct SearchResult {
  enum class Outcome {
    Completed,     // the peer ended the query with success
    PeerFailure,   // the peer ended it with another status (see status)
    NoAssociation, // the association could not be opened
    NotSent,       // the request could not be sent
    NoResponse,    // a response could not be read, or was not a valid answer
    LimitReached,  // more than matchLimit matches or identifierByteLimit bytes: stopped, the rest unread
    Cancelled,     // the cancel check said so: aborted, the rest unread
  };
  Outcome outcome = Outcome::NoAssociation;
  // Status of the last response read, -1 when none was.
  int status = -1;
  // Times onMatch was called.
  std::size_t matches = 0;
  // Identifier bytes read, the one past identifierByteLimit included.
  std::size_t identifierBytes = 0;

  bool Completed() const { return outcome == Outcome::Completed; }
  bool LimitReached() const { return outcome == Outcome::LimitReached; }
  bool Cancelled() const { return outcome == Outcome::Cancelled; }
};

// The record of one response and that response's status.
using StudyMatch = std::function<void(const StudyInfo &study, int status)>;
using WorklistMatch = std::function<void(const TWorklistItem &item, int status)>;

// The study search: the keys of query (BuildStudyKeys) on the PACS.
SearchResult SearchStudies(const PeerAddress &peer, const StudyInfo &query, const StudyMatch &onMatch,
                           const SearchOptions &options = {});

// The worklist search: the keys of query (BuildWorklistKeys) on the worklist
// server.
SearchResult SearchWorklist(const PeerAddress &peer, const TWorklistItem &query, const WorklistMatch &onMatch,
                            const SearchOptions &options = {});

} // namespace fw
