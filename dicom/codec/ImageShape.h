// ImageShape: the size of a picture, as the codec entry points take it.
#pragma once

namespace fw {

// width x height pixels of `components` samples each (1 grey, 3 colour).
struct ImageShape {
  int width = 0;
  int height = 0;
  int components = 1;
};

} // namespace fw
