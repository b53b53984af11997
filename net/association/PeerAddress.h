// PS3.8 7.1.1 A-ASSOCIATE parameters (addresses and AE titles)
// PeerAddress: where and as whom the station opens an association.
#pragma once

#include <string>

namespace fw {

struct PeerAddress {
  std::string host;
  std::string port;
  std::string callingApTitle;
  std::string calledApTitle;
  // Bounds the connect (the host name look-up included) and every wait for
  // the peer, in seconds.
  int timeoutSeconds = 30;
};

} // namespace fw
