#include "app/shell/PatientSelection.h"

#include "base/Log.h"
#include "dicom/SpecificCharacterSet.h"
#include "station/AccessionNumber.h"

#include <cstdio>

namespace fw {

bool HasNoFilters(const PatientFields &fields) {
  return fields.patientID.empty() && fields.patientName.empty() && fields.accessionNumber.empty() &&
         fields.studyDescription.empty();
}

StudyInfo StudyQuery(const PatientFields &fields) {
  StudyInfo query;
  query.patientName = fields.patientName;
  query.patientID = fields.patientID;
  query.accessionNumber = fields.accessionNumber;
  query.studyDescription = fields.studyDescription;
  return query;
}

TWorklistItem WorklistQuery(const PatientFields &fields, const setupcfg &config, const std::string &today) {
  TWorklistItem query;
  query.patientName = fields.patientName;
  query.patientID = fields.patientID;
  query.accessionNumber = fields.accessionNumber;
  query.requestedProcedureDescription = fields.studyDescription;
  query.scheduledStartDate = today;
  query.modality = ModalityAt(config.ModalityIndex);
  return query;
}

std::string SexCode(const std::string &sexText) {
  if (sexText == "Female") {
    return std::string(1, 'F');
  }
  return std::string(1, sexText == "Other" ? 'O' : 'M');
}

std::string DateText(const std::tm &now) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
  return text;
}

std::string TimeText(const std::tm &now) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d%02d%02d", now.tm_hour, now.tm_min, now.tm_sec);
  return text;
}

std::string AcquireMessage(AcquireCheck check) {
  switch (check) {
  case AcquireCheck::NameEmpty:
    return NAME_EMPTY_MESSAGE;
  case AcquireCheck::IdEmpty:
    return ID_EMPTY_MESSAGE;
  case AcquireCheck::Ready:
    break;
  }
  return {};
}

PatientSelection::PatientSelection() = default;

void PatientSelection::BeginSearch() { grid_.Reset(); }

void PatientSelection::EndSearch() {
  if (grid_.RowCount() > 2) {
    grid_.SetRowCount(grid_.RowCount() - 1);
  }
  SortGridRows(grid_, COL_NAME);
  grid_.SetCurrentRow(1);
}

// Each response fills the last (empty) row, then a new empty row follows.
template <typename Record, typename Fill> auto PatientSelection::RowSink(Fill fill, const RowAdded &rowAdded) {
  return [this, fill, &rowAdded](const Record &record, int) {
    fill(grid_, record, grid_.RowCount() - 1);
    grid_.SetRowCount(grid_.RowCount() + 1);
    if (rowAdded) {
      rowAdded();
    }
  };
}

SearchResult PatientSelection::SearchPacs(const PatientFields &fields, const setupcfg &config,
                                          const RowAdded &rowAdded) {
  const StudyInfo query = StudyQuery(fields);
  BeginSearch();
  const PeerAddress peer{config.PacsIP, config.PacsPort, config.LocalAET, config.PacsAET, SEARCH_TIMEOUT_SECONDS};
  const SearchResult outcome = studySearch(peer, query, RowSink<StudyInfo>(FillStudyRow, rowAdded));
  if (outcome.outcome == SearchResult::Outcome::NoAssociation) {
    WriteLog("ERROR, couldn't connect to " + config.PacsAET);
  }
  EndSearch();
  return outcome;
}

SearchResult PatientSelection::SearchWorklistServer(const PatientFields &fields, const setupcfg &config,
                                                    const std::string &today, const RowAdded &rowAdded) {
  const TWorklistItem query = WorklistQuery(fields, config, today);
  BeginSearch();
  const PeerAddress peer{config.WlIP, config.WlPort, config.LocalAET, config.WlAET, SEARCH_TIMEOUT_SECONDS};
  const SearchResult outcome = worklistSearch(peer, query, RowSink<TWorklistItem>(FillWorklistRow, rowAdded));
  if (outcome.outcome == SearchResult::Outcome::NoAssociation) {
    WriteLog("ERROR, couldn't connect to " + config.WlAET);
  }
  EndSearch();
  return outcome;
}

void PatientSelection::Clear(StudyInfo &context) {
  grid_.Reset();
  context = StudyInfo{};
}

AcquireCheck PatientSelection::Acquire(StudyInfo &context, const PatientFields &fields, const setupcfg &config,
                                       const std::tm &now) const {
  const ResultGrid::Row &row = grid_.RowAt(grid_.CurrentRow());
  if (row[COL_NAME].empty()) {
    context.patientID = fields.patientID;
    context.patientName = fields.patientName;
    context.accessionNumber = fields.accessionNumber;
    context.studyDescription = fields.studyDescription;
    const std::chrono::year_month_day &bd = fields.birthDate;
    char date[32];
    std::snprintf(date, sizeof date, "%04d%02u%02u", static_cast<int>(bd.year()), static_cast<unsigned>(bd.month()),
                  static_cast<unsigned>(bd.day()));
    context.patientBirthDate = date;
    context.patientSex = SexCode(fields.sexText);
    context.studyInstanceUID.clear();
  } else {
    context.patientName = row[COL_NAME];
    context.patientID = row[COL_ID];
    context.patientSex = row[COL_SEX];
    context.patientBirthDate = BirthDateFromCell(row[COL_BIRTH_DATE]);
    context.studyDescription = row[COL_DESCRIPTION];
    context.accessionNumber = row[COL_ACCESSION];
    context.studyInstanceUID = row[COL_STUDY_UID];
  }
  context.studyDate = DateText(now);
  context.studyTime = TimeText(now);
  if (const std::string modality = ModalityAt(config.ModalityIndex); !modality.empty()) {
    context.modality = modality;
  }
  // The configuration is Latin-1; the context, like every record, UTF-8.
  context.institutionName = Latin1ToUtf8(config.InstitutionName);

  if (context.patientName.empty()) {
    return AcquireCheck::NameEmpty;
  }
  if (context.patientID.empty()) {
    return AcquireCheck::IdEmpty;
  }
  if (context.accessionNumber.empty()) {
    context.accessionNumber = GenerateAccessionNumber(now);
  }
  return AcquireCheck::Ready;
}

} // namespace fw
