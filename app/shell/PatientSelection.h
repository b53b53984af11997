// PatientSelection: what the main window does, without the window. It owns
// the result grid's contents, runs the two searches into it, clears it, and
// turns the chosen patient (the current grid row, or the typed fields when
// that row has no name) into the study context of the next acquisition.
//
// The window hands over the typed fields and a callback that lets it repaint
// after each row; everything else is here and is tested without a display.
#pragma once

#include "app/shell/ResultGrid.h"
#include "net/query/Search.h"
#include "station/StationRecords.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace fw {

// Each search runs on an association of its own with this time-out.
inline constexpr int SEARCH_TIMEOUT_SECONDS = 30;

inline constexpr const char *NO_FILTER_WARNING = "Have no filters\r\nSearch can take very long";
inline constexpr const char *NO_FILTER_CAPTION = "WARNING";
inline constexpr const char *MATCH_LIMIT_MESSAGE = "More than 1000 results, please refine the search";
inline constexpr const char *NAME_EMPTY_MESSAGE = "Patient Name can't be empty";
inline constexpr const char *ID_EMPTY_MESSAGE = "Patient ID can't be empty";
// Asked when the main window is closed while a search runs.
inline constexpr const char *CLOSE_DURING_SEARCH_QUESTION = "A search is running. Cancel it and close?";

// The operator's typed entries, as UTF-8 texts.
struct PatientFields {
  std::string patientID;
  std::string patientName;
  std::chrono::year_month_day birthDate{};
  std::string sexText = "Male"; // what the sex list shows
  std::string accessionNumber;
  std::string studyDescription;
};

// True when the four filter fields are all empty (spaces count as content).
bool HasNoFilters(const PatientFields &fields);

// The query records of the two searches.
StudyInfo StudyQuery(const PatientFields &fields);
// Restricted to `today` ("yyyymmdd") and the station's modality (none for an
// index outside the list).
TWorklistItem WorklistQuery(const PatientFields &fields, const setupcfg &config, const std::string &today);

// "F" for "Female", "O" for "Other", "M" for anything else (also a typed text).
std::string SexCode(const std::string &sexText);

// "yyyymmdd" and "hhnnss" of a local time.
std::string DateText(const std::tm &now);
std::string TimeText(const std::tm &now);

enum class AcquireCheck { Ready, NameEmpty, IdEmpty };

class PatientSelection {
public:
  // Called after each row is added, so the window can repaint and process
  // pending events.
  using RowAdded = std::function<void()>;
  // The search functions, replaceable for tests.
  using StudySearchFn = std::function<SearchResult(const PeerAddress &, const StudyInfo &, const StudyMatch &)>;
  using WorklistSearchFn =
      std::function<SearchResult(const PeerAddress &, const TWorklistItem &, const WorklistMatch &)>;

  PatientSelection();
  // The default searches refer to this object.
  PatientSelection(const PatientSelection &) = delete;
  PatientSelection &operator=(const PatientSelection &) = delete;

  ResultGrid &Grid() { return grid_; }
  const ResultGrid &Grid() const { return grid_; }

  // Study search of the PACS named in the configuration. Logs
  // "ERROR, couldn't connect to " + PacsAET when the association cannot be
  // opened. Leaves the grid with the rows found, sorted by name, or the
  // header and one empty row. Returns the search's outcome (LimitReached:
  // the window shows MATCH_LIMIT_MESSAGE).
  SearchResult SearchPacs(const PatientFields &fields, const setupcfg &config, const RowAdded &rowAdded = {});
  // Worklist search for `today` ("yyyymmdd"), likewise.
  SearchResult SearchWorklistServer(const PatientFields &fields, const setupcfg &config, const std::string &today,
                                    const RowAdded &rowAdded = {});

  // Empties the grid to the header and one empty row, and the context.
  void Clear(StudyInfo &context);

  // Fills the context for an acquisition at local time `now` from the
  // current row or, when its name is empty, from the typed fields. An empty
  // accession number is generated (AccessionNumber.h), but only once the
  // name and ID are known to be there.
  AcquireCheck Acquire(StudyInfo &context, const PatientFields &fields, const setupcfg &config,
                       const std::tm &now) const;

  // Asked while a search waits for its peer (at least every
  // Socket::CancelPoll); true cancels the search, which ends at once with
  // the rows found so far (Outcome::Cancelled). The window processes its
  // pending events here, so its Cancel button and its close work.
  std::function<bool()> cancelRequested;

  // The toolkit's searches with the default limits and cancelRequested;
  // trace level 2 or more lists their messages in the log.
  StudySearchFn studySearch = [this](const PeerAddress &peer, const StudyInfo &query, const StudyMatch &onMatch) {
    return SearchStudies(peer, query, onMatch, Options());
  };
  WorklistSearchFn worklistSearch = [this](const PeerAddress &peer, const TWorklistItem &query,
                                           const WorklistMatch &onMatch) {
    return SearchWorklist(peer, query, onMatch, Options());
  };

private:
  SearchOptions Options() const {
    SearchOptions options;
    options.cancelRequested = cancelRequested;
    return options;
  }
  // Grid handling shared by both searches.
  void BeginSearch();
  void EndSearch();
  template <typename Record, typename Fill> auto RowSink(Fill fill, const RowAdded &rowAdded);

  ResultGrid grid_;
};

// The box text of an Acquire that cannot go on; empty for Ready.
std::string AcquireMessage(AcquireCheck check);

} // namespace fw
