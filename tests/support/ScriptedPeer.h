// ScriptedPeer: a loopback TCP server for network tests that plays given
// bytes and records what it receives.
//
// It listens on 127.0.0.1 at a port the system picks (free by construction).
// The script is built with the step functions, then Start runs it on its own
// thread against the first connection. After the last step the connection
// stays open, unread, until the peer is destroyed. Every wait in a step also
// ends when the peer is destroyed, so a test that goes wrong fails instead of
// hanging.
//
//   ScriptedPeer peer;
//   peer.Receive(210).Send(acceptBytes).Receive(10).Start();
//   ... connect to "127.0.0.1", peer.PortText() ...
//   ASSERT_TRUE(peer.Wait());
//   EXPECT_EQ(peer.Received(), expected);
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace fw::test {

class ScriptedPeer {
public:
  ScriptedPeer();
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer &) = delete;
  ScriptedPeer &operator=(const ScriptedPeer &) = delete;

  std::uint16_t Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }

  // Receive buffer of the connections (SO_RCVBUF), for a peer that must not
  // soak up much of what is sent. Call before Start.
  void SetReceiveBuffer(int bytes);

  // Steps, run in order.
  // Reads until n more bytes arrived, or the client closed.
  ScriptedPeer &Receive(std::size_t n);
  // Reads until the client closes.
  ScriptedPeer &ReceiveUntilClosed();
  ScriptedPeer &Send(std::string_view bytes);
  // Sends the bytes `chunk` at a time, one chunk per interval (a peer that
  // trickles), until all are sent, the client closes or, when
  // stopWhenClientSends, the client sends something (left unread for the
  // next step).
  ScriptedPeer &Trickle(std::string_view bytes, std::size_t chunk, std::chrono::milliseconds interval,
                        bool stopWhenClientSends = true);
  ScriptedPeer &Pause(std::chrono::milliseconds duration);
  // Closes the connection (an orderly close: the client reads end of file).
  ScriptedPeer &Close();
  // Accepts the next connection; recording starts anew for it. The script
  // begins with one accept of its own.
  ScriptedPeer &Accept();

  void Start();
  // Waits until the last step is done. False when that does not happen
  // within the limit.
  bool Wait(std::chrono::milliseconds limit = std::chrono::seconds(10));

  // Bytes received on the first (or the given) connection.
  std::string Received(std::size_t connection = 0) const;
  // How the client ended a connection, as far as a receive step saw it: an
  // orderly close (end of file after every byte) or a reset.
  enum class Ending { Open, EndOfFile, Reset };
  Ending EndingOf(std::size_t connection = 0) const;
  std::size_t Connections() const;

private:
  using Step = std::function<bool()>;

  Step AcceptStep();
  void Run();
  // Waits for the connection (or the listener) to be readable; false when
  // the peer is being destroyed.
  bool WaitReadable(int fd);
  bool ReadSome(std::size_t limit, std::size_t &got);

  int listener_ = -1;
  int connection_ = -1;
  int stopPipe_[2] = {-1, -1};
  int receiveBuffer_ = 0;
  std::uint16_t port_ = 0;
  std::vector<Step> steps_;
  std::thread thread_;

  mutable std::mutex mutex_;
  std::condition_variable doneChanged_;
  bool done_ = false;
  std::vector<std::string> received_;
  std::vector<Ending> endings_;
};

// A loopback listener that never answers a connect: its accept queue is kept
// full, so the system drops further SYNs and the client's connect hangs
// until its own time-out.
class UnansweredListener {
public:
  UnansweredListener();
  ~UnansweredListener();
  UnansweredListener(const UnansweredListener &) = delete;
  UnansweredListener &operator=(const UnansweredListener &) = delete;

  std::string PortText() const { return std::to_string(port_); }

private:
  int listener_ = -1;
  std::vector<int> fillers_;
  std::uint16_t port_ = 0;
};

} // namespace fw::test
