#include "tests/support/ScriptedPeer.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fw::test {
namespace {

int ListenOnLoopback(int backlog, std::uint16_t &port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    throw std::runtime_error("socket failed");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error(std::string("cannot listen on loopback: ") + std::strerror(errno));
  }
  port = ntohs(address.sin_port);
  return fd;
}

} // namespace

ScriptedPeer::ScriptedPeer() {
  listener_ = ListenOnLoopback(8, port_);
  if (::pipe2(stopPipe_, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
}

ScriptedPeer::~ScriptedPeer() {
  const char stop = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(stopPipe_[1], &stop, 1);
  if (thread_.joinable()) {
    thread_.join();
  }
  for (int fd : {connection_, listener_, stopPipe_[0], stopPipe_[1]}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

void ScriptedPeer::SetReceiveBuffer(int bytes) {
  receiveBuffer_ = bytes;
  // Accepted sockets inherit the listener's buffer size.
  ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
}

bool ScriptedPeer::WaitReadable(int fd) {
  pollfd waits[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(waits, 2, -1);
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    return ready > 0 && (waits[1].revents & POLLIN) == 0;
  }
}

bool ScriptedPeer::ReadSome(std::size_t limit, std::size_t &got) {
  got = 0;
  if (connection_ < 0 || !WaitReadable(connection_)) {
    return false;
  }
  char block[65536];
  const ssize_t count = ::recv(connection_, block, std::min(limit, sizeof(block)), 0);
  if (count <= 0) {
    const Ending ending = count == 0 ? Ending::EndOfFile : errno == ECONNRESET ? Ending::Reset : Ending::Open;
    std::lock_guard lock(mutex_);
    if (endings_.back() == Ending::Open) {
      endings_.back() = ending; // a reset reads as end of file after it is reported
    }
    return false;
  }
  got = static_cast<std::size_t>(count);
  std::lock_guard lock(mutex_);
  received_.back().append(block, got);
  return true;
}

ScriptedPeer::Step ScriptedPeer::AcceptStep() {
  return [this] {
    if (connection_ >= 0) {
      ::close(connection_);
      connection_ = -1;
    }
    if (!WaitReadable(listener_)) {
      return false;
    }
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard lock(mutex_);
    received_.emplace_back();
    endings_.push_back(Ending::Open);
    return connection_ >= 0;
  };
}

ScriptedPeer &ScriptedPeer::Accept() {
  steps_.push_back(AcceptStep());
  return *this;
}

ScriptedPeer &ScriptedPeer::Receive(std::size_t n) {
  steps_.push_back([this, n] {
    std::size_t left = n;
    std::size_t got = 0;
    while (left > 0 && ReadSome(left, got)) {
      left -= got;
    }
    return true;
  });
  return *this;
}

ScriptedPeer &ScriptedPeer::ReceiveUntilClosed() {
  steps_.push_back([this] {
    std::size_t got = 0;
    while (ReadSome(SIZE_MAX, got)) {
    }
    return true;
  });
  return *this;
}

ScriptedPeer &ScriptedPeer::Send(std::string_view bytes) {
  steps_.push_back([this, data = std::string(bytes)] {
    std::size_t sent = 0;
    while (connection_ >= 0 && sent < data.size()) {
      const ssize_t count = ::send(connection_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (count < 0 && errno == EINTR) {
        continue;
      }
      if (count <= 0) {
        break;
      }
      sent += static_cast<std::size_t>(count);
    }
    return true;
  });
  return *this;
}

ScriptedPeer &ScriptedPeer::Trickle(std::string_view bytes, std::size_t chunk, std::chrono::milliseconds interval,
                                    bool stopWhenClientSends) {
  steps_.push_back([this, data = std::string(bytes), chunk, interval, stopWhenClientSends] {
    std::size_t sent = 0;
    while (connection_ >= 0 && sent < data.size()) {
      const std::size_t size = std::min(chunk, data.size() - sent);
      const ssize_t count = ::send(connection_, data.data() + sent, size, MSG_NOSIGNAL);
      if (count < 0 && errno == EINTR) {
        continue;
      }
      if (count <= 0) {
        break;
      }
      sent += static_cast<std::size_t>(count);
      // The interval, cut short by the end or, when asked, by anything from
      // the client.
      pollfd waits[2] = {{stopPipe_[0], POLLIN, 0}, {connection_, POLLIN, 0}};
      const int ready = ::poll(waits, stopWhenClientSends ? 2 : 1, static_cast<int>(interval.count()));
      if (ready != 0) {
        break;
      }
    }
    return true;
  });
  return *this;
}

ScriptedPeer &ScriptedPeer::Pause(std::chrono::milliseconds duration) {
  steps_.push_back([this, duration] {
    pollfd wait{stopPipe_[0], POLLIN, 0};
    return ::poll(&wait, 1, static_cast<int>(duration.count())) == 0;
  });
  return *this;
}

ScriptedPeer &ScriptedPeer::Close() {
  steps_.push_back([this] {
    if (connection_ >= 0) {
      ::close(connection_);
      connection_ = -1;
    }
    return true;
  });
  return *this;
}

void ScriptedPeer::Start() {
  steps_.insert(steps_.begin(), AcceptStep());
  thread_ = std::thread([this] { Run(); });
}

void ScriptedPeer::Run() {
  for (const Step &step : steps_) {
    if (!step()) {
      break;
    }
  }
  std::lock_guard lock(mutex_);
  done_ = true;
  doneChanged_.notify_all();
}

bool ScriptedPeer::Wait(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return doneChanged_.wait_for(lock, limit, [this] { return done_; });
}

std::string ScriptedPeer::Received(std::size_t connection) const {
  std::lock_guard lock(mutex_);
  return connection < received_.size() ? received_[connection] : std::string();
}

ScriptedPeer::Ending ScriptedPeer::EndingOf(std::size_t connection) const {
  std::lock_guard lock(mutex_);
  return connection < endings_.size() ? endings_[connection] : Ending::Open;
}

std::size_t ScriptedPeer::Connections() const {
  std::lock_guard lock(mutex_);
  return received_.size();
}

UnansweredListener::UnansweredListener() {
  listener_ = ListenOnLoopback(0, port_);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port_);
  // Fill the accept queue: once a connect no longer completes at once, the
  // queue is full and every further SYN is dropped.
  for (int i = 0; i < 16; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    fillers_.push_back(fd);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0) {
      continue;
    }
    if (errno != EINPROGRESS) {
      break;
    }
    pollfd wait{fd, POLLOUT, 0};
    if (::poll(&wait, 1, 200) == 0) {
      break; // this one hangs: the queue is full
    }
  }
}

UnansweredListener::~UnansweredListener() {
  for (int fd : fillers_) {
    ::close(fd);
  }
  ::close(listener_);
}

} // namespace fw::test
