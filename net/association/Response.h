// PS3.7 9.3 DIMSE-C responses, E.1 command fields
// Response: the checks every DIMSE response shares, whatever its service.
//
//   (0000,0120) Message ID Being Responded To   must be the request's
//                                               (PDU_Service::RequestMessageID)
//   (0000,0800) Command Data Set Type           other than 0x0101: a data
//                                               set follows the command
//
// A response to another request means the peer and the station no longer
// agree which answer belongs to which request; every later response would be
// taken for the wrong object, so the association is aborted. A data set a
// response announces is always read, also when nobody wants it, so that it
// is not taken for the next response.
#pragma once

#include "dicom/DcmObj.h"

#include <string_view>

namespace fw {

class PDU_Service;

// True when the command announces a data set.
bool AnnouncesDataSet(const DcmObj &command);

// True when the command answers the association's last request; otherwise
// logs "ERROR, <who>, response to message <got> instead of <sent>" and
// aborts the association.
bool AnswersRequest(PDU_Service &service, const DcmObj &command, std::string_view who);

// Reads the next message (the data set a response announced) and drops it.
bool DropDataSet(PDU_Service &service);

} // namespace fw
