#include "app/shell/ResultGrid.h"

#include "app/shell/PatientText.h"

#include <QCollator>
#include <QLocale>

#include <utility>

namespace fw {
namespace {

std::string_view Part(std::string_view text, std::size_t from, std::size_t count) {
  if (from >= text.size()) {
    return {};
  }
  return text.substr(from, count);
}

} // namespace

ResultGrid::ResultGrid() {
  SetRowCount(5);
  for (int c = 0; c < GRID_COLUMNS; ++c) {
    rows_[0][static_cast<std::size_t>(c)] = GRID_TITLES[static_cast<std::size_t>(c)];
  }
}

void ResultGrid::SetRowCount(int count) {
  rows_.resize(static_cast<std::size_t>(std::max(count, 1)));
  if (currentRow_ >= RowCount()) {
    currentRow_ = RowCount() - 1;
  }
  if (currentRow_ < 1 && RowCount() > 1) {
    currentRow_ = 1;
  }
}

void ResultGrid::Reset() {
  SetRowCount(1);
  SetRowCount(2);
  currentRow_ = 1;
}

void ResultGrid::SetCurrentRow(int row) {
  if (row >= 1 && row < RowCount()) {
    currentRow_ = row;
  }
}

std::string BirthDateCell(std::string_view stored) {
  if (stored.empty()) {
    return {};
  }
  std::string cell;
  cell += Part(stored, 6, 2);
  cell += '/';
  cell += Part(stored, 4, 2);
  cell += '/';
  cell += Part(stored, 0, 4);
  return cell;
}

std::string BirthDateFromCell(std::string_view cell) {
  const std::size_t first = cell.find('/');
  const std::size_t second = first == std::string_view::npos ? first : cell.find('/', first + 1);
  if (second != std::string_view::npos && cell.find('/', second + 1) == std::string_view::npos) {
    std::string stored(cell.substr(second + 1));
    stored += cell.substr(first + 1, second - first - 1);
    stored += cell.substr(0, first);
    return stored;
  }
  std::string stored(Part(cell, 6, 4));
  stored += Part(cell, 3, 2);
  stored += Part(cell, 0, 2);
  return stored;
}

void FillStudyRow(ResultGrid &grid, const StudyInfo &record, int row) {
  ResultGrid::Row &cells = grid.RowAt(row);
  cells[COL_NAME] = record.patientName;
  cells[COL_ID] = record.patientID;
  cells[COL_SEX] = record.patientSex;
  cells[COL_BIRTH_DATE] = BirthDateCell(record.patientBirthDate);
  cells[COL_DESCRIPTION] = record.studyDescription;
  cells[COL_ACCESSION] = record.accessionNumber;
  cells[COL_STUDY_UID] = record.studyInstanceUID;
}

void FillWorklistRow(ResultGrid &grid, const TWorklistItem &record, int row) {
  ResultGrid::Row &cells = grid.RowAt(row);
  cells[COL_NAME] = record.patientName;
  cells[COL_ID] = record.patientID;
  cells[COL_SEX] = record.patientSex;
  cells[COL_BIRTH_DATE] = BirthDateCell(record.patientBirthDate);
  cells[COL_DESCRIPTION] = record.requestedProcedureDescription;
  cells[COL_ACCESSION] = record.accessionNumber;
  cells[COL_STUDY_UID] = record.studyInstanceUID;
}

void SortGridRows(ResultGrid &grid, int column, const QCollator &collator) {
  const int last = grid.RowCount() - 1;
  for (int i = 1; i < last; ++i) {
    for (int j = i + 1; j <= last; ++j) {
      if (collator.compare(FromRecordText(grid.Cell(column, i)), FromRecordText(grid.Cell(column, j))) > 0) {
        std::swap(grid.RowAt(i), grid.RowAt(j));
      }
    }
  }
}

void SortGridRows(ResultGrid &grid, int column) {
  QCollator collator{QLocale()};
  collator.setCaseSensitivity(Qt::CaseSensitive);
  SortGridRows(grid, column, collator);
}

} // namespace fw
