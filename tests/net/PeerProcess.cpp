// PeerProcess: posix_spawn, a look at /proc for the listening socket, and
// stopping by process id.
#include "tests/net/PeerProcess.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace fw::test {

namespace {

std::vector<std::string> Environment(const std::vector<std::string> &extra) {
  std::vector<std::string> all;
  for (char **e = environ; *e != nullptr; ++e) {
    all.emplace_back(*e);
  }
  for (const std::string &entry : extra) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    std::erase_if(all, [&](const std::string &e) { return e.starts_with(name); });
    all.push_back(entry);
  }
  return all;
}

std::vector<char *> Pointers(std::vector<std::string> &texts) {
  std::vector<char *> pointers;
  for (std::string &t : texts) {
    pointers.push_back(t.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

pid_t Spawn(const std::vector<std::string> &argv, const std::string &outPath, const std::string &errPath,
            const std::vector<std::string> &env) {
  std::vector<std::string> args = argv;
  std::vector<std::string> environment = Environment(env);
  std::vector<char *> argp = Pointers(args);
  std::vector<char *> envp = Pointers(environment);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (errPath == outPath) {
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

// Inodes of the sockets listening on the port (IPv4 and IPv6 tables).
std::vector<std::string> ListeningInodes(std::uint16_t port) {
  std::vector<std::string> inodes;
  char portHex[8];
  std::snprintf(portHex, sizeof portHex, "%04X", port);
  for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      const std::size_t colon = local.rfind(':');
      if (state == "0A" && colon != std::string::npos && local.substr(colon + 1) == portHex) {
        inodes.push_back(inode);
      }
    }
  }
  return inodes;
}

bool OwnsSocket(pid_t pid, const std::vector<std::string> &inodes) {
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator(folder, error)) {
    std::error_code linkError;
    const std::string target = std::filesystem::read_symlink(entry.path(), linkError).string();
    for (const std::string &inode : inodes) {
      if (target == "socket:[" + inode + "]") {
        return true;
      }
    }
  }
  return false;
}

std::string ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

std::uint16_t PeerProcess::FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  std::uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool PeerProcess::Start(const std::vector<std::string> &argv, const std::string &outputPath,
                        const std::vector<std::string> &env) {
  Stop();
  pid_ = Spawn(argv, outputPath, outputPath, env);
  return pid_ > 0;
}

bool PeerProcess::WaitListening(std::uint16_t port, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (pid_ > 0 && std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    const std::vector<std::string> inodes = ListeningInodes(port);
    if (!inodes.empty() && OwnsSocket(pid_, inodes)) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void PeerProcess::Stop(std::chrono::milliseconds grace) {
  if (pid_ <= 0) {
    return;
  }
  ::kill(pid_, SIGTERM);
  const auto end = std::chrono::steady_clock::now() + grace;
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= end) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
}

int PeerProcess::Run(const std::vector<std::string> &argv, std::string *out, std::string *err,
                     const std::vector<std::string> &env) {
  char outPattern[] = "/tmp/fwrun-out-XXXXXX";
  char errPattern[] = "/tmp/fwrun-err-XXXXXX";
  const int outFd = ::mkstemp(outPattern);
  const int errFd = ::mkstemp(errPattern);
  if (outFd >= 0) {
    ::close(outFd);
  }
  if (errFd >= 0) {
    ::close(errFd);
  }
  const pid_t pid = Spawn(argv, outPattern, errPattern, env);
  int status = 0;
  const bool ran = pid > 0 && ::waitpid(pid, &status, 0) == pid;
  if (out != nullptr) {
    *out = ReadAll(outPattern);
  }
  if (err != nullptr) {
    *err = ReadAll(errPattern);
  }
  ::unlink(outPattern);
  ::unlink(errPattern);
  return ran && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace fw::test
