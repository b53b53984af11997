// WriteSlices against a writer that takes only part of what it is offered,
// as a socket with a full buffer or a file system short of room does.
#include "base/IoSlices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using fw::ByteSlice;

struct SliceCase {
  const char *name;
  std::vector<std::size_t> sizes; // of the slices, in order
  std::size_t takePerCall;        // most bytes the writer takes per call
};

// Records what reaches the writer, taking at most takePerCall bytes a call.
struct PartialWriter {
  std::size_t takePerCall;
  std::string written;
  std::vector<int> vectorsPerCall;

  ssize_t operator()(const iovec *vectors, int count) {
    vectorsPerCall.push_back(count);
    std::size_t left = takePerCall;
    for (int i = 0; i < count && left > 0; ++i) {
      const std::size_t take = std::min(left, vectors[i].iov_len);
      written.append(static_cast<const char *>(vectors[i].iov_base), take);
      left -= take;
    }
    return static_cast<ssize_t>(takePerCall - left);
  }
};

class WriteSlicesTest : public ::testing::TestWithParam<SliceCase> {};

TEST_P(WriteSlicesTest, EveryByteGoesOutOnceInOrder) {
  const SliceCase &c = GetParam();
  std::vector<std::string> blocks;
  std::string expected;
  for (std::size_t k = 0; k < c.sizes.size(); ++k) {
    blocks.emplace_back(c.sizes[k], static_cast<char>('a' + k % 26));
    expected += blocks.back();
  }
  std::vector<ByteSlice> slices;
  for (const std::string &block : blocks) {
    slices.push_back({reinterpret_cast<const std::uint8_t *>(block.data()), block.size()});
  }
  PartialWriter writer{c.takePerCall, {}, {}};
  // The non-empty slices reported done, as their first bytes.
  std::vector<const std::uint8_t *> done;
  ASSERT_TRUE(fw::WriteSlices(slices.data(), slices.size(), writer, [&](const ByteSlice &slice) {
    if (slice.size > 0) {
      done.push_back(slice.data);
    }
  }));
  EXPECT_EQ(writer.written, expected);
  for (const int vectors : writer.vectorsPerCall) {
    EXPECT_GE(vectors, 1);
    EXPECT_LE(static_cast<std::size_t>(vectors), fw::MAX_SLICES_PER_CALL);
  }
  // Every non-empty slice is reported once, in order.
  std::vector<const std::uint8_t *> nonEmpty;
  for (const ByteSlice &slice : slices) {
    if (slice.size > 0) {
      nonEmpty.push_back(slice.data);
    }
  }
  EXPECT_EQ(done, nonEmpty);
}

INSTANTIATE_TEST_SUITE_P(
    Batches, WriteSlicesTest,
    ::testing::Values(SliceCase{"OneSliceAtOnce", {1000}, 1 << 20}, SliceCase{"OneSliceAByteAtATime", {37}, 1},
                      SliceCase{"PartialWritesCrossSlices", {10, 3, 250, 1, 64}, 7},
                      SliceCase{"EmptySlicesBetweenAndAtTheEnds", {0, 5, 0, 0, 9, 0}, 4},
                      SliceCase{"MoreSlicesThanOneCallTakes", std::vector<std::size_t>(1000, 3), 1 << 20},
                      SliceCase{"ManySlicesWrittenInSmallSteps", std::vector<std::size_t>(600, 5), 1001}),
    [](const ::testing::TestParamInfo<SliceCase> &info) { return std::string(info.param.name); });

TEST(WriteSlices, OnlyEmptySlicesMakeNoCall) {
  const ByteSlice empty[2] = {};
  int calls = 0;
  EXPECT_TRUE(fw::WriteSlices(empty, 2, [&](const iovec *, int) -> ssize_t { return ++calls, -1; }));
  EXPECT_EQ(calls, 0);
}

TEST(WriteSlices, AWriterThatGivesUpEndsTheWrite) {
  const std::string bytes(100, 'x');
  const ByteSlice slices[2] = {{reinterpret_cast<const std::uint8_t *>(bytes.data()), 60},
                               {reinterpret_cast<const std::uint8_t *>(bytes.data()) + 60, 40}};
  for (const ssize_t refusal : {ssize_t{0}, ssize_t{-1}}) {
    int calls = 0;
    int done = 0;
    // Takes 70 bytes, then refuses: the first slice is done, the second not.
    EXPECT_FALSE(fw::WriteSlices(
        slices, 2, [&](const iovec *, int) -> ssize_t { return ++calls == 1 ? 70 : refusal; },
        [&](const ByteSlice &) { ++done; }));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(done, 1);
  }
}

} // namespace
