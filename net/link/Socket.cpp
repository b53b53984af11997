#include "net/link/Socket.h"

#include "base/Log.h"
#include "net/link/NetTrace.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace fw {
namespace {

// The host text is used as a C string of at most 127 characters.
constexpr std::size_t kMaxHostText = 127;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when the text starts the way atol reads a number other than zero.
bool StartsWithNonZeroNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) {
    ++i;
  }
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    ++i;
  }
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    if (text[i] != '0') {
      return true;
    }
  }
  return false;
}

// The leading decimal number of the text (atol rules), cut to 16 bits.
// Working modulo 2^16 while reading gives the same cut without overflow.
std::uint16_t LeadingNumber16(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::uint32_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = (value * 10 + static_cast<std::uint32_t>(text[i] - '0')) & 0xFFFF;
  }
  if (negative) {
    value = (0x10000 - value) & 0xFFFF;
  }
  return static_cast<std::uint16_t>(value);
}

// The port in network order: its leading number, or else the service of
// that name. Empty, with the error logged, when neither gives one.
std::optional<std::uint16_t> ResolvePort(std::string_view port) {
  const std::uint16_t portNumber = LeadingNumber16(port);
  if (portNumber != 0) {
    return htons(portNumber);
  }
  const std::string service(port);
  const servent *entry = ::getservbyname(service.c_str(), nullptr);
  if (entry == nullptr) {
    WriteLog("ERROR, could not resolve host port");
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(entry->s_port);
}

std::optional<std::uint32_t> SystemLookup(const std::string &name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *found = nullptr;
  std::optional<std::uint32_t> address;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 && found != nullptr) {
    address = reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr.s_addr;
  }
  if (found != nullptr) {
    ::freeaddrinfo(found);
  }
  return address;
}

std::atomic<Socket::HostLookup> hostLookup{&SystemLookup};

// What a look-up thread hands back; shared, so a look-up that outlives the
// wait for it writes into memory that still exists.
struct LookupResult {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::optional<std::uint32_t> address;
};

enum class LookupOutcome { Found, Unknown, TimedOut };

// Runs the look-up on its own thread and waits at most the given seconds
// (0 or less: as long as it takes).
LookupOutcome LookUpWithin(const std::string &name, int seconds, std::uint32_t &address) {
  const Socket::HostLookup lookup = hostLookup.load();
  auto result = std::make_shared<LookupResult>();
  try {
    std::thread([result, lookup, name] {
      std::optional<std::uint32_t> found = lookup(name);
      const std::lock_guard lock(result->mutex);
      result->address = found;
      result->done = true;
      result->finished.notify_all();
    }).detach();
  } catch (const std::system_error &) {
    // No thread to be had: look up here, unbounded, rather than not at all.
    const std::optional<std::uint32_t> found = lookup(name);
    address = found.value_or(0);
    return found ? LookupOutcome::Found : LookupOutcome::Unknown;
  }
  std::unique_lock lock(result->mutex);
  const auto isDone = [&] { return result->done; };
  if (seconds > 0) {
    if (!result->finished.wait_for(lock, std::chrono::seconds(seconds), isDone)) {
      return LookupOutcome::TimedOut;
    }
  } else {
    result->finished.wait(lock, isDone);
  }
  address = result->address.value_or(0);
  return result->address ? LookupOutcome::Found : LookupOutcome::Unknown;
}

} // namespace

void Socket::SetDeadline(Clock::time_point deadline) {
  deadline_ = deadline;
  interrupted_ = Interrupt::None;
}

void Socket::ClearDeadline() {
  deadline_.reset();
  interrupted_ = Interrupt::None;
}

bool Socket::InterruptDue() {
  if (interrupted_ != Interrupt::None) {
    return true;
  }
  const auto now = Clock::now();
  if (deadline_ && now >= *deadline_) {
    interrupted_ = Interrupt::Deadline;
  } else if (cancelCheck_ && now - lastCancelCheck_ >= CancelPoll) {
    // Also asked when the peer never lets a wait happen: a fast peer must
    // not make the operator's cancel wait for the end of a clip.
    lastCancelCheck_ = now;
    if (cancelCheck_()) {
      interrupted_ = Interrupt::Cancelled;
    }
  }
  return interrupted_ != Interrupt::None;
}

int Socket::Wait(short events) {
  if (InterruptDue()) {
    return -2;
  }
  const auto timeoutEnd = Clock::now() + std::chrono::seconds(std::max(timeout_, 0));
  const bool deadlineFirst = deadline_ && *deadline_ < timeoutEnd;
  const auto end = deadlineFirst ? *deadline_ : timeoutEnd;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (cancelCheck_) {
      left = std::min(left, std::chrono::duration_cast<std::chrono::milliseconds>(CancelPoll));
    }
    pollfd wait{handle_, events, 0};
    const int ready = ::poll(&wait, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX)));
    if (ready > 0) {
      return 1;
    }
    if (ready < 0 && errno != EINTR) {
      return -1;
    }
    if (cancelCheck_) {
      lastCancelCheck_ = Clock::now();
      if (cancelCheck_()) {
        interrupted_ = Interrupt::Cancelled;
        return -2;
      }
    }
    if (Clock::now() >= end) {
      if (deadlineFirst) {
        interrupted_ = Interrupt::Deadline;
        return -2;
      }
      return 0;
    }
  }
}

void Socket::SetHostLookup(HostLookup lookup) { hostLookup.store(lookup != nullptr ? lookup : &SystemLookup); }

Socket::~Socket() {
  if (handle_ >= 0) {
    ::shutdown(handle_, SHUT_RDWR);
    ::close(handle_);
  }
}

bool Socket::Close() {
  if (handle_ >= 0) {
    ::close(handle_);
  }
  handle_ = -1;
  connected_ = false;
  return true;
}

void Socket::Reset() {
  if (handle_ >= 0) {
    const linger resetOnClose{1, 0};
    ::setsockopt(handle_, SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof(resetOnClose));
  }
  Close();
}

void Socket::SendTimeoutNotice() {
  if (handle_ < 0 || timeoutNotice_.empty()) {
    return;
  }
  const ssize_t sent = ::send(handle_, timeoutNotice_.data(), timeoutNotice_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  if (sent > 0) {
    TraceBlock(reinterpret_cast<const std::uint8_t *>(timeoutNotice_.data()), static_cast<int>(sent), true);
  }
}

std::optional<std::uint32_t> Socket::ResolveHost(const std::string &hostText) {
  if (StartsWithNonZeroNumber(hostText)) {
    return ::inet_addr(hostText.c_str());
  }
  std::uint32_t found = 0;
  switch (LookUpWithin(hostText, timeout_, found)) {
  case LookupOutcome::Found:
    return found;
  case LookupOutcome::Unknown:
    // Not a known name: a dotted address after all, or all ones.
    return ::inet_addr(hostText.c_str());
  case LookupOutcome::TimedOut:
    break;
  }
  lastResult_ = ETIMEDOUT;
  WriteLog("ERROR, Socket::Connect, look-up of " + hostText + " timed out");
  return std::nullopt;
}

bool Socket::OpenHandle() {
  handle_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (handle_ < 0) {
    lastResult_ = errno;
    WriteLog("ERROR, could not create socket");
    return false;
  }
  const int noDelay = 1;
  if (::setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay)) != 0) {
    lastResult_ = errno;
    WriteLog("ERROR, set socket option");
    return false;
  }
  // Non-blocking from here on: every wait is a poll with the time-out.
  ::fcntl(handle_, F_SETFL, ::fcntl(handle_, F_GETFL) | O_NONBLOCK);
  return true;
}

int Socket::ConnectHandle(std::uint32_t address, std::uint16_t networkPort) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = networkPort;
  peer.sin_addr.s_addr = address;
  if (::connect(handle_, reinterpret_cast<const sockaddr *>(&peer), sizeof(peer)) == 0) {
    return 0;
  }
  int error = errno;
  if (error == EINPROGRESS || error == EINTR) {
    const int ready = Wait(POLLOUT);
    if (ready > 0) {
      socklen_t length = sizeof(error);
      if (::getsockopt(handle_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        error = errno;
      }
    } else {
      error = ready == 0 ? ETIMEDOUT : ready == -2 ? ECANCELED : errno;
    }
  }
  return error;
}

bool Socket::Connect(std::string_view host, std::string_view port) {
  Close();
  interrupted_ = Interrupt::None;

  const std::optional<std::uint32_t> address = ResolveHost(std::string(host.substr(0, kMaxHostText)));
  if (!address) {
    return false;
  }
  const std::optional<std::uint16_t> networkPort = ResolvePort(port);
  if (!networkPort || !OpenHandle()) {
    return false;
  }
  const int error = ConnectHandle(*address, *networkPort);
  lastResult_ = error;
  if (error == ECANCELED && interrupted_ != Interrupt::None) {
    Close(); // the caller says why
    return false;
  }
  if (error != 0) {
    Close();
    WriteLog("ERROR, Connecting to Socket: " + std::string(host) + ":" + std::string(port) + ", " +
             std::to_string(error));
    return false;
  }
  connected_ = true;
  return true;
}

bool Socket::SendBinary(const std::uint8_t *data, std::size_t length) {
  if (!connected_) {
    return false;
  }
  std::size_t sent = 0;
  while (sent < length) {
    const ssize_t count = ::send(handle_, data + sent, length - sent, MSG_NOSIGNAL);
    if (count > 0) {
      sent += static_cast<std::size_t>(count);
      if (sent < length && InterruptDue()) {
        return false;
      }
      continue;
    }
    if (ShouldRetrySend(count)) {
      continue;
    }
    return false;
  }
  TraceBlock(data, static_cast<int>(std::min<std::size_t>(length, INT_MAX)), true);
  return true;
}

bool Socket::SendSlices(const Slice *slices, std::size_t count) {
  if (handle_ < 0) {
    // Not backed by a descriptor (or not connected): one block through
    // SendBinary.
    std::vector<std::uint8_t> joined;
    for (std::size_t i = 0; i < count; ++i) {
      joined.insert(joined.end(), slices[i].data, slices[i].data + slices[i].size);
    }
    return SendBinary(joined.data(), joined.size());
  }
  if (!connected_) {
    return false;
  }
  bool firstCall = true;
  const auto send = [this, &firstCall](const iovec *vectors, int used) -> ssize_t {
    // Called again only when the previous call left slices unsent.
    if (!firstCall && InterruptDue()) {
      return -1;
    }
    firstCall = false;
    msghdr message{};
    message.msg_iov = const_cast<iovec *>(vectors);
    message.msg_iovlen = static_cast<std::size_t>(used);
    for (;;) {
      const ssize_t sentNow = ::sendmsg(handle_, &message, MSG_NOSIGNAL);
      if (sentNow > 0) {
        return sentNow;
      }
      if (!ShouldRetrySend(sentNow)) {
        return -1;
      }
    }
  };
  // Traced as each slice goes out whole.
  return WriteSlices(slices, count, send, [this](const Slice &slice) {
    TraceBlock(slice.data, static_cast<int>(std::min<std::size_t>(slice.size, INT_MAX)), true);
  });
}

bool Socket::ShouldRetrySend(ssize_t result) {
  int error = result < 0 ? errno : EIO;
  if (error == EINTR) {
    return true;
  }
  if (error == EAGAIN || error == EWOULDBLOCK) {
    const int ready = Wait(POLLOUT);
    if (ready > 0) {
      return true;
    }
    if (ready == -2) {
      return false; // the caller says why; the link stays for its A-ABORT
    }
    // A peer that takes nothing for the whole time-out is given up on; what
    // is queued for it could not get through, so the link is reset.
    error = ready == 0 ? ETIMEDOUT : errno;
    Reset();
  }
  WriteLog("ERROR, Socket::SendBinary, couldn't send: " + std::to_string(error));
  return false;
}

int Socket::ReadBinary(std::uint8_t *buffer, std::size_t capacity) {
  if (!connected_) {
    return -1;
  }
  capacity = std::min<std::size_t>(capacity, INT_MAX);
  for (;;) {
    const int ready = Wait(POLLIN);
    if (ready == -2) {
      return -1; // the caller says why; the link stays for its A-ABORT
    }
    if (ready <= 0) {
      if (ready == 0 && timeout_ != 0) {
        SendTimeoutNotice();
      }
      Close();
      if (timeout_ == 0) {
        return 0;
      }
      WriteLog("ERROR, Socket::ReadBinary, Timed out");
      return -1;
    }
    const ssize_t count = ::recv(handle_, buffer, capacity, 0);
    if (count == 0) {
      Close();
      return -1;
    }
    if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
      continue; // woken without data: wait again
    }
    if (count < 0) {
      // A reset or another failure: the link is of no further use.
      const int error = errno;
      TraceBlock(buffer, -1, false);
      Close();
      WriteLog("ERROR, Socket::ReadBinary, couldn't receive: " + std::system_category().message(error));
      return -1;
    }
    TraceBlock(buffer, static_cast<int>(count), false);
    return static_cast<int>(count);
  }
}

} // namespace fw
