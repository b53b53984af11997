// ResultGrid: the contents of the main window's result grid, without a
// display. Row 0 is the header; data rows follow. The window shows it in its
// table and forwards every change here.
//
//   column  title                 width   from a StudyInfo     from a TWorklistItem
//   0       "Name"                200     Patient's Name       Patient's Name
//   1       "ID"                   70     Patient ID           Patient ID
//   2       "Sex"                  50     Patient's Sex        Patient's Sex
//   3       "Birth Date"           70     birth date, shown    birth date, shown
//   4       "Study Description"   150     Study Description    Requested Procedure Description
//   5       "Accession N."         70     Accession Number     Accession Number
//   6       "Study Instance UID"  200     Study Instance UID   Study Instance UID
//
// Birth dates are stored "yyyymmdd" and shown "dd/mm/yyyy".
#pragma once

#include "net/query/StudyInfo.h"
#include "net/query/TWorklistItem.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

class QCollator;

namespace fw {

inline constexpr int GRID_COLUMNS = 7;
inline constexpr std::array<std::string_view, GRID_COLUMNS> GRID_TITLES = {
    "Name", "ID", "Sex", "Birth Date", "Study Description", "Accession N.", "Study Instance UID"};
inline constexpr std::array<int, GRID_COLUMNS> GRID_WIDTHS = {200, 70, 50, 70, 150, 70, 200};

enum GridColumn { COL_NAME, COL_ID, COL_SEX, COL_BIRTH_DATE, COL_DESCRIPTION, COL_ACCESSION, COL_STUDY_UID };

class ResultGrid {
public:
  using Row = std::array<std::string, GRID_COLUMNS>;

  // The header and four empty rows, the first data row current.
  ResultGrid();

  int RowCount() const { return static_cast<int>(rows_.size()); }
  // Grows with empty rows or cuts at the end; never below the header row.
  void SetRowCount(int count);
  // The header and one empty row, that row current.
  void Reset();

  const Row &RowAt(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
  Row &RowAt(int row) { return rows_.at(static_cast<std::size_t>(row)); }
  const std::string &Cell(int column, int row) const { return RowAt(row).at(static_cast<std::size_t>(column)); }
  void SetCell(int column, int row, std::string text) {
    RowAt(row).at(static_cast<std::size_t>(column)) = std::move(text);
  }

  int CurrentRow() const { return currentRow_; }
  // Rows outside the data rows are ignored.
  void SetCurrentRow(int row);

private:
  std::vector<Row> rows_;
  int currentRow_ = 1;
};

// "dd/mm/yyyy" of a stored "yyyymmdd": characters 7-8, 5-6 and 1-4, each
// part empty where the text is shorter; empty for an empty text.
std::string BirthDateCell(std::string_view stored);

// The stored text of a shown birth date: the three "/"-separated parts in
// reverse order, so every shown date goes back to exactly the text it came
// from ("02/01/1980" -> "19800102", "//1980" -> "1980"). A cell that is not
// three parts is taken as characters 7-10, 4-5 and 1-2.
std::string BirthDateFromCell(std::string_view cell);

void FillStudyRow(ResultGrid &grid, const StudyInfo &record, int row);
void FillWorklistRow(ResultGrid &grid, const TWorklistItem &record, int row);

// Orders the data rows by the column with the collator (the user's locale,
// case-sensitive): for each row i from the first data row to the
// second-to-last, every later row j whose cell sorts before row i's is
// exchanged with row i.
void SortGridRows(ResultGrid &grid, int column, const QCollator &collator);
// The same with a case-sensitive collator of the current default locale.
void SortGridRows(ResultGrid &grid, int column);

} // namespace fw
