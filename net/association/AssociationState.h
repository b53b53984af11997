// AssociationState: where an association of the station (always the
// requester) stands, named as the state machine names it. PDU_Service sets it
// on each transition and checks it before each step.
//
//   from   step or event                                   to
//   Sta1   OpenAssociation: link up, A-ASSOCIATE-RQ sent    Sta5
//   Sta1   OpenAssociation: no link                        Sta1
//   Sta5   A-ASSOCIATE-AC that adds up                     Sta6
//   Sta5   A-ASSOCIATE-RJ, another PDU, a refused accept,   Sta1 (link closed)
//          no answer in time
//   Sta5   A-ASSOCIATE-RQ that could not be sent, the link  Sta5 until released
//          still up
//   Sta6   Write, Read                                     Sta6
//   Sta6   ReleaseAssociation: A-RELEASE-RQ sent           Sta7, then Sta1 (link
//                                                          closed, answered or not)
//   Sta6   A-ABORT sent, or A-RELEASE-RP sent for the       Sta13, then Sta1 at
//          peer's A-RELEASE-RQ                              once (link closed)
//   Sta6   A-ABORT or A-RELEASE-RP from the peer           Sta1 (link closed)
//   any    the link closed                                 Sta1
//
// The steps ask: OpenAssociation needs Sta1; Write and Read need Sta6;
// ReleaseAssociation sends A-RELEASE-RQ from Sta6 (or from Sta5 with the link
// up), and otherwise only closes the link.
#pragma once

#include <cstdint>

namespace fw {

enum class AssociationState : std::uint8_t {
  Sta1Idle,
  Sta5AwaitingAccept,
  Sta6Established,
  Sta7AwaitingReleaseRP,
  Sta13AwaitingClose,
};

} // namespace fw
