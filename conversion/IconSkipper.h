// IconSkipper: tells, while the top-level entries of a data set are walked in
// order, which elements belong to an Icon Image Sequence (0088,0200) of
// undefined length: the icon's own image attributes and pixel data must not be
// taken for the image's.
//
// The icon lasts from its sequence element to the delimiter that closes it:
// elements of undefined length (items, nested sequences, encapsulated pixel
// data) open a level, (FFFE,E00D) and (FFFE,E0DD) close one. Items the reader
// expanded into nested containers are passed over by the walk anyway.
#pragma once

#include "dicom/DcmTag.h"
#include "dicom/Tags.h"

namespace fw {

class IconSkipper {
public:
  // Call for each top-level element in order; true when it belongs to an icon
  // (the sequence element and its closing delimiter included).
  bool Skip(const DcmTag &t) {
    if (depth_ == 0) {
      if (t.Is(tag::IconImageSequence) && t.length == UNDEFINED_LENGTH) {
        depth_ = 1;
        return true;
      }
      return false;
    }
    if (t.group == 0xFFFE && (t.element == 0xE00D || t.element == 0xE0DD))
      --depth_;
    else if (t.length == UNDEFINED_LENGTH)
      ++depth_;
    return true;
  }

private:
  int depth_ = 0;
};

} // namespace fw
