// UIDs: the unique base UID of an acquisition, the UID syntax check, the
// machine number chosen among the network adapters, and the UID tables.
#include "dicom/Uids.h"
#include "dicom/MachineNumber.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace fw {
namespace {

Uuid UuidOf(std::string_view hex) {
  Uuid uuid{};
  std::size_t n = 0;
  for (std::size_t i = 0; i + 1 < hex.size() && n < uuid.size();) {
    if (hex[i] == '-') {
      ++i;
      continue;
    }
    uuid[n++] = static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    i += 2;
  }
  return uuid;
}

TEST(UuidDecimalTest, TheUuidAsOneUnsignedNumber) {
  const struct {
    const char *uuid;
    const char *decimal;
  } cases[] = {
      {"00000000-0000-0000-0000-000000000000", "0"},
      {"00000000-0000-0000-0000-000000000001", "1"},
      {"00000000-0000-0000-0000-00000000000a", "10"},
      {"00000000-0000-0001-0000-000000000000", "18446744073709551616"},                    // a carry across 64 bits
      {"f81d4fae-7dec-11d0-a765-00a0c91e6bf6", "329800735698586629295641978511506172918"}, // PS3.5 B.2
      {"ffffffff-ffff-ffff-ffff-ffffffffffff", "340282366920938463463374607431768211455"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(UuidDecimal(UuidOf(c.uuid)), c.decimal) << c.uuid;
  }
}

RandomBytes FilledWith(std::uint8_t value) {
  return [value](std::span<std::uint8_t> bytes) {
    std::fill(bytes.begin(), bytes.end(), value);
    return true;
  };
}

TEST(MakeBaseUIDTest, IsARandomVersionFourUuidUnderTwoTwentyFive) {
  // Version and variant bits are set whatever the random bytes are.
  EXPECT_EQ(MakeBaseUID(FilledWith(0x00)), "2.25.302240678275694148452352");
  EXPECT_EQ(MakeBaseUID(FilledWith(0xFF)), "2.25.340282366920937632322261936355783213055");
  const Uuid uuid = NewUuid(KernelRandomBytes);
  EXPECT_EQ(uuid[6] >> 4, 4);
  EXPECT_EQ(uuid[8] >> 6, 2);
}

TEST(MakeBaseUIDTest, ManyInARowAreValidDistinctAndLeaveRoomForInstanceNumbers) {
  std::set<std::string> seen;
  for (int i = 0; i < 20000; ++i) {
    const std::string uid = MakeBaseUID();
    ASSERT_TRUE(seen.insert(uid).second) << "repeated: " << uid;
    ASSERT_TRUE(IsValidUID(uid)) << uid;
    ASSERT_LE(uid.size(), 44u) << uid;
    ASSERT_TRUE(IsValidUID(uid + ".10." + std::to_string(INT32_MAX))) << uid;
  }
}

TEST(MakeBaseUIDTest, WithoutRandomBytesTheUuidIsTimeBasedAndStillUnique) {
  const RandomBytes none = [](std::span<std::uint8_t>) { return false; };
  std::set<std::string> seen;
  for (int i = 0; i < 5000; ++i) {
    const Uuid uuid = NewUuid(none);
    ASSERT_EQ(uuid[6] >> 4, 1); // version 1
    ASSERT_EQ(uuid[8] >> 6, 2);
    const std::string uid = "2.25." + UuidDecimal(uuid);
    ASSERT_TRUE(IsValidUID(uid)) << uid;
    ASSERT_TRUE(seen.insert(uid).second) << "repeated: " << uid;
  }
  EXPECT_TRUE(seen.insert(MakeBaseUID(none)).second);
  EXPECT_TRUE(seen.insert(MakeBaseUID(RandomBytes{})).second);
}

TEST(IsValidUIDTest, ComponentsOfDigitsWithoutLeadingZeros) {
  const struct {
    std::string uid;
    bool valid;
  } cases[] = {
      {"1.2.840.10008.1.2", true},
      {"2.25.0", true},
      {"0", true},
      {std::string(64, '1'), true},
      {std::string(65, '1'), false},
      {"", false},
      {"1..2", false},
      {"1.2.", false},
      {".1.2", false},
      {"1.02", false},
      {"1.2a", false},
      {"1.2 ", false},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(IsValidUID(c.uid), c.valid) << "\"" << c.uid << "\"";
  }
}

TEST(UidsTest, UIDName) {
  EXPECT_EQ(UIDName("1.2.840.10008.1.2.4.50"), "JPEG BaseLine Lossy ");
  EXPECT_EQ(UIDName("1.2.840.10008.1.2"), "Little Endian Implicit VR");
  EXPECT_EQ(UIDName("1.2.840.10008.5.1.4.1.1.7"), "Secondary Capture Image Storage");
  EXPECT_EQ(UIDName("1.2.840.10008.5.1.4.1.1.11.3"), "Pseudo Color Softcopy Presentation StateStorage");
  EXPECT_EQ(UIDName("1.2.840.10008.5.1.1.30"), "Hardcopy Color Image StorageSOP Class (Retired)");
  EXPECT_EQ(UIDName("1.2.840.10008.1.2.4.100"), "");
  EXPECT_EQ(UIDName("1.2.840.10008.5.1.4.1.1.13.1.2"), "");
  EXPECT_EQ(UIDName("1.2.840.10008.1.2 "), ""); // whole, exact comparison
  EXPECT_EQ(UIDName(""), "");
}

TEST(UidsTest, IsImageStorageClass) {
  EXPECT_TRUE(IsImageStorageClass("1.2.840.10008.5.1.4.1.1.13.1.2"));
  EXPECT_TRUE(IsImageStorageClass("1.2.840.10008.5.1.4.1.1.7"));
  EXPECT_TRUE(IsImageStorageClass("1.2.840.10008.5.1.4.1.1.77.1.1.1"));
  EXPECT_TRUE(IsImageStorageClass("1.2.840.10008.5.1.1.29"));
  EXPECT_FALSE(IsImageStorageClass("1.2.840.10008.5.1.4.1.1.104.1"));
  EXPECT_FALSE(IsImageStorageClass("1.2.840.10008.5.1.4.1.1.88.11"));
  EXPECT_FALSE(IsImageStorageClass("1.2.840.10008.5.1.4.1.1.7.5"));
  EXPECT_FALSE(IsImageStorageClass("1.2.840.10008.5.1.4.1.1"));
  EXPECT_FALSE(IsImageStorageClass(""));
}

TEST(UidsTest, IsSupportedTransferSyntax) {
  for (const char *uid : {"1.2.840.10008.1.2", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.2", "1.2.840.10008.1.2.4.70",
                          "1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.4.51", "1.2.840.10008.1.2.4.90",
                          "1.2.840.10008.1.2.4.91", "1.2.840.10008.1.2.4.100", "1.2.840.10008.1.2.5",
                          "1.2.840.10008.1.2.1.99", "1.2.840.10008.1.2.4.80", "1.2.840.10008.1.2.4.81"}) {
    EXPECT_TRUE(IsSupportedTransferSyntax(uid)) << uid;
  }
  // Decoded only: converting to them would store native pixels under their label.
  for (const char *uid : {"1.2.840.10008.1.2.4.100", "1.2.840.10008.1.2.4.80", "1.2.840.10008.1.2.4.81"}) {
    EXPECT_FALSE(IsConversionTarget(uid)) << uid;
  }
  for (const char *uid : {"1.2.840.10008.1.2.5", "1.2.840.10008.1.2.1.99", "1.2.840.10008.1.2.4.50"}) {
    EXPECT_TRUE(IsConversionTarget(uid)) << uid;
  }
  for (const char *uid : {"1.2.840.10008.1.2.4.57", "1.2.840.10008.1.2.4.5", "1.2.840.10008.1.2.4.1000", ""}) {
    EXPECT_FALSE(IsSupportedTransferSyntax(uid)) << uid;
  }
}

TEST(UidsTest, Identity) {
  EXPECT_EQ(IMPLEMENTATION_CLASS_UID, std::string(UID_ROOT) + ".999");
  EXPECT_EQ(IMPLEMENTATION_CLASS_UID.size(), 30u);
  EXPECT_EQ(IMPLEMENTATION_VERSION_NAME, "Brindlemoor");
}

NetworkAdapter Adapter(const char *name, bool ethernet, std::vector<std::uint8_t> address) {
  return NetworkAdapter{name, ethernet, std::move(address)};
}

struct MachineCase {
  const char *name;
  std::vector<NetworkAdapter> adapters;
  unsigned expected;
};

// ctest shows the case by its name.
void PrintTo(const MachineCase &c, std::ostream *os) { *os << c.name; }

class MachineNumberTest : public ::testing::TestWithParam<MachineCase> {};

TEST_P(MachineNumberTest, ChoosesTheAdapter) { EXPECT_EQ(MachineNumberOf(GetParam().adapters), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Cases, MachineNumberTest,
    ::testing::Values(MachineCase{"NoAdapters", {}, 0},
                      MachineCase{"VpnPassedOver",
                                  {Adapter("Cisco VPN Adapter", true, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}),
                                   Adapter("eth0", true, {0x00, 0x1B, 0xB2, 0xB3, 0xB4, 0xB5})},
                                  (0xB2B3B4B5u) % 65535},
                      MachineCase{"VpnIsCaseSensitive", {Adapter("vpn0", true, {0, 0, 0, 0, 0x01, 0x02})}, 0x0102},
                      MachineCase{"SmallAddress", {Adapter("eth0", true, {0x00, 0x00, 0x00, 0x00, 0x01, 0x00})}, 256},
                      MachineCase{"FoldsToAMultipleOf65535",
                                  {Adapter("eth0", true, {0x12, 0x34, 0x00, 0x00, 0xFF, 0xFF}),
                                   Adapter("eth1", true, {0, 0, 0, 0, 0, 5})},
                                  0},
                      MachineCase{"ZeroAddressPassedOver",
                                  {Adapter("eth0", true, {0x12, 0x34, 0x00, 0x00, 0x00, 0x00}),
                                   Adapter("eth1", true, {0, 0, 0, 0, 0, 5})},
                                  5},
                      MachineCase{"OnlyEthernetCounts",
                                  {Adapter("wlan-like", false, {0, 0, 0, 0, 0, 9}), Adapter("lo", false, {}),
                                   Adapter("eth1", true, {0, 0, 0, 0, 0, 5})},
                                  5},
                      MachineCase{"LongAddressKeepsTheLastFourBytes",
                                  {Adapter("ib0", true, {0xAA, 0xBB, 0xCC, 0xDD, 0x00, 0x00, 0x00, 0x07})},
                                  7},
                      MachineCase{"ShortAddress", {Adapter("eth0", true, {0x01, 0x02})}, 0x0102}),
    [](const ::testing::TestParamInfo<MachineCase> &info) { return std::string(info.param.name); });

TEST(UidsTest, FoldedAddress) {
  EXPECT_EQ(FoldedAddress({}), 0u);
  EXPECT_EQ(FoldedAddress({0x00, 0x1B, 0xB2, 0xB3, 0xB4, 0xB5}), 0xB2B3B4B5u);
  EXPECT_EQ(FoldedAddress({0x01, 0x02, 0x03}), 0x010203u);
}

// This machine's interfaces as sysfs shows them, in index order: a second,
// independent reading to hold the getifaddrs one against.
std::vector<NetworkAdapter> AdaptersFromSysfs() {
  struct Found {
    int index;
    NetworkAdapter adapter;
  };
  std::vector<Found> found;
  for (const auto &entry : std::filesystem::directory_iterator("/sys/class/net")) {
    int index = 0;
    unsigned type = 0;
    std::string address;
    std::ifstream(entry.path() / "ifindex") >> index;
    std::ifstream(entry.path() / "type") >> type;
    std::ifstream(entry.path() / "address") >> address;
    NetworkAdapter adapter;
    adapter.description = entry.path().filename().string();
    adapter.ethernet = type == 1;
    for (std::size_t at = 0; at + 2 <= address.size(); at += 3) {
      adapter.hardwareAddress.push_back(static_cast<std::uint8_t>(std::stoul(address.substr(at, 2), nullptr, 16)));
    }
    found.push_back({index, adapter});
  }
  std::sort(found.begin(), found.end(), [](const Found &x, const Found &y) { return x.index < y.index; });
  std::vector<NetworkAdapter> adapters;
  for (const Found &f : found) {
    adapters.push_back(f.adapter);
  }
  return adapters;
}

// Every Linux machine has at least the loopback interface, so the list is
// never legitimately empty; names, types and addresses match sysfs.
TEST(UidsTest, ListsThisMachinesAdapters) {
  const std::vector<NetworkAdapter> expected = AdaptersFromSysfs();
  const std::vector<NetworkAdapter> adapters = ListNetworkAdapters();
  ASSERT_FALSE(adapters.empty());
  ASSERT_EQ(adapters.size(), expected.size());
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    SCOPED_TRACE(expected[i].description);
    EXPECT_EQ(adapters[i].description, expected[i].description);
    EXPECT_EQ(adapters[i].ethernet, expected[i].ethernet);
    EXPECT_EQ(adapters[i].hardwareAddress, expected[i].hardwareAddress);
  }
  EXPECT_EQ(GetMachineNumber(), MachineNumberOf(expected));
}

} // namespace
} // namespace fw
