// The application log: line format, target handling, thread safety and the
// listener datagrams.
#include "base/Log.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fw {
namespace {

using test::ReadFileBytes;
using test::TempDir;

class LogTest : public ::testing::Test {
protected:
  void SetUp() override { FreeLogTarget(); }
  void TearDown() override { FreeLogTarget(); }

  std::string LogFile() const { return dir.folder() + "20240309_qbk.log"; }
  std::string Contents() const { return ReadFileBytes(LogFile()); }

  TempDir dir;
};

// A listener bound in the abstract namespace under a name unique to this test
// process, so a real listener on the machine is never disturbed.
class Listener {
public:
  Listener() : name_("quillbrook-test-" + std::to_string(::getpid())) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const auto [address, length] = Address();
    if (::bind(fd_, reinterpret_cast<const sockaddr *>(&address), length) != 0) {
      ADD_FAILURE() << "bind: " << std::strerror(errno);
    }
  }
  ~Listener() { ::close(fd_); }

  const std::string &name() const { return name_; }

  std::string Receive() {
    timeval timeout{2, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    std::string buffer(70000, '\0');
    const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
    buffer.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return buffer;
  }

  // Fills the listener's queue from another socket until a send would block.
  void FillQueue() {
    filler_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const auto [address, length] = Address();
    ASSERT_EQ(::connect(filler_, reinterpret_cast<const sockaddr *>(&address), length), 0);
    const std::string chunk(1024, 'x');
    for (int i = 0; i < 1000000; ++i) {
      if (::send(filler_, chunk.data(), chunk.size(), MSG_DONTWAIT) < 0) {
        ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << std::strerror(errno);
        return;
      }
    }
    FAIL() << "the listener queue never filled";
  }

private:
  std::pair<sockaddr_un, socklen_t> Address() const {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name_.data(), name_.size());
    return {address, static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name_.size())};
  }

  std::string name_;
  int fd_ = -1;
  int filler_ = -1;
};

// "hh:mm:ss" with a valid hour, minute and second.
bool IsTimeOfDay(const std::string &text) {
  int hour = 0, minute = 0, second = 0;
  char end = 0;
  return text.size() == 8 && text[2] == ':' && text[5] == ':' &&
         std::sscanf(text.c_str(), "%2d:%2d:%2d%c", &hour, &minute, &second, &end) == 3 && hour < 24 && minute < 60 &&
         second < 60;
}

std::string Datagram(const std::string &message) {
  return std::string("\x32\0\0\0", 4) + message + std::string(1, '\0');
}

struct LineCase {
  const char *name;
  std::string message;
};

class LogLineTest : public LogTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LogLineTest, WritesTimeSeparatorMessageAndCrLf) {
  SetLogTarget(LogFile(), "", "");
  WriteLog(GetParam().message);
  const std::string contents = Contents();
  ASSERT_EQ(contents.size(), 8 + 2 + GetParam().message.size() + 2);
  EXPECT_TRUE(IsTimeOfDay(contents.substr(0, 8))) << contents;
  EXPECT_EQ(contents.substr(8), ", " + GetParam().message + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Messages, LogLineTest,
                         ::testing::Values(LineCase{"Plain", "INFO, Study Instance UID = 1.2.3"}, LineCase{"Empty", ""},
                                           LineCase{"LineFeedKeptUnchanged", "ERROR, first\nsecond"},
                                           LineCase{"EightBitBytesKept", "INFO, M\xFCller"}),
                         [](const auto &info) { return info.param.name; });

TEST_F(LogTest, AppendsOneLinePerCall) {
  SetLogTarget(LogFile(), "", "");
  WriteLog("INFO, one");
  WriteLog("INFO, two");
  const std::string contents = Contents();
  EXPECT_NE(contents.find(", INFO, one\r\n"), std::string::npos);
  EXPECT_EQ(contents.find(", INFO, two\r\n"), contents.size() - std::strlen(", INFO, two\r\n"));
}

TEST_F(LogTest, WritesNothingWithoutTarget) {
  WriteLog("INFO, before any target");
  EXPECT_FALSE(std::filesystem::exists(LogFile()));
}

TEST_F(LogTest, WritesNothingAfterFree) {
  SetLogTarget(LogFile(), "", "");
  FreeLogTarget();
  WriteLog("INFO, after free");
  EXPECT_FALSE(std::filesystem::exists(LogFile()));
  EXPECT_FALSE(LogTargetPath().has_value());
}

TEST_F(LogTest, EmptyArgumentKeepsStoredValue) {
  SetLogTarget(LogFile(), "", "");
  SetLogTarget("", "quillbrook", "");
  EXPECT_EQ(LogTargetPath(), LogFile());
}

// The log folder vanishes while the station runs (someone cleans up): lines
// are dropped without a fault and the folder is not made again behind the
// operator's back; once it is back, lines arrive again.
TEST_F(LogTest, RemovedFolderSilentlyWritesNothing) {
  const std::string folder = dir.folder() + "logs/";
  const std::string file = folder + "20240309_qbk.log";
  std::filesystem::create_directories(folder);
  SetLogTarget(file, "", "");
  WriteLog("INFO, written");
  ASSERT_NE(ReadFileBytes(file).find("INFO, written\r\n"), std::string::npos);
  std::filesystem::remove_all(folder);
  EXPECT_NO_THROW(WriteLog("INFO, lost"));
  EXPECT_FALSE(std::filesystem::exists(folder));
  std::filesystem::create_directories(folder);
  WriteLog("INFO, back");
  const std::string after = ReadFileBytes(file);
  EXPECT_EQ(after.find("INFO, lost"), std::string::npos);
  EXPECT_NE(after.find("INFO, back\r\n"), std::string::npos);
}

TEST_F(LogTest, TwoThreadsLoseAndInterleaveNothing) {
  SetLogTarget(LogFile(), "", "");
  constexpr int kLines = 1000;
  auto writer = [](char tag) {
    for (int i = 0; i < kLines; ++i) {
      WriteLog(std::string("INFO, thread ") + tag + " line " + std::to_string(i) + " " + std::string(40, tag));
    }
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  a.join();
  b.join();

  // Every line whole and well-formed, and each thread's lines in its own order.
  std::istringstream lines(Contents());
  std::vector<int> next = {0, 0};
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ASSERT_TRUE(IsTimeOfDay(line.substr(0, 8))) << line;
    char tag = 0;
    int index = -1;
    char fill[64] = {};
    ASSERT_EQ(std::sscanf(line.c_str() + 8, ", INFO, thread %c line %d %63s", &tag, &index, fill), 3) << line;
    ASSERT_TRUE(tag == 'a' || tag == 'b') << line;
    EXPECT_EQ(std::string(fill), std::string(40, tag)) << line;
    EXPECT_EQ(line.back(), '\r') << line;
    const int thread = tag == 'a' ? 0 : 1;
    EXPECT_EQ(index, next[thread]) << "lines of one thread out of order or lost";
    ++next[thread];
    ++count;
  }
  EXPECT_EQ(count, 2 * kLines);
}

TEST_F(LogTest, ListenerReceivesIdentifierMessageAndNul) {
  Listener listener;
  SetLogTarget(LogFile(), listener.name(), "");
  WriteLog("INFO, forwarded");
  EXPECT_EQ(listener.Receive(), Datagram("INFO, forwarded"));
  WriteLog("");
  EXPECT_EQ(listener.Receive(), Datagram("")) << "an empty message still carries its NUL";
}

TEST_F(LogTest, NoListenerStillWritesLine) {
  SetLogTarget(LogFile(), "quillbrook-nobody-" + std::to_string(::getpid()), "");
  WriteLog("INFO, nobody listens");
  EXPECT_NE(Contents().find("INFO, nobody listens\r\n"), std::string::npos);
}

// A listener whose queue is full: the writer waits up to the limit for room
// and then gives up; the line is in the file either way.
TEST_F(LogTest, ListenerThatNeverReadsIsGivenUpOn) {
  Listener listener;
  listener.FillQueue();
  SetLogTarget(LogFile(), listener.name(), "");
  const auto start = std::chrono::steady_clock::now();
  WriteLog("INFO, listener is stuck");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // The wait is sliced in whole milliseconds, so it may end a little short.
  EXPECT_GE(elapsed, std::chrono::milliseconds(LOG_LISTENER_TIMEOUT_MS * 9 / 10)) << "gave up without waiting";
  // Allow for a loaded machine, but not for a hang.
  EXPECT_LT(elapsed, std::chrono::seconds(3));
  EXPECT_NE(Contents().find("INFO, listener is stuck\r\n"), std::string::npos);
}

// A listener that is slow but reads within the limit gets the message: the
// writer waited for room instead of dropping it at the first full queue.
TEST_F(LogTest, ListenerThatReadsLateStillGetsTheMessage) {
  Listener listener;
  listener.FillQueue();
  SetLogTarget(LogFile(), listener.name(), "");
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(LOG_LISTENER_TIMEOUT_MS / 5));
    std::string datagram;
    // Take the filler's datagrams until the writer's one arrives.
    do {
      datagram = listener.Receive();
    } while (!datagram.empty() && datagram != Datagram("INFO, read late"));
    EXPECT_EQ(datagram, Datagram("INFO, read late"));
  });
  WriteLog("INFO, read late");
  reader.join();
}

TEST_F(LogTest, RawAppendGoesToFileUnchanged) {
  SetLogTarget(LogFile(), "", "");
  AppendLogRaw("00 01 02\r\n");
  EXPECT_EQ(Contents(), "00 01 02\r\n");
}

} // namespace
} // namespace fw
