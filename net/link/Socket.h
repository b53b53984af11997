// PS3.8 9.1 TCP transport connection
// Socket: the outgoing IPv4 TCP endpoint under the DICOM upper layer.
//
// Connect turns the configured host and port texts into an address, opens one
// connection and sets TCP_NODELAY. Nothing blocks for longer than Timeout
// seconds: the connect, every wait for room to send and every wait for data.
// A connect or send that runs out of time closes the link and logs its ERROR
// line with ETIMEDOUT. Errors are reported as log lines; results are plain
// booleans and counts.
//
// How the link ends:
//
//   end                              the peer sees
//   Close (a release, any normal     FIN after everything sent: it reads
//   end)                             every byte, then end of file
//   a wait for data runs out         the time-out notice (the association
//   of time                          layer's A-ABORT), then FIN
//   a send runs out of time          a reset: the peer takes nothing, so
//                                    nothing queued can reach it
//
// Host text: a leading non-zero decimal number (read like atol) makes it a
// dotted address, with no look-up; otherwise it is looked up as a name, and
// converted as a dotted address after all when the look-up fails. The
// look-up runs on a thread of its own and is waited for at most Timeout
// seconds, so a resolver that hangs cannot hold the caller ("ERROR,
// Socket::Connect, look-up of HOST timed out"; the late answer is dropped).
// Port text: its leading decimal number cut to 16 bits, or, when that is 0,
// a service name.
//
// A receive that fails (a connection reset) logs "ERROR, Socket::ReadBinary,
// couldn't receive: " with the system's text for it, once, and closes the
// link.
//
// Deadline and cancel: the time-out bounds one wait, which a peer that
// trickles a byte at a time renews for ever. A deadline set by the caller
// bounds every wait as well; a cancel check, when set, is asked at least
// every CancelPoll while a wait lasts. When either ends a wait the read or
// send fails with Interrupted() saying which, without a log line and with
// the link still open, so the caller can send A-ABORT and say what was too
// slow or that the operator cancelled. It stays interrupted (every further
// wait ends at once) until the deadline is set or cleared again.
#pragma once

#include "base/IoSlices.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>

namespace fw {

class Socket {
public:
  using Clock = std::chrono::steady_clock;
  // Receive (and connect and send) time-out after construction, in seconds.
  static constexpr int kDefaultTimeout = 300;
  // Longest stretch of a wait between two questions to the cancel check.
  static constexpr std::chrono::milliseconds CancelPoll{100};

  enum class Interrupt {
    None,
    Deadline,  // the deadline passed
    Cancelled, // the cancel check said so
  };

  // A host name look-up: the name's IPv4 address in network byte order, or
  // nothing when the name is unknown.
  using HostLookup = std::optional<std::uint32_t> (*)(const std::string &name);
  // Replaces the look-up for every socket (null: the system's resolver), so
  // tests can play a resolver that hangs.
  static void SetHostLookup(HostLookup lookup);

  Socket() = default;
  Socket(const Socket &) = delete;
  Socket &operator=(const Socket &) = delete;

  // Sends the whole block. False when not connected (no log line), on a
  // socket error, or when the peer takes nothing for Timeout seconds (the
  // link is then closed).
  virtual bool SendBinary(const std::uint8_t *data, std::size_t length);

  // One piece of a gathered send; the bytes stay the caller's.
  using Slice = ByteSlice;
  // Sends the slices one after another as one stream, handing the kernel
  // many at a time (sendmsg), with the time-out and results of SendBinary.
  // Traced as one block per slice. This default joins them into one block
  // for SendBinary, for sockets without a descriptor.
  virtual bool SendSlices(const Slice *slices, std::size_t count);

  // Receives at most capacity bytes: the count (> 0), -1 for a socket error
  // (link closed, logged), -1 when the peer closed or nothing came within
  // Timeout seconds (link closed; the time-out is logged), or 0 when nothing
  // was there and Timeout is 0 (link closed, no log line).
  virtual int ReadBinary(std::uint8_t *buffer, std::size_t capacity);

  virtual ~Socket();

  // Closes any open link first. Log lines as in the class comment.
  virtual bool Connect(std::string_view host, std::string_view port);

  // An orderly close: what was sent still arrives, then end of file.
  // Always true; no log line.
  bool Close();
  // An abortive close: a reset, and whatever is still queued is dropped.
  void Reset();

  // Bytes sent, without waiting, when a wait for data runs out of time, just
  // before the link is closed: the association layer leaves its A-ABORT here
  // so the peer learns that the association is over, not only the link.
  void SetTimeoutNotice(std::string notice) { timeoutNotice_ = std::move(notice); }

  // Bounds every wait from now on, with the time-out, and clears an
  // interruption.
  void SetDeadline(Clock::time_point deadline);
  // Only the time-out bounds waits again; clears an interruption.
  void ClearDeadline();
  std::optional<Clock::time_point> Deadline() const { return deadline_; }
  // Asked while waits last; true ends the wait (Interrupt::Cancelled). Empty:
  // nothing is asked.
  void SetCancelCheck(std::function<bool()> check) { cancelCheck_ = std::move(check); }
  // Why the last failed wait ended early; None after a plain time-out.
  Interrupt Interrupted() const { return interrupted_; }

  void SetTimeout(int seconds) { timeout_ = seconds; }
  int Timeout() const { return timeout_; }
  bool Connected() const { return connected_; }
  // errno of the last connect attempt, 0 after a success; for inspection.
  int LastResult() const { return lastResult_; }

protected:
  // For sockets that are not backed by a descriptor (see MemorySocket).
  void SetConnected(bool connected) { connected_ = connected; }

private:
  // After a send or sendmsg that sent nothing: waits for room when the
  // socket is full, and tells whether to try again; otherwise logs the error
  // (closing the link after a time-out) and returns false.
  bool ShouldRetrySend(ssize_t result);
  // Sends timeoutNotice_ if the socket has room for it at once.
  void SendTimeoutNotice();
  // Waits until the descriptor is ready for the events, for at most the
  // time-out and until the deadline, asking the cancel check on the way:
  // 1 ready, 0 time-out, -1 failure (errno), -2 interrupted (see
  // Interrupted).
  int Wait(short events);
  // True when the deadline has passed or the cancel check (asked at most
  // every CancelPoll) says so; sets Interrupted.
  bool InterruptDue();
  // The IPv4 address (network order) of a dotted address or a host name; a
  // name that is not found is read as a dotted address after all. Empty
  // when the look-up outlasts the time-out (lastResult_ ETIMEDOUT, logged).
  std::optional<std::uint32_t> ResolveHost(const std::string &hostText);
  // Creates the descriptor: no Nagle delay, non-blocking. False with
  // lastResult_ errno and the error logged when that fails.
  bool OpenHandle();
  // Connects the descriptor within the time-out: 0 when connected, else
  // the errno of the attempt (ETIMEDOUT, ECANCELED when interrupted).
  int ConnectHandle(std::uint32_t address, std::uint16_t networkPort);

  int handle_ = -1;
  bool connected_ = false;
  std::string timeoutNotice_;
  int timeout_ = kDefaultTimeout;
  int lastResult_ = 0;
  std::optional<Clock::time_point> deadline_;
  std::function<bool()> cancelCheck_;
  Clock::time_point lastCancelCheck_{};
  Interrupt interrupted_ = Interrupt::None;
};

} // namespace fw
