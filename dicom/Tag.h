// Tag: the (group, element) number of a data element, as a value.
//
// The named ones are in Tags.h (fw::tag::PatientName, ...); functions that
// take a group and an element take a Tag too, so a call site writes
// FindText(tag::PatientName) instead of the two numbers.
#pragma once

#include <cstdint>

namespace fw {

struct Tag {
  std::uint16_t group = 0;
  std::uint16_t element = 0;

  // Group and element as one number that orders tags as DICOM does.
  constexpr std::uint32_t Key() const { return std::uint32_t{group} << 16 | element; }
  friend constexpr bool operator==(Tag, Tag) = default;
};

} // namespace fw
