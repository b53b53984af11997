// Associations with a real, independent peer: DCMTK's storescp on a free
// loopback port, started and stopped by the test. Verification is opened,
// echoed and released for several peer maximum PDU lengths; an object larger
// than the peer's PDUs is stored to check the fragmentation against it.
#include "net/association/PDU_Service.h"
#include "net/pdu/IdCounter.h"
#include "tests/net/AssociationScripts.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace fw {
namespace {

using test::LogCapture;

// A port that is free right now on the loopback interface.
std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    ::close(fd);
    return 0;
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

// True when a socket listens on the port (IPv4 or IPv6 table).
bool Listening(std::uint16_t port) {
  char wanted[8];
  std::snprintf(wanted, sizeof(wanted), ":%04X", port);
  for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    while (std::getline(in, line)) {
      // "sl local_address rem_address st ...": state 0A is LISTEN.
      char local[64] = {};
      char remote[64] = {};
      unsigned state = 0;
      if (std::sscanf(line.c_str(), "%*d: %63s %63s %x", local, remote, &state) == 3 && state == 0x0A &&
          std::string(local).ends_with(wanted)) {
        return true;
      }
    }
  }
  return false;
}

// storescp with the given maximum PDU length, stopped by its process id.
class StoreScp {
public:
  StoreScp(int maxPdu, const std::string &outputFolder) {
    port_ = FreePort();
    const std::string maxPduText = std::to_string(maxPdu);
    const std::string portText = std::to_string(port_);
    std::vector<std::string> args{"storescp", "--max-pdu", maxPduText,   "-aet",
                                  "STORESCP", "-od",       outputFolder, portText};
    std::vector<char *> argv;
    for (std::string &arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char *> env;
    for (char **e = environ; *e != nullptr; ++e) {
      env.push_back(*e);
    }
    std::string noDelay = "TCP_NODELAY=1";
    env.push_back(noDelay.data());
    env.push_back(nullptr);
    if (posix_spawnp(&pid_, "storescp", &actions, nullptr, argv.data(), env.data()) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pid_ > 0 && !Listening(port_) && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1; // it ended at start
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~StoreScp() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  StoreScp(const StoreScp &) = delete;
  StoreScp &operator=(const StoreScp &) = delete;

  bool Running() const { return pid_ > 0 && Listening(port_); }
  std::string PortText() const { return std::to_string(port_); }

private:
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

class StorescpTest : public ::testing::TestWithParam<int> {
protected:
  test::TempDir folder_;
};

TEST_P(StorescpTest, VerificationIsOpenedEchoedAndReleased) {
  const int maxPdu = GetParam();
  StoreScp peer(maxPdu, folder_.folder());
  ASSERT_TRUE(peer.Running());
  LogCapture log;
  PDU_Service service;
  ASSERT_TRUE(service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", "1.2.840.10008.1.1", 10));
  EXPECT_EQ(service.pdata.PresentationContextID, 1);
  ASSERT_EQ(service.AcceptedContexts.size(), 1u);
  EXPECT_EQ(service.AcceptedContexts[0]->TrnSyntax.UID, "1.2.840.10008.1.2");
  EXPECT_EQ(service.assocAC.UserInfo.MaxSubLength.MaximumLength, static_cast<std::uint32_t>(maxPdu));

  const std::uint16_t messageID = IdCounter::MessageID();
  EXPECT_EQ(messageID, 3);
  auto echo = test::EchoCommand(messageID);
  ASSERT_TRUE(service.Write(*echo, true));
  DcmObj response;
  ASSERT_TRUE(service.Read(response));
  EXPECT_EQ(response.FindUS(0x0000, 0x0100), 0x8030);
  EXPECT_EQ(response.FindUS(0x0000, 0x0120), messageID);
  EXPECT_EQ(response.FindUS(0x0000, 0x0900), 0);

  EXPECT_TRUE(service.ReleaseAssociation());
  EXPECT_EQ(service.releaseRP.ItemType, 0x06) << "the peer answered the release";
  EXPECT_FALSE(service.Link.dsocket().Connected());
  std::vector<std::string> expected;
  if (maxPdu > 16384) {
    expected.push_back("INFO, PDU_Service::Write, MaxiumLength set to 16384");
  }
  EXPECT_EQ(log.Messages(), expected);
}

TEST_P(StorescpTest, ObjectLargerThanThePduIsStored) {
  const int maxPdu = GetParam();
  StoreScp peer(maxPdu, folder_.folder());
  ASSERT_TRUE(peer.Running());
  const std::string sopClass = "1.2.840.10008.5.1.4.1.1.7";
  const std::string sopInstance = "1.2.826.0.1.3680043.2.1143.99";
  PDU_Service service;
  ASSERT_TRUE(service.OpenAssociation("127.0.0.1", peer.PortText(), "QUILLBROOK", "STORESCP", sopClass, 10));

  DcmObj data;
  data.PutText(0x0008, 0x0016, sopClass);
  data.PutText(0x0008, 0x0018, sopInstance);
  data.PutText(0x0010, 0x0010, "DOE^JOHN");
  std::vector<std::uint8_t> bytes(40000, 0x5A);
  data.Put(DcmTag::FromBytes(0x0009, 0x1000, static_cast<std::uint32_t>(bytes.size()), bytes.data(), "OB"));

  const auto even = [](const std::string &uid) { return static_cast<std::uint32_t>(uid.size() + uid.size() % 2); };
  DcmObj command;
  command.Put(DcmTag::FromUL(0x0000, 0x0000, 48 + even(sopClass) + 8 + even(sopInstance)));
  command.PutText(0x0000, 0x0002, sopClass);
  command.Put(DcmTag::FromUS(0x0000, 0x0100, 0x0001));
  command.Put(DcmTag::FromUS(0x0000, 0x0110, IdCounter::MessageID()));
  command.Put(DcmTag::FromUS(0x0000, 0x0700, 0));
  command.Put(DcmTag::FromUS(0x0000, 0x0800, 0x0102));
  command.PutText(0x0000, 0x1000, sopInstance);
  ASSERT_TRUE(service.Write(command, true));
  ASSERT_TRUE(service.Write(data, false));
  DcmObj response;
  ASSERT_TRUE(service.Read(response));
  EXPECT_EQ(response.FindUS(0x0000, 0x0100), 0x8001);
  EXPECT_EQ(response.FindUS(0x0000, 0x0900), 0);
  EXPECT_TRUE(service.ReleaseAssociation());

  std::vector<std::filesystem::path> stored;
  for (const auto &entry : std::filesystem::directory_iterator(folder_.folder())) {
    stored.push_back(entry.path());
  }
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored[0].filename().string().find(sopInstance), std::string::npos);
  EXPECT_GT(std::filesystem::file_size(stored[0]), 40000u);
}

INSTANTIATE_TEST_SUITE_P(PeerMaximumLengths, StorescpTest, ::testing::Values(4096, 16384, 131072),
                         [](const auto &info) { return "MaxPdu" + std::to_string(info.param); });

} // namespace
} // namespace fw
