// PS3.4 C.4.1 Query/Retrieve C-FIND operation
// FindQuery and FindNext: a query-level search (Study Root "STUDY", "SERIES"
// or "IMAGE") on an association the caller opened, one response at a time.
//
//   FindList list{StudyInfo{...}};                 // the query record
//   FindQuery(service, list, STUDY_ROOT_FIND_UID, "STUDY");
//   list.clear();
//   int status = FIND_PENDING;
//   while (IsPendingStatus(status)) status = FindNext(service, list, "STUDY");
//
// Every response other than a final 0x0000 (and other than a read failure)
// appends one record of the level's type, filled from its identifier: a
// pending one per match, and one for a failure status (empty when the
// failure came without identifier).
#pragma once

#include "dicom/DcmObj.h"
#include "net/query/ImageInfo.h"
#include "net/query/SeriesInfo.h"
#include "net/query/StudyInfo.h"

#include <string_view>
#include <variant>
#include <vector>

namespace fw {

class PDU_Service;

using FindRecord = std::variant<StudyInfo, SeriesInfo, ImageInfo>;
using FindList = std::vector<FindRecord>;

// Builds the identifier of the level from the record at the list's first
// position and removes that record, then sends the query with
// CFind::WriteRQ. False when the list is empty, the level is unknown or does
// not match the record (each with its log line), or the request cannot be
// sent.
bool FindQuery(PDU_Service &service, FindList &list, std::string_view sopClassUID, std::string_view level);

// Reads one response with CFind::ReadRSP; for a result other than -1 and 0 a
// record of the level's type, filled from the identifier, is appended to the
// list. Returns the result (-1 without reading for an unknown level).
int FindNext(PDU_Service &service, FindList &list, std::string_view level);

// The identifier of the level from the record; false when they do not match.
bool BuildLevelKeys(const FindRecord &record, std::string_view level, DcmObj &identifier);

// Appends a record of the level's type, read from the identifier; false for
// an unknown level.
bool AppendFindRecord(FindList &list, std::string_view level, const DcmObj &identifier);

} // namespace fw
