// MachineNumber: the 16-bit number of this workstation that goes into every UID
// it mints, derived from the hardware address of its first wired network
// adapter. The adapter list is a parameter so tests can give their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fw {

struct NetworkAdapter {
  // The interface name (what a description is elsewhere).
  std::string description;
  bool ethernet = false;
  std::vector<std::uint8_t> hardwareAddress;
};

// The adapters in interface index order: getifaddrs for the hardware
// addresses, /sys/class/net/<name>/type (1 = Ethernet) for the type. Empty
// when the list cannot be obtained.
std::vector<NetworkAdapter> ListNetworkAdapters();

// The hardware address folded into 32 bits: each byte shifted in from the
// right, so a 6-byte MAC address leaves its last four bytes, big-endian.
std::uint32_t FoldedAddress(const std::vector<std::uint8_t> &address);

// The folded address modulo 65535 of the first adapter that is Ethernet, whose
// description does not contain "VPN" and whose folded address is not 0; 0 when
// none qualifies.
unsigned MachineNumberOf(const std::vector<NetworkAdapter> &adapters);

// MachineNumberOf the adapters of this machine.
unsigned GetMachineNumber();

} // namespace fw
