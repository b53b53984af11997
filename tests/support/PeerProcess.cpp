// PeerProcess: fork and exec with a parent-death signal, a look at /proc for
// the listening socket, and stopping by process id.
#include "tests/support/PeerProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <netinet/in.h>
#include <sstream>
#include <sys/prctl.h>
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

// The program's path as execve needs it: the child of a fork may only make
// async-signal-safe calls, so the PATH search happens here.
std::string ResolveProgram(const std::string &name) {
  if (name.find('/') != std::string::npos) {
    return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
  }
  const char *path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate)) {
      return candidate;
    }
  }
  return {};
}

int OpenForChild(const char *path, int flags) { return ::open(path, flags | O_CLOEXEC, 0644); }

// Starts the program with stdin from /dev/null and the two outputs in the
// files; the child gets SIGKILL when the starting thread ends.
pid_t Spawn(const std::vector<std::string> &argv, const std::string &outPath, const std::string &errPath,
            const std::vector<std::string> &env) {
  if (argv.empty()) {
    return -1;
  }
  const std::string program = ResolveProgram(argv[0]);
  if (program.empty()) {
    return -1;
  }
  std::vector<std::string> args = argv;
  std::vector<std::string> environment = Environment(env);
  std::vector<char *> argp = Pointers(args);
  std::vector<char *> envp = Pointers(environment);
  const int in = OpenForChild("/dev/null", O_RDONLY);
  const int out = OpenForChild(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
  const int err = errPath == outPath ? out : OpenForChild(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
  pid_t pid = -1;
  if (in >= 0 && out >= 0 && err >= 0) {
    const pid_t parent = ::getpid();
    pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) {
        ::_exit(127); // the parent is already gone
      }
      ::dup2(in, 0);
      ::dup2(out, 1);
      ::dup2(err, 2);
      ::execve(program.c_str(), argp.data(), envp.data());
      ::_exit(127);
    }
  }
  for (int fd : {in, out}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
  if (err >= 0 && err != out) {
    ::close(err);
  }
  return pid;
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

std::string CommandLine(const std::vector<std::string> &argv) {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on chained
  // string concatenation here.
  std::string line;
  for (const std::string &arg : argv) {
    if (!line.empty()) {
      line += ' ';
    }
    line += arg;
  }
  return line;
}

// True when the running test, or the suite being set up or torn down, has
// failed.
bool CurrentTestFailed() {
  if (::testing::Test::HasFailure()) {
    return true;
  }
  const ::testing::TestSuite *suite = ::testing::UnitTest::GetInstance()->current_test_suite();
  return suite != nullptr && suite->Failed();
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
  command_ = CommandLine(argv);
  outputPath_ = outputPath;
  pid_ = Spawn(argv, outputPath, outputPath, env);
  return pid_ > 0;
}

bool PeerProcess::WaitListening(std::uint16_t port, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (Running() && std::chrono::steady_clock::now() < end) {
    const std::vector<std::string> inodes = ListeningInodes(port);
    if (!inodes.empty() && OwnsSocket(pid_, inodes)) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool PeerProcess::Running() {
  int status = 0;
  if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
  }
  return pid_ > 0;
}

std::string PeerProcess::Log() const {
  std::string log = "---- ";
  log.append(command_).append(" (output in ").append(outputPath_).append(")\n");
  log.append(ReadAll(outputPath_)).append("---- end of output\n");
  return log;
}

void PeerProcess::Stop(std::chrono::milliseconds grace) {
  if (pid_ > 0) {
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
  if (!outputPath_.empty() && CurrentTestFailed()) {
    std::cerr << Log();
  }
  outputPath_.clear();
}

int PeerProcess::Run(const std::vector<std::string> &argv, std::string *out, std::string *err,
                     const std::vector<std::string> &env, std::chrono::milliseconds limit) {
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
  bool ran = false;
  bool timedOut = false;
  if (pid > 0) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (true) {
      const pid_t done = ::waitpid(pid, &status, WNOHANG);
      if (done == pid) {
        ran = true;
        break;
      }
      if (done < 0) {
        break;
      }
      if (std::chrono::steady_clock::now() >= end) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        timedOut = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  if (out != nullptr) {
    *out = ReadAll(outPattern);
  }
  if (err != nullptr) {
    *err = ReadAll(errPattern);
    if (timedOut) {
      err->append("\n").append(CommandLine(argv)).append(": killed after ");
      err->append(std::to_string(limit.count())).append(" ms\n");
    }
  }
  ::unlink(outPattern);
  ::unlink(errPattern);
  if (timedOut) {
    return kTimedOut;
  }
  return ran && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace fw::test
