// PS3.8 9.3.1 PDU and item types
// Type codes of the association PDUs and of their items, and where each item
// lives. All multi-byte integers on the wire are big-endian.
//
//   A-ASSOCIATE-RQ (0x01)               A-ASSOCIATE-AC (0x02)
//   ├─ application context  0x10        ├─ application context  0x10
//   ├─ presentation context 0x20 (1..n) ├─ presentation context 0x21 (1..n)
//   │  ├─ abstract syntax   0x30        │  └─ transfer syntax   0x40
//   │  └─ transfer syntax   0x40 (1..n) └─ user information    0x50
//   └─ user information     0x50           (same sub-items)
//      ├─ maximum length            0x51   MaxSubLength
//      ├─ implementation class UID  0x52   ImpClass
//      ├─ async operations window   0x53   AsyncOpWindow (read only)
//      ├─ SCP/SCU role selection    0x54   SCPSCURole (read only)
//      └─ implementation version    0x55   ImpVersion
//
//   A-ASSOCIATE-RJ 0x03, P-DATA-TF 0x04, A-RELEASE-RQ 0x05, A-RELEASE-RP 0x06,
//   A-ABORT 0x07: fixed fields only.
//
// A PDU header is type (1), reserved (1), length (4); an item or sub-item
// header is type (1), reserved (1), length (2). Lengths count the bytes after
// the header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fw {

// The DICOM application context name (PS3.7 Annex A.2.1), the only one there is.
inline constexpr const char *APPLICATION_CONTEXT_NAME = "1.2.840.10008.3.1.1.1";

inline constexpr std::uint8_t PDU_ASSOCIATE_RQ = 0x01;
inline constexpr std::uint8_t PDU_ASSOCIATE_AC = 0x02;
inline constexpr std::uint8_t PDU_ASSOCIATE_RJ = 0x03;
inline constexpr std::uint8_t PDU_DATA_TF = 0x04;
inline constexpr std::uint8_t PDU_RELEASE_RQ = 0x05;
inline constexpr std::uint8_t PDU_RELEASE_RP = 0x06;
inline constexpr std::uint8_t PDU_ABORT = 0x07;

inline constexpr std::uint8_t ITEM_APPLICATION_CONTEXT = 0x10;
inline constexpr std::uint8_t ITEM_PRESENTATION_CONTEXT_RQ = 0x20;
inline constexpr std::uint8_t ITEM_PRESENTATION_CONTEXT_AC = 0x21;
inline constexpr std::uint8_t ITEM_ABSTRACT_SYNTAX = 0x30;
inline constexpr std::uint8_t ITEM_TRANSFER_SYNTAX = 0x40;
inline constexpr std::uint8_t ITEM_USER_INFORMATION = 0x50;
inline constexpr std::uint8_t ITEM_MAXIMUM_LENGTH = 0x51;
inline constexpr std::uint8_t ITEM_IMPLEMENTATION_CLASS = 0x52;
inline constexpr std::uint8_t ITEM_ASYNC_OPERATIONS_WINDOW = 0x53;
inline constexpr std::uint8_t ITEM_ROLE_SELECTION = 0x54;
inline constexpr std::uint8_t ITEM_IMPLEMENTATION_VERSION = 0x55;

// Bytes after the PDU length in A-ASSOCIATE-RQ/AC before the first item:
// protocol version (2), reserved (2), two AE titles (16 each), reserved (32).
inline constexpr std::uint32_t ASSOCIATE_FIXED_LENGTH = 68;
// Presentation context IDs are odd bytes: at most 128 contexts per PDU.
inline constexpr std::size_t MAX_PRESENTATION_CONTEXTS = 128;

} // namespace fw
