// Buffer: byte orders, the outgoing chunks as they reach the socket, the
// incoming blocks, and moving bytes between buffers.
#include "net/link/Buffer.h"
#include "net/link/MemorySocket.h"
#include "tests/net/NetTestHelpers.h"
#include "tests/support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fw {
namespace {

using test::BlockRecorder;
using test::Hex;
using test::ScriptedPeer;

std::string Pattern(std::size_t n) {
  std::string bytes(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<char>(i * 7 + i / 251);
  }
  return bytes;
}

// A buffer reading the given bytes from memory; the socket stays reachable.
struct MemoryLink {
  explicit MemoryLink(std::string_view incoming) {
    auto owned = std::make_unique<MemorySocket>(incoming);
    socket = owned.get();
    buffer = std::make_unique<Buffer>(std::move(owned));
  }
  MemorySocket *socket;
  std::unique_ptr<Buffer> buffer;
};

std::string ReadString(Buffer &buffer, std::size_t n) {
  std::string bytes(n, '\0');
  return buffer.ReadBytes(bytes.data(), n) ? bytes : "<read failed>";
}

struct ReadOrderCase {
  const char *name;
  std::string bytes;
  int order;
  int width;
  std::uint32_t expected;
};

class BufferReadOrderTest : public ::testing::TestWithParam<ReadOrderCase> {};

TEST_P(BufferReadOrderTest, AssemblesValueInOrder) {
  const ReadOrderCase &c = GetParam();
  MemoryLink link(c.bytes);
  link.buffer->SetReadOrder(c.order);
  std::uint32_t value = 0;
  if (c.width == 16) {
    std::uint16_t v16 = 0;
    ASSERT_TRUE(link.buffer->ReadUInt16(v16));
    value = v16;
  } else {
    ASSERT_TRUE(link.buffer->ReadUInt32(value));
  }
  EXPECT_EQ(value, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, BufferReadOrderTest,
    ::testing::Values(ReadOrderCase{"BigEndian16", Hex("01 02"), Buffer::BigEndian, 16, 0x0102},
                      ReadOrderCase{"LittleEndian16", Hex("01 02"), Buffer::LittleEndian, 16, 0x0201},
                      ReadOrderCase{"BigEndian32", Hex("00 00 40 00"), Buffer::BigEndian, 32, 16384},
                      ReadOrderCase{"LittleEndian32", Hex("01 02 03 04"), Buffer::LittleEndian, 32, 0x04030201},
                      ReadOrderCase{"BigEndian32HighHalfFirst", Hex("01 02 03 04"), Buffer::BigEndian, 32, 0x01020304}),
    [](const auto &info) { return info.param.name; });

TEST(BufferTest, WritesValuesInOrder) {
  MemoryLink link("");
  link.buffer->WriteUInt16(0x0102);
  link.buffer->WriteUInt32(0x01020304);
  link.buffer->SetWriteOrder(Buffer::BigEndian);
  link.buffer->WriteUInt16(0x0102);
  link.buffer->WriteUInt32(0x01020304);
  link.buffer->WriteByte(0xAB);
  ASSERT_TRUE(link.buffer->Flush());
  EXPECT_EQ(link.socket->Sent(), Hex("02 01 04 03 02 01  01 02 01 02 03 04  AB"));
}

struct FlushCase {
  std::size_t written;
  std::vector<int> blocks;
};

class BufferFlushTest : public ::testing::TestWithParam<FlushCase> {};

TEST_P(BufferFlushTest, SendsOneBlockPerChunkInOrder) {
  const FlushCase &c = GetParam();
  const std::string bytes = Pattern(c.written);
  ScriptedPeer peer;
  peer.Receive(c.written).Start();
  Buffer buffer;
  ASSERT_TRUE(buffer.dsocket().Connect("127.0.0.1", peer.PortText()));
  BlockRecorder recorder;
  // Written in odd pieces, so chunk boundaries fall inside a write.
  for (std::size_t at = 0; at < bytes.size(); at += 999) {
    buffer.WriteBytes(bytes.data() + at, std::min<std::size_t>(999, bytes.size() - at));
  }
  EXPECT_EQ(buffer.Outgoing(), c.written);
  ASSERT_TRUE(buffer.Flush());
  EXPECT_EQ(buffer.Outgoing(), 0u);
  EXPECT_EQ(recorder.Counts(true), c.blocks);
  ASSERT_TRUE(peer.Wait());
  EXPECT_EQ(peer.Received(), bytes);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BufferFlushTest,
                         ::testing::Values(FlushCase{40000, {32600, 7400}}, FlushCase{70000, {32600, 32600, 4800}},
                                           FlushCase{32600, {32600}}, FlushCase{0, {}}),
                         [](const auto &info) { return "Bytes" + std::to_string(info.param.written); });

TEST(BufferTest, ReceivesInBlocksOfAtMost1024) {
  const std::string bytes = Pattern(3000);
  ScriptedPeer peer;
  peer.Send(bytes).Start();
  Buffer buffer;
  ASSERT_TRUE(buffer.dsocket().Connect("127.0.0.1", peer.PortText()));
  BlockRecorder recorder;
  EXPECT_EQ(ReadString(buffer, 3000), bytes);
  const std::vector<int> receives = recorder.Counts(false);
  EXPECT_GE(receives.size(), 3u);
  for (int count : receives) {
    EXPECT_LE(count, 1024);
  }
}

TEST(BufferTest, BytesBeyondWhatWasReadStayForNextRead) {
  MemoryLink link("abcdefghij");
  EXPECT_EQ(ReadString(*link.buffer, 4), "abcd");
  EXPECT_EQ(link.buffer->Incoming(), 6u);
  EXPECT_EQ(ReadString(*link.buffer, 6), "efghij");
  EXPECT_EQ(link.buffer->Incoming(), 0u);
}

TEST(BufferTest, FailedReadConsumesNothing) {
  MemoryLink link("abc");
  char four[4];
  EXPECT_FALSE(link.buffer->ReadBytes(four, 4));
  EXPECT_EQ(link.buffer->Incoming(), 3u);
  EXPECT_EQ(ReadString(*link.buffer, 3), "abc");
}

TEST(BufferTest, FailedFlushKeepsQueueAndCount) {
  Buffer unconnected;
  unconnected.WriteBytes("0123456789", 10);
  EXPECT_FALSE(unconnected.Flush());
  EXPECT_EQ(unconnected.Outgoing(), 10u);
  MemoryLink target("");
  EXPECT_TRUE(unconnected.PassOutgoing(*target.buffer, 10));
  ASSERT_TRUE(target.buffer->Flush());
  EXPECT_EQ(target.socket->Sent(), "0123456789");
}

TEST(BufferTest, SkipDropsBytesAcrossBlocks) {
  const std::string bytes = Pattern(5000);
  MemoryLink link(bytes);
  ASSERT_TRUE(link.buffer->Skip(4990));
  EXPECT_EQ(ReadString(*link.buffer, 10), bytes.substr(4990));
  EXPECT_FALSE(link.buffer->Skip(1)) << "nothing left to skip";
}

TEST(BufferTest, SkipOfHugeCountHoldsOneBlockAtATime) {
  MemoryLink link(Pattern(100000));
  EXPECT_FALSE(link.buffer->Skip(std::size_t{1} << 40));
  EXPECT_LE(link.buffer->Incoming(), 1024u);
}

TEST(BufferTest, PassOutgoingMovesHeadBytesInOrder) {
  const std::string bytes = Pattern(40000);
  MemoryLink staging("");
  staging.buffer->WriteBytes(bytes.data(), bytes.size());
  MemoryLink link("");
  for (std::size_t n : {16378u, 16378u}) {
    ASSERT_TRUE(staging.buffer->PassOutgoing(*link.buffer, n));
  }
  EXPECT_EQ(staging.buffer->Outgoing(), 40000u - 2 * 16378u);
  EXPECT_FALSE(staging.buffer->PassOutgoing(*link.buffer, 7245)) << "more than is queued";
  EXPECT_EQ(staging.buffer->Outgoing(), 7244u);
  ASSERT_TRUE(staging.buffer->PassOutgoing(*link.buffer, 7244));
  EXPECT_EQ(staging.buffer->Outgoing(), 0u);
  ASSERT_TRUE(link.buffer->Flush());
  EXPECT_EQ(link.socket->Sent(), bytes);
}

TEST(BufferTest, TakeIncomingCollectsFromAnotherBuffer) {
  const std::string bytes = Pattern(3000);
  MemoryLink link(bytes);
  ASSERT_EQ(ReadString(*link.buffer, 100), bytes.substr(0, 100));
  Buffer staging;
  ASSERT_TRUE(staging.TakeIncoming(*link.buffer, 2500));
  EXPECT_EQ(staging.Incoming(), 2500u);
  EXPECT_EQ(ReadString(staging, 2500), bytes.substr(100, 2500));
  EXPECT_EQ(ReadString(*link.buffer, 400), bytes.substr(2600));
  EXPECT_FALSE(staging.TakeIncoming(*link.buffer, 1)) << "the source has nothing left";
  EXPECT_EQ(staging.Incoming(), 0u);
}

} // namespace
} // namespace fw
