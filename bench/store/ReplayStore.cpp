// replay_store: the receiver's floor for the store benchmark. A store costs
// the sender its own work plus what the receiver makes it wait for; replaying
// bytes a real sender once sent, as fast as the socket takes them, leaves only
// the second part.
//
//   replay_store record LISTEN_PORT HOST PORT RECORDING
//       Relays one client's connections to HOST PORT and records, per
//       connection, each turn: the bytes the client sent before the server
//       answered, and how many PDUs the server answered with. Exits once a
//       connection has ended and no other arrives within a second.
//   replay_store replay HOST PORT RECORDING
//       Sends each turn in one go (TCP_NODELAY) and reads the recorded number
//       of PDUs before the next turn; exit status 1 if the server closes early.
//
// The recording: per connection 'C'; per turn 'T', the byte count (8 bytes,
// little endian), the PDU count (4 bytes), the bytes; 'E' at its end.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <vector>

namespace {

class Fd {
public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

int Connect(const char *host, const char *port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *found = nullptr;
  if (::getaddrinfo(host, port, &hints, &found) != 0)
    return -1;
  int fd = -1;
  for (addrinfo *a = found; a && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd >= 0) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return fd;
}

bool SendAll(int fd, const std::uint8_t *bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Counts whole PDUs in a byte stream that arrives in pieces of any size.
class PduCounter {
public:
  void Feed(const std::uint8_t *bytes, std::size_t size) {
    while (size > 0) {
      if (remaining_ > 0) {
        const std::size_t take = remaining_ < size ? static_cast<std::size_t>(remaining_) : size;
        remaining_ -= take, bytes += take, size -= take;
        if (remaining_ == 0)
          ++complete_;
        continue;
      }
      header_[headerBytes_++] = *bytes++, --size;
      if (headerBytes_ == sizeof header_) {
        headerBytes_ = 0;
        remaining_ = std::uint32_t{header_[2]} << 24 | std::uint32_t{header_[3]} << 16 |
                     std::uint32_t{header_[4]} << 8 | header_[5];
        if (remaining_ == 0)
          ++complete_;
      }
    }
  }
  std::uint32_t Complete() const { return complete_; }
  void ResetComplete() { complete_ = 0; }

private:
  std::uint8_t header_[6]{};
  std::size_t headerBytes_ = 0;
  std::uint64_t remaining_ = 0;
  std::uint32_t complete_ = 0;
};

class Recording {
public:
  explicit Recording(std::FILE *out) : out_(out) {}
  void Begin() { std::fputc('C', out_); }
  void Client(const std::uint8_t *bytes, std::size_t size) {
    if (answers_.Complete() > 0)
      FlushTurn(); // the server has answered: this is the next turn
    turn_.insert(turn_.end(), bytes, bytes + size);
  }
  void Server(const std::uint8_t *bytes, std::size_t size) { answers_.Feed(bytes, size); }
  void End() {
    FlushTurn();
    std::fputc('E', out_);
    std::fflush(out_);
  }

private:
  void FlushTurn() {
    if (turn_.empty() && answers_.Complete() == 0)
      return;
    std::uint8_t head[13];
    head[0] = 'T';
    const std::uint64_t size = turn_.size();
    const std::uint32_t pdus = answers_.Complete();
    for (int i = 0; i < 8; ++i)
      head[1 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    for (int i = 0; i < 4; ++i)
      head[9 + i] = static_cast<std::uint8_t>(pdus >> (8 * i));
    std::fwrite(head, 1, sizeof head, out_);
    std::fwrite(turn_.data(), 1, turn_.size(), out_);
    turn_.clear();
    answers_.ResetComplete();
  }

  std::FILE *out_;
  std::vector<std::uint8_t> turn_;
  PduCounter answers_;
};

// Relays one connection both ways until either side closes.
void Relay(int client, int server, Recording &recording) {
  std::vector<std::uint8_t> buffer(1 << 20);
  pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    for (int side = 0; side < 2; ++side) {
      if (!(fds[side].revents & (POLLIN | POLLHUP | POLLERR)))
        continue;
      const ssize_t n = ::recv(fds[side].fd, buffer.data(), buffer.size(), 0);
      if (n <= 0)
        return;
      const auto size = static_cast<std::size_t>(n);
      if (side == 0)
        recording.Client(buffer.data(), size);
      else
        recording.Server(buffer.data(), size);
      if (!SendAll(fds[1 - side].fd, buffer.data(), size))
        return;
    }
  }
}

int Record(const char *listenPort, const char *host, const char *port, const char *path) {
  Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int one = 1;
  ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(listenPort)));
  if (::bind(listener.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      ::listen(listener.get(), 4) != 0) {
    std::perror("replay_store: listen");
    return 1;
  }
  std::FILE *out = std::fopen(path, "wb");
  if (!out) {
    std::perror(path);
    return 1;
  }
  int connections = 0;
  for (;;) {
    // The first client may take its time; after that a quiet second ends it.
    pollfd wait{listener.get(), POLLIN, 0};
    if (::poll(&wait, 1, connections == 0 ? 60000 : 1000) <= 0)
      break;
    Fd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    Fd server(Connect(host, port));
    if (client.get() < 0 || server.get() < 0) {
      std::fprintf(stderr, "replay_store: cannot relay to %s:%s\n", host, port);
      std::fclose(out);
      return 1;
    }
    ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Recording recording(out);
    recording.Begin();
    Relay(client.get(), server.get(), recording);
    recording.End();
    ++connections;
  }
  std::fclose(out);
  std::fprintf(stderr, "replay_store: recorded %d connection(s)\n", connections);
  return connections > 0 ? 0 : 1;
}

int Replay(const char *host, const char *port, const char *path) {
  Fd file(::open(path, O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || info.st_size == 0) {
    std::perror(path);
    return 1;
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  void *mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.get(), 0);
  if (mapped == MAP_FAILED) {
    std::perror("replay_store: mmap");
    return 1;
  }
  const auto *bytes = static_cast<const std::uint8_t *>(mapped);
  std::vector<std::uint8_t> buffer(1 << 16);
  std::size_t at = 0;
  int status = 0;
  int connection = -1;
  while (at < size && status == 0) {
    const char kind = static_cast<char>(bytes[at++]);
    if (kind == 'C') {
      connection = Connect(host, port);
      status = connection < 0 ? 1 : 0;
    } else if (kind == 'E') {
      ::close(connection);
      connection = -1;
    } else if (kind == 'T' && at + 12 <= size) {
      std::uint64_t length = 0;
      std::uint32_t pdus = 0;
      for (int i = 0; i < 8; ++i)
        length |= std::uint64_t{bytes[at + i]} << (8 * i);
      for (int i = 0; i < 4; ++i)
        pdus |= std::uint32_t{bytes[at + 8 + i]} << (8 * i);
      at += 12;
      if (length > size - at || !SendAll(connection, bytes + at, length)) {
        status = 1;
        break;
      }
      at += length;
      PduCounter answers;
      while (answers.Complete() < pdus) {
        const ssize_t n = ::recv(connection, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR)
          continue;
        if (n <= 0) {
          std::fprintf(stderr, "replay_store: the server closed the connection early\n");
          status = 1;
          break;
        }
        answers.Feed(buffer.data(), static_cast<std::size_t>(n));
      }
    } else {
      std::fprintf(stderr, "replay_store: %s is not a recording\n", path);
      status = 1;
    }
  }
  if (connection >= 0)
    ::close(connection);
  ::munmap(mapped, size);
  return status;
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 6 && std::strcmp(argv[1], "record") == 0)
    return Record(argv[2], argv[3], argv[4], argv[5]);
  if (argc == 5 && std::strcmp(argv[1], "replay") == 0)
    return Replay(argv[2], argv[3], argv[4]);
  std::fprintf(stderr, "usage: replay_store record LISTEN_PORT HOST PORT RECORDING\n"
                       "       replay_store replay HOST PORT RECORDING\n");
  return 2;
}
