// Socket: host and port rules, the time-outs of connect, send and receive,
// closing, and the trace hook.
#include "net/link/Socket.h"
#include "tests/net/NetTestHelpers.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fw {
namespace {

using test::BlockRecorder;
using test::LogCapture;
using test::ScriptedPeer;

std::string AsText(const std::vector<std::uint8_t> &bytes) { return std::string(bytes.begin(), bytes.end()); }

bool Send(Socket &socket, const std::string &bytes) {
  return socket.SendBinary(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

// A loopback port on which nothing listens (a moment ago something did).
std::string ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address));
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
  ::close(fd);
  return std::to_string(ntohs(address.sin_port));
}

class SocketTest : public ::testing::Test {
protected:
  LogCapture log;
  Socket socket;
};

TEST_F(SocketTest, SendsAndReceivesOverLoopback) {
  ScriptedPeer peer;
  peer.Receive(5).Send("hello").Start();
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.PortText()));
  EXPECT_TRUE(socket.Connected());
  EXPECT_TRUE(Send(socket, "12345"));
  std::vector<std::uint8_t> buffer(64);
  const int count = socket.ReadBinary(buffer.data(), buffer.size());
  ASSERT_EQ(count, 5);
  buffer.resize(5);
  EXPECT_EQ(AsText(buffer), "hello");
  ASSERT_TRUE(peer.Wait());
  EXPECT_EQ(peer.Received(), "12345");
  EXPECT_TRUE(log.Messages().empty());
}

struct AddressCase {
  const char *name;
  std::string host;
  std::string portSuffix; // appended to the peer's port, or the whole port text when it starts with '='
};

class SocketAddressTest : public SocketTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(SocketAddressTest, ConnectsToThePeer) {
  ScriptedPeer peer;
  peer.Start();
  const AddressCase &c = GetParam();
  std::string port = c.portSuffix == "+65536" ? std::to_string(peer.Port() + 65536) : c.portSuffix + peer.PortText();
  EXPECT_TRUE(socket.Connect(c.host, port)) << c.host << ":" << port;
  EXPECT_TRUE(socket.Connected());
  ASSERT_TRUE(peer.Wait()) << "the peer saw no connection: connected somewhere else";
  EXPECT_EQ(peer.Connections(), 1u);
  EXPECT_TRUE(log.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(HostAndPortTexts, SocketAddressTest,
                         ::testing::Values(AddressCase{"DottedAddress", "127.0.0.1", ""},
                                           AddressCase{"ShortDottedForm", "127.1", ""},
                                           AddressCase{"NameLookedUp", "localhost", ""},
                                           AddressCase{"PortCutTo16Bits", "127.0.0.1", "+65536"},
                                           AddressCase{"PortWithBlankAndSign", "127.0.0.1", " +"}),
                         [](const auto &info) { return info.param.name; });

TEST_F(SocketTest, PortThatIsNeitherNumberNorServiceFails) {
  for (const std::string port : {"0", "", "no-such-service-here"}) {
    EXPECT_FALSE(socket.Connect("127.0.0.1", port)) << "port text '" << port << "'";
  }
  EXPECT_EQ(log.Messages(), std::vector<std::string>(3, "ERROR, could not resolve host port"));
  EXPECT_FALSE(socket.Connected());
}

TEST_F(SocketTest, PortServiceNameIsLookedUp) {
  const servent *echo = ::getservbyname("echo", nullptr);
  if (echo == nullptr) {
    GTEST_SKIP() << "no service named echo on this machine";
  }
  // Nothing listens on the echo port here: refused, not "could not resolve".
  EXPECT_FALSE(socket.Connect("127.0.0.1", "echo"));
  EXPECT_EQ(log.StartingWith("ERROR, Connecting to Socket: 127.0.0.1:echo, ").size(), 1u);
}

TEST_F(SocketTest, RefusedConnectLogsCallerTextsAndCode) {
  const std::string port = ClosedPort();
  EXPECT_FALSE(socket.Connect("127.0.0.1", port));
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, Connecting to Socket: 127.0.0.1:" + port + ", " +
                                                     std::to_string(ECONNREFUSED)});
}

TEST_F(SocketTest, InvalidDottedAddressFailsAtConnect) {
  // A leading non-zero number makes it a dotted address; an invalid one is
  // all ones, which cannot be connected to.
  EXPECT_FALSE(socket.Connect("999.1.2.3", "104"));
  EXPECT_EQ(log.StartingWith("ERROR, Connecting to Socket: 999.1.2.3:104, ").size(), 1u);
  EXPECT_FALSE(socket.Connected());
}

TEST_F(SocketTest, ConnectThatIsNeverAnsweredGivesUpAfterTimeout) {
  test::UnansweredListener listener;
  socket.SetTimeout(1);
  EXPECT_FALSE(socket.Connect("127.0.0.1", listener.PortText()));
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, Connecting to Socket: 127.0.0.1:" + listener.PortText() +
                                                     ", " + std::to_string(ETIMEDOUT)});
}

TEST_F(SocketTest, SilentPeerTimesOutAndClosesLink) {
  ScriptedPeer peer;
  peer.Start();
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.PortText()));
  socket.SetTimeout(1);
  std::uint8_t buffer[16];
  EXPECT_EQ(socket.ReadBinary(buffer, sizeof(buffer)), -1);
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, Socket::ReadBinary, Timed out"});
}

TEST_F(SocketTest, ZeroTimeoutReadReturnsZeroThenMinusOne) {
  ScriptedPeer peer;
  peer.Start();
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.PortText()));
  socket.SetTimeout(0);
  std::uint8_t buffer[16];
  EXPECT_EQ(socket.ReadBinary(buffer, sizeof(buffer)), 0);
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(socket.ReadBinary(buffer, sizeof(buffer)), -1);
  EXPECT_TRUE(log.Messages().empty());
}

TEST_F(SocketTest, PeerClosingEndsReadWithoutLogLine) {
  ScriptedPeer peer;
  peer.Send("ab").Close().Start();
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.PortText()));
  socket.SetTimeout(5);
  std::uint8_t buffer[16];
  int count = 0;
  do {
    count = socket.ReadBinary(buffer, sizeof(buffer));
  } while (count > 0);
  EXPECT_EQ(count, -1);
  EXPECT_FALSE(socket.Connected());
  EXPECT_TRUE(log.Messages().empty());
}

TEST_F(SocketTest, SendOnClosedLinkFailsSilently) {
  EXPECT_FALSE(Send(socket, "abc"));
  ScriptedPeer peer;
  peer.Start();
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.PortText()));
  socket.Close();
  EXPECT_FALSE(Send(socket, "abc"));
  EXPECT_TRUE(log.Messages().empty());
}

TEST_F(SocketTest, PeerThatNeverReadsMakesSendGiveUp) {
  ScriptedPeer peer;
  peer.SetReceiveBuffer(4096);
  peer.Start();
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.PortText()));
  socket.SetTimeout(1);
  const std::string block(10 * 1024 * 1024, 'x');
  EXPECT_FALSE(Send(socket, block));
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(log.Messages(),
            std::vector<std::string>{"ERROR, Socket::SendBinary, couldn't send: " + std::to_string(ETIMEDOUT)});
}

// What the peer sees of each way the link ends: an orderly close lets it
// read everything and then the end of file; a time-out sends the notice
// first; only Reset resets.
TEST_F(SocketTest, PeerSeesHowTheLinkEnds) {
  struct Case {
    const char *name;
    void (*end)(Socket &);
    std::string received;
    ScriptedPeer::Ending ending;
  } cases[] = {
      {"Close", [](Socket &s) { s.Close(); }, "ab", ScriptedPeer::Ending::EndOfFile},
      {"Reset", [](Socket &s) { s.Reset(); }, "ab", ScriptedPeer::Ending::Reset},
      {"ReadTimesOut",
       [](Socket &s) {
         s.SetTimeout(1);
         std::uint8_t buffer[16];
         EXPECT_EQ(s.ReadBinary(buffer, sizeof(buffer)), -1);
       },
       "abNOTICE", ScriptedPeer::Ending::EndOfFile},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    peer.Receive(2).ReceiveUntilClosed().Start();
    Socket link;
    link.SetTimeoutNotice("NOTICE");
    ASSERT_TRUE(link.Connect("127.0.0.1", peer.PortText()));
    ASSERT_TRUE(Send(link, "ab"));
    // The peer has taken the bytes before the link ends.
    for (int i = 0; i < 500 && peer.Received().size() < 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    c.end(link);
    EXPECT_FALSE(link.Connected());
    ASSERT_TRUE(peer.Wait());
    EXPECT_EQ(peer.Received(), c.received);
    EXPECT_EQ(peer.EndingOf(), c.ending);
  }
}

// A gathered send spans more slices than one system call takes and more
// bytes than the socket buffers hold, so it is cut at arbitrary points inside
// slices; the peer must still get every byte in order.
TEST_F(SocketTest, SlicesArriveWholeAndInOrder) {
  std::string expected;
  std::vector<std::string> pieces;
  for (int i = 0; i < 700; ++i) {
    // Sizes from 0 to 12345 bytes, each piece of its own byte.
    pieces.emplace_back(static_cast<std::size_t>((i * 7919) % 12346) * (i % 5 == 0 ? 0 : 1), static_cast<char>(i));
    expected += pieces.back();
  }
  std::vector<Socket::Slice> slices;
  for (const std::string &piece : pieces) {
    slices.push_back({reinterpret_cast<const std::uint8_t *>(piece.data()), piece.size()});
  }
  ScriptedPeer peer;
  peer.SetReceiveBuffer(4096);
  peer.Pause(std::chrono::milliseconds(50)).Receive(expected.size()).Start();
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.PortText()));
  EXPECT_TRUE(socket.SendSlices(slices.data(), slices.size()));
  ASSERT_TRUE(peer.Wait());
  EXPECT_TRUE(peer.Received() == expected) << "received " << peer.Received().size() << " of " << expected.size();
  EXPECT_TRUE(log.Messages().empty());
}

TEST_F(SocketTest, SlicesToPeerThatNeverReadsGiveUp) {
  ScriptedPeer peer;
  peer.SetReceiveBuffer(4096);
  peer.Start();
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.PortText()));
  socket.SetTimeout(1);
  const std::string block(1024 * 1024, 'x');
  std::vector<Socket::Slice> slices(10, {reinterpret_cast<const std::uint8_t *>(block.data()), block.size()});
  EXPECT_FALSE(socket.SendSlices(slices.data(), slices.size()));
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(log.Messages(),
            std::vector<std::string>{"ERROR, Socket::SendBinary, couldn't send: " + std::to_string(ETIMEDOUT)});
}

TEST_F(SocketTest, SendToPeerThatWentAwayFailsWithoutSignal) {
  ScriptedPeer peer;
  peer.Close().Start();
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.PortText()));
  ASSERT_TRUE(peer.Wait());
  socket.SetTimeout(2);
  // The first send may still be taken; a later one meets the reset. A
  // SIGPIPE would end the test program here.
  const std::string block(64 * 1024, 'x');
  bool failed = false;
  for (int i = 0; i < 50 && !failed; ++i) {
    failed = !Send(socket, block);
  }
  EXPECT_TRUE(failed);
  EXPECT_EQ(log.StartingWith("ERROR, Socket::SendBinary, couldn't send: ").size(), 1u);
}

TEST_F(SocketTest, TraceHookSeesBlocksOnlyAtLevelThree) {
  ScriptedPeer peer;
  peer.Receive(24).Send("0123456789").Start();
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.PortText()));
  ASSERT_TRUE(Send(socket, "level zero: not traced"));
  {
    BlockRecorder recorder;
    ASSERT_TRUE(Send(socket, "ab"));
    std::uint8_t buffer[64];
    ASSERT_EQ(socket.ReadBinary(buffer, sizeof(buffer)), 10);
    ASSERT_EQ(BlockRecorder::Blocks().size(), 2u);
    EXPECT_EQ(BlockRecorder::Blocks()[0].bytes, "ab");
    EXPECT_TRUE(BlockRecorder::Blocks()[0].outgoing);
    EXPECT_EQ(BlockRecorder::Blocks()[1].bytes, "0123456789");
    EXPECT_FALSE(BlockRecorder::Blocks()[1].outgoing);
  }
  SetBlockTraceHook([](const std::uint8_t *, int, bool) { ADD_FAILURE() << "traced at level 0"; });
  EXPECT_TRUE(Send(socket, "x"));
  SetBlockTraceHook(nullptr);
}

// A connection reset: logged once with the system's words for it, and the
// link is closed, so nobody reads on a dead link again.
TEST_F(SocketTest, ResetIsLoggedOnceAndClosesTheLink) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
  ASSERT_TRUE(socket.Connect("127.0.0.1", std::to_string(ntohs(address.sin_port))));
  const int accepted = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  const linger reset{1, 0};
  ::setsockopt(accepted, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
  ::close(accepted); // sends RST
  ::close(listener);

  socket.SetTimeout(2);
  std::uint8_t buffer[16];
  EXPECT_EQ(socket.ReadBinary(buffer, sizeof(buffer)), -1);
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(socket.ReadBinary(buffer, sizeof(buffer)), -1);
  EXPECT_EQ(log.Messages(),
            std::vector<std::string>{"ERROR, Socket::ReadBinary, couldn't receive: Connection reset by peer"});
}

// A resolver that answers after 4 s, or when the test lets it.
struct HungResolver {
  static std::optional<std::uint32_t> LookUp(const std::string &) {
    std::unique_lock lock(mutex);
    released.wait_for(lock, std::chrono::seconds(4), [] { return free; });
    return std::nullopt;
  }
  static void Release() {
    const std::lock_guard lock(mutex);
    free = true;
    released.notify_all();
  }
  static inline std::mutex mutex;
  static inline std::condition_variable released;
  static inline bool free = false;
};

// A host name look-up is bounded by the connect time-out; a dotted address
// needs none and connects while the resolver hangs.
TEST_F(SocketTest, HungResolverIsGivenUpAfterTheTimeOut) {
  Socket::SetHostLookup(&HungResolver::LookUp);
  socket.SetTimeout(1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(socket.Connect("pacs.example", "104"));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, Socket::Connect, look-up of pacs.example timed out"});

  ScriptedPeer peer;
  peer.Start();
  EXPECT_TRUE(socket.Connect("127.0.0.1", peer.PortText()));

  HungResolver::Release();
  Socket::SetHostLookup(nullptr);
  // The resolver would have held the caller for 4 s.
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_GE(waited, std::chrono::milliseconds(900));
}

} // namespace
} // namespace fw
