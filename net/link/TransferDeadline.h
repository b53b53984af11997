// TransferDeadline: how long a unit of the upper layer (the association's
// accept, one PDU, one message) may take as a whole, from its size.
//
// The configured time-out bounds each wait for bytes, which a peer that
// trickles renews for ever. A unit gets the time-out for its first MiB and
// one more time-out for each further MiB begun: a floor of throughput of one
// MiB per time-out, below which the peer is given up on.
//
//   bytes (bytesPerTimeout = 1 MiB)   deadline
//   0 to 1 MiB                        1 x time-out
//   1 MiB + 1 to 2 MiB                2 x time-out
//   10 MB                             10 x time-out
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace fw {

struct TransferDeadline {
  static constexpr std::uint64_t DefaultBytesPerTimeout = std::uint64_t{1} << 20;

  std::chrono::milliseconds timeout{0};
  std::uint64_t bytesPerTimeout = DefaultBytesPerTimeout;

  std::chrono::milliseconds For(std::uint64_t bytes) const {
    const std::uint64_t per = std::max<std::uint64_t>(bytesPerTimeout, 1);
    const std::uint64_t extra = bytes > per ? (bytes - per + per - 1) / per : 0;
    // At most 2^20 time-outs: no overflow for any time-out a person sets.
    const auto count = static_cast<std::int64_t>(std::min<std::uint64_t>(extra, std::uint64_t{1} << 20) + 1);
    return timeout * count;
  }
};

} // namespace fw
