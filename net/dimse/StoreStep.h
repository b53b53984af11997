// StoreStep: storing one file on an open association, the step every sender
// repeats per file, with a typed outcome that says why a file was not stored.
//
//   StoreFile(service, path, sopClass, options)
//     [link over?] -> read the file -> choose the context -> convert or
//     relabel as needed -> C-STORE-RQ and data set -> free the data set ->
//     read the C-STORE-RSP
//
// The object goes on the accepted context AcceptedContextFor chooses for
// sopClass (the caller's record of the file's class; the data set is not
// asked again) and its own transfer syntax; sopClass is also the Affected
// SOP Class UID. How the data set reaches the context's syntax is
// WriteStoreRQ's rule (StoreRequest.h): as it is, converted (image storage
// classes), relabelled (other classes, little endian both), or not at all.
//
//   what happens                                     outcome            status
//   the association is over (checkLinkBeforeReading) AssociationOver    -1
//   the file cannot be read (DcmObj::Read's line)    Unreadable         -1
//   the association is over (the file read first)    AssociationOver    -1
//   no accepted context for sopClass                 NoContext          -1
//   only a lossy syntax the object is not in, and    LossyConversion    -1
//   refuseLossyConversion
//   conversion or relabelling impossible or failed   ConversionFailed   -1
//   ("ERROR, WriteStoreRQ, cannot send X as Y" when
//   no relabelling is possible)
//   writing the request or the data set failed       NotSent            -1
//   no response could be read                        NoResponse         -1
//   the message read is no C-STORE-RSP to the        InvalidResponse    -1
//   request, or has no Status (CStore::ReadRSP)
//   Status 0x0000                                    Stored             0
//   Status 0x0001 or 0xBxxx                          StoredWithWarning  status
//   any other Status                                 Refused            status
//   AssociationOver, NotSent, NoResponse or          Cancelled          -1
//   InvalidResponse after the cancel check said yes
//   (PDU_Service::Cancelled)
//
// Nothing reaches the peer for the outcomes above NotSent. Only Stored is a
// stored file for the station and fwstore: an object the peer kept with a
// warning may have been changed. The step adds no log line of its own except
// the one named above; the functions it calls log as they do
// (CStore::ReadRSP a non-zero status, PDU_Service a cancel). The data set is
// held from the read until the request is written, and freed before the
// response is waited for.
#pragma once

#include "dicom/DcmObj.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

class PDU_Service;

struct StoreOptions {
  // Checks the association before the file is read, so a file is not read
  // for an association that is over. Off: the file is read first and an
  // unreadable file is Unreadable whatever the association's state.
  bool checkLinkBeforeReading = true;
  // Leaves an object unsent (LossyConversion) rather than converting it into
  // a lossy transfer syntax it is not already in.
  bool refuseLossyConversion = false;
};

struct StoreResult {
  enum class Outcome {
    Stored,            // the peer answered Status 0
    StoredWithWarning, // the peer kept the object with a warning (see status)
    Refused,           // the peer answered another Status (see status)
    NoContext,         // not sendable: no accepted context for the SOP class
    LossyConversion,   // not sendable: only by a lossy conversion, refused
    ConversionFailed,  // not sendable: the object cannot be brought into the accepted syntax
    Unreadable,        // the file cannot be read
    AssociationOver,   // the association had ended before the request
    NotSent,           // the request or the data set could not be written
    NoResponse,        // no response could be read
    InvalidResponse,   // the message read was no valid answer to the request
    Cancelled,         // the cancel check said so while sending or waiting
  };
  Outcome outcome = Outcome::AssociationOver;
  // Status of the response, -1 when none was read.
  int status = -1;
  // The accepted context chosen and its transfer syntax; 0 and empty when
  // none was.
  std::uint8_t contextID = 0;
  std::string acceptedSyntax;

  bool Stored() const { return outcome == Outcome::Stored; }
};

// True for the warning statuses of a C-STORE-RSP: 0x0001 and 0xB000-0xBFFF.
bool IsStoreWarning(int status);

// Reads the file at path and stores it (table above).
StoreResult StoreFile(PDU_Service &service, const std::string &path, std::string_view sopClass,
                      const StoreOptions &options = {});

// The request half for an object already read: context, conversion,
// C-STORE-RQ and data set. True when both were written; otherwise
// result.outcome says why (AssociationOver, NoContext, LossyConversion,
// ConversionFailed or NotSent; a cancel is not told apart here). result gets
// the context chosen and its syntax either way.
bool SendStoreRequest(PDU_Service &service, DcmObj &dataSet, std::string_view sopClass, const StoreOptions &options,
                      StoreResult &result);

} // namespace fw
