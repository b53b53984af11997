// PS3.5 6.1 Specific Character Set of query identifiers
// CharacterSet: the (0008,0005) rules the query code applies. The records'
// texts are UTF-8, whatever script the names are in; SpecificCharacterSet.h
// does the conversions.
//
//   direction  situation                              what happens
//   query      every key value is ASCII               no (0008,0005): a plain
//                                                     query stays as peers expect it
//   query      every key value is within Latin-1      values in Latin-1, (0008,0005)
//                                                     "ISO_IR 100" first
//   query      a character outside Latin-1            values in UTF-8, (0008,0005)
//                                                     "ISO_IR 192" first
//   response   (0008,0005) names one or more terms    text values decoded by them
//                                                     into UTF-8; bytes they cannot
//                                                     decode become U+FFFD, logged
//   response   no (0008,0005), or an empty one        read as Latin-1: servers that
//                                                     declare nothing mostly send it
//
// A nested item may declare its own (0008,0005); it holds for that item.
#pragma once

#include "dicom/DcmObj.h"
#include "dicom/SpecificCharacterSet.h"

#include <string>
#include <string_view>

namespace fw {

// The repertoire of the text values of a data set or item.
using TextCharset = SpecificCharacterSet;

// The repertoire that (0008,0005) among the top-level elements of c declares;
// `inherited` when c has none (or an empty one). An unknown term is logged
// ("WARNING, C-FIND response, unknown Specific Character Set ...").
TextCharset DeclaredCharset(const DcmObj &c, const TextCharset &inherited = TextCharset::Latin1());

// A text value as the station keeps it: the element's value in UTF-8, cut at
// the first zero byte, blanks and control characters removed at both ends.
// Bytes the charset cannot decode are shown as U+FFFD and logged
// ("WARNING, C-FIND response, (0010,0010): 2 bytes not in ISO_IR 192, shown as U+FFFD").
std::string StationText(const DcmTag &t, const TextCharset &charset);

// Puts the identifier's values into the repertoire the table above gives
// for queries, (0008,0005) included.
void DeclareCharacterSet(DcmObj &identifier);

} // namespace fw
