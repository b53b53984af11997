// The same work as the codec entry points, done with the bare library calls
// a program would write without them, as the benchmark's yardstick. Each
// library lives in its own translation unit, as in the codec library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bare {

// libjpeg-turbo: quality 90 baseline, 1x1 sampling, into jpeg_mem_dest.
std::size_t TurboEncode(int width, int height, int components, const std::uint8_t *samples,
                        std::vector<std::uint8_t> &output);
// libjpeg-turbo from jpeg_mem_src straight into the destination rows.
bool TurboDecode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination);

// IJG 16-bit build: lossless predictor 1 from 16-bit words as they lie in
// memory, into a buffer that is large enough.
std::size_t Ijg16Encode(int width, int height, const std::uint8_t *samples, std::vector<std::uint8_t> &output);
bool Ijg16Decode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination);

} // namespace bare
