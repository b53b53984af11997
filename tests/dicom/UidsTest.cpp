// UIDs: the base UID of an acquisition, the machine number chosen among the
// network adapters, and the UID tables.
#include "dicom/Uids.h"
#include "dicom/MachineNumber.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace fw {
namespace {

struct BaseUidCase {
  const char *name;
  std::string machine, patient, accession, date, time, suffix, prefix;
  std::string expected;
};

// ctest shows the case by its name.
void PrintTo(const BaseUidCase &c, std::ostream *os) { *os << c.name; }

class MakeBaseUIDTest : public ::testing::TestWithParam<BaseUidCase> {};

TEST_P(MakeBaseUIDTest, ComposesAndCleans) {
  const BaseUidCase &c = GetParam();
  EXPECT_EQ(MakeBaseUID(c.machine, c.patient, c.accession, c.date, c.time, c.suffix, c.prefix), c.expected);
}

const std::string R = "2.25.739104652811350928774.";

INSTANTIATE_TEST_SUITE_P(
    Cases, MakeBaseUIDTest,
    ::testing::Values(
        BaseUidCase{"WorkedExample", "1234", "PID-007", "A12345", "20090315", "143005", "1", "16",
                    R + "161234.23450007.1903151430.1"},
        BaseUidCase{"EmptyPatientGivesEmpty", "1234", "", "A12345", "20090315", "143005", "1", "16", ""},
        BaseUidCase{"ShortPatientUsedWhole", "7", "42", "", "20240309", "081500", "1", "16", R + "167.42.2403090815.1"},
        BaseUidCase{"ShortAccessionUsedWholeUntrimmed", "7", "1234", " 98", "20240309", "081500", "1", "16",
                    R + "167.5981234.2403090815.1"}, // the space (32) becomes 5
        BaseUidCase{"LettersBecomeDigits", "7", "AZ", "", "20240309", "081500", "1", "16",
                    R + "167.20.2403090815.1"}, // A = 65 -> 2, Z = 90 -> 0
        BaseUidCase{"HighBytesBecomeDigits", "7", "\xD1\xFF", "", "20240309", "081500", "1", "16",
                    R + "167.23.2403090815.1"}, // 209 -> 2, 255 -> 3
        BaseUidCase{"ZeroAfterDotBecomesOne", "0", "0007", "", "20090315", "093005", "1", "16",
                    R + "160.1007.1903150930.1"},
        BaseUidCase{"MachineNumberTrimmedAndLongSuffixCut", " 65534 ", "12345", "", "20240309", "1200", "ab12345", "16",
                    R + "1665534.2345.2403091200.2345"},
        BaseUidCase{"TrimmedParts", "1", "  12  ", "  A12345  ", "20240309", " 9 ", "  2 ", "", R + "1.4512.2403099.2"},
        BaseUidCase{"DotsInInputsLeaveNoEmptyComponent", "1", "ID.", "", "20240309", "120000", "", "16",
                    R + "161.15.124030912001"}), // "ID.", "." and the closing "." of an empty suffix
    [](const ::testing::TestParamInfo<BaseUidCase> &info) { return std::string(info.param.name); });

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
