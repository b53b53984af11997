#include "base/Log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fw {
namespace {

struct LogState {
  std::optional<std::string> filePath;
  std::optional<std::string> windowTitle;
  std::optional<std::string> windowClass;
};

LogState g_state;
// Held from the start of a write until the listener has been served. Waiters
// block on the flag itself (C++20 atomic wait) rather than polling with a
// sleep, so a busy log costs the waiting thread nothing.
std::atomic_flag g_busy = ATOMIC_FLAG_INIT;

class BusyGuard {
public:
  BusyGuard() {
    while (g_busy.test_and_set(std::memory_order_acquire)) {
      g_busy.wait(true, std::memory_order_relaxed);
    }
  }
  ~BusyGuard() {
    g_busy.clear(std::memory_order_release);
    g_busy.notify_one();
  }
  BusyGuard(const BusyGuard &) = delete;
  BusyGuard &operator=(const BusyGuard &) = delete;
};

bool AppendToFile(const std::string &path, std::string_view bytes) {
  std::FILE *file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) {
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  return written && closed;
}

class FileDescriptor {
public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  FileDescriptor(const FileDescriptor &) = delete;
  FileDescriptor &operator=(const FileDescriptor &) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

// Sends one datagram to the listener bound to the abstract name; gives up
// silently when nobody listens or the listener does not take it in time.
void ForwardToListener(const std::string &name, std::string_view message) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // Abstract namespace: a leading NUL, then the name without terminator.
  const size_t nameLength = std::min(name.size(), sizeof(address.sun_path) - 1);
  std::memcpy(address.sun_path + 1, name.data(), nameLength);
  const auto addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + nameLength);

  FileDescriptor socketFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (socketFd.get() < 0) {
    return;
  }
  // Connected, so that poll() reports whether the listener's queue has room.
  if (::connect(socketFd.get(), reinterpret_cast<const sockaddr *>(&address), addressLength) != 0) {
    return;
  }

  std::string datagram;
  datagram.reserve(4 + message.size() + 1);
  for (int shift = 0; shift < 32; shift += 8) {
    datagram.push_back(static_cast<char>((LOG_LISTENER_ID >> shift) & 0xFF));
  }
  datagram.append(message);
  datagram.push_back('\0');

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(LOG_LISTENER_TIMEOUT_MS);
  for (;;) {
    const ssize_t sent = ::send(socketFd.get(), datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) {
      return;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return;
    }
    pollfd waitFor{socketFd.get(), POLLOUT, 0};
    // Sleep in short slices: a full listener queue does not always wake
    // pollers when it drains.
    ::poll(&waitFor, 1, static_cast<int>(std::min<long long>(left.count(), 20)));
  }
}

} // namespace

void SetLogTarget(std::string_view filePath, std::string_view windowTitle, std::string_view windowClass) {
  BusyGuard busy;
  if (!filePath.empty()) {
    g_state.filePath = std::string(filePath);
  }
  if (!windowTitle.empty()) {
    g_state.windowTitle = std::string(windowTitle);
  }
  if (!windowClass.empty()) {
    g_state.windowClass = std::string(windowClass);
  }
}

void FreeLogTarget() {
  BusyGuard busy;
  g_state = LogState{};
}

std::string TimeOfDayText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::snprintf(text, sizeof(text), "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

void WriteLog(std::string_view message) {
  BusyGuard busy;
  if (!g_state.filePath) {
    return;
  }
  std::string line = TimeOfDayText();
  line.append(", ");
  line.append(message);
  line.append("\r\n");
  if (!AppendToFile(*g_state.filePath, line)) {
    return;
  }
  // On Linux there are no window classes: the listener is found by its title,
  // or by the class name when only that was given.
  if (g_state.windowTitle) {
    ForwardToListener(*g_state.windowTitle, message);
  } else if (g_state.windowClass) {
    ForwardToListener(*g_state.windowClass, message);
  }
}

void AppendLogRaw(std::string_view bytes) {
  BusyGuard busy;
  if (g_state.filePath) {
    AppendToFile(*g_state.filePath, bytes);
  }
}

std::optional<std::string> LogTargetPath() {
  BusyGuard busy;
  return g_state.filePath;
}

} // namespace fw
