// Machine number from the network adapters (Linux: getifaddrs and sysfs).
#include "dicom/MachineNumber.h"

#include <algorithm>
#include <fstream>
#include <string_view>

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if_arp.h>
#include <sys/socket.h>

namespace fw {

namespace {

// ARPHRD_* link type of the interface from sysfs, or the one getifaddrs gave.
unsigned LinkType(const std::string &name, unsigned fallback) {
  std::ifstream file("/sys/class/net/" + name + "/type");
  unsigned type = 0;
  if (file >> type) {
    return type;
  }
  return fallback;
}

} // namespace

std::vector<NetworkAdapter> ListNetworkAdapters() {
  ifaddrs *list = nullptr;
  if (getifaddrs(&list) != 0) {
    return {};
  }
  struct Found {
    int index;
    NetworkAdapter adapter;
  };
  std::vector<Found> found;
  for (const ifaddrs *a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_PACKET || a->ifa_name == nullptr) {
      continue;
    }
    const auto *link = reinterpret_cast<const sockaddr_ll *>(a->ifa_addr);
    const std::size_t length = std::min<std::size_t>(link->sll_halen, sizeof(link->sll_addr));
    NetworkAdapter adapter;
    adapter.description = a->ifa_name;
    adapter.ethernet = LinkType(adapter.description, link->sll_hatype) == ARPHRD_ETHER;
    adapter.hardwareAddress.assign(link->sll_addr, link->sll_addr + length);
    found.push_back({link->sll_ifindex, std::move(adapter)});
  }
  freeifaddrs(list);
  std::stable_sort(found.begin(), found.end(), [](const Found &x, const Found &y) { return x.index < y.index; });
  std::vector<NetworkAdapter> adapters;
  adapters.reserve(found.size());
  for (auto &f : found) {
    adapters.push_back(std::move(f.adapter));
  }
  return adapters;
}

std::uint32_t FoldedAddress(const std::vector<std::uint8_t> &address) {
  std::uint32_t value = 0;
  for (const std::uint8_t byte : address) {
    value = (value << 8) + byte;
  }
  return value;
}

unsigned MachineNumberOf(const std::vector<NetworkAdapter> &adapters) {
  for (const NetworkAdapter &adapter : adapters) {
    if (!adapter.ethernet || adapter.description.find("VPN") != std::string::npos) {
      continue;
    }
    const std::uint32_t folded = FoldedAddress(adapter.hardwareAddress);
    if (folded != 0) {
      return folded % 65535;
    }
  }
  return 0;
}

unsigned GetMachineNumber() { return MachineNumberOf(ListNetworkAdapters()); }

} // namespace fw
