// Vertical 1-2-1 smoothing with BGR to RGB reordering; AVX2 or SSSE3 with a
// runtime check, so the program does not depend on the build machine's processor.
#include "acquisition/FrameFilter.h"

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define FW_FILTER_X86 1
#endif

namespace fw {
namespace {

void FilterRowScalar(const std::uint8_t *above, const std::uint8_t *row, const std::uint8_t *below, int width,
                     std::uint8_t *out) {
  for (int c = 0; c < width; ++c) {
    const int i = c * 3;
    for (int k = 0; k < 3; ++k) {
      // Output byte k takes source byte 2 - k: BGR becomes RGB.
      const int s = i + 2 - k;
      out[i + k] = static_cast<std::uint8_t>((above[s] + 2 * row[s] + below[s]) / 4);
    }
  }
}

#ifdef FW_FILTER_X86
// floor((x + y) / 2) per byte: pavgb rounds up, so take back the odd bit.
__attribute__((target("ssse3"))) inline __m128i FloorAverage(__m128i x, __m128i y) {
  const __m128i one = _mm_set1_epi8(1);
  return _mm_sub_epi8(_mm_avg_epu8(x, y), _mm_and_si128(_mm_xor_si128(x, y), one));
}

// floor((a + 2b + c) / 4) equals floor((floor((a + c) / 2) + b) / 2) for
// integers, so the blend stays in 8 bits. Each step takes 16 bytes and keeps
// the first 15 (five whole pixels), whose colours pshufb reverses.
__attribute__((target("ssse3"))) void FilterRowSsse3(const std::uint8_t *above, const std::uint8_t *row,
                                                     const std::uint8_t *below, int width, std::uint8_t *out) {
  const int bytes = width * 3;
  const __m128i reverse = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, -1);
  int o = 0;
  for (; o + 16 <= bytes; o += 15) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(above + o));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + o));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(below + o));
    const __m128i blend = FloorAverage(b, FloorAverage(a, c));
    // Byte 15 is written as 0 and overwritten by the next step or the tail.
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + o), _mm_shuffle_epi8(blend, reverse));
  }
  const int done = o / 3;
  FilterRowScalar(above + o, row + o, below + o, width - done, out + o);
}

__attribute__((target("avx2"))) inline __m256i FloorAverage(__m256i x, __m256i y) {
  const __m256i one = _mm256_set1_epi8(1);
  return _mm256_sub_epi8(_mm256_avg_epu8(x, y), _mm256_and_si256(_mm256_xor_si256(x, y), one));
}

// Bytes o .. o+15 in the low lane and o+15 .. o+30 in the high lane: each
// lane holds five whole pixels where pshufb can reach them.
__attribute__((target("avx2"))) inline __m256i LoadTwoSteps(const std::uint8_t *at) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(at))),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 15)), 1);
}

// Two SSSE3 steps at once: ten pixels per step, the rest as above.
__attribute__((target("avx2"))) void FilterRowAvx2(const std::uint8_t *above, const std::uint8_t *row,
                                                   const std::uint8_t *below, int width, std::uint8_t *out) {
  const int bytes = width * 3;
  const __m256i reverse = _mm256_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, -1, 2, 1, 0, 5, 4, 3, 8, 7,
                                           6, 11, 10, 9, 14, 13, 12, -1);
  int o = 0;
  for (; o + 31 <= bytes; o += 30) {
    const __m256i blend =
        FloorAverage(LoadTwoSteps(row + o), FloorAverage(LoadTwoSteps(above + o), LoadTwoSteps(below + o)));
    const __m256i rgb = _mm256_shuffle_epi8(blend, reverse);
    // The low lane's byte 15 is written as 0 and overwritten by the high lane.
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + o), _mm256_castsi256_si128(rgb));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + o + 15), _mm256_extracti128_si256(rgb, 1));
  }
  const int done = o / 3;
  FilterRowSsse3(above + o, row + o, below + o, width - done, out + o);
}

bool DetectSsse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}

bool DetectAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
#endif

using RowFunction = void (*)(const std::uint8_t *, const std::uint8_t *, const std::uint8_t *, int, std::uint8_t *);

// Output rows first .. first+count-1 of the filtered frame, packed from
// output on; every row depends only on its source neighbours, so any range
// equals the same rows of a whole-frame pass.
void FilterWith(RowFunction filterRow, const std::uint8_t *source, std::size_t stride, int width, int height, int first,
                int count, std::uint8_t *output) {
  if (width <= 0 || height <= 0 || first < 0 || count <= 0 || first >= height) {
    return;
  }
  const int last = std::min(height, first + count) - 1;
  const std::size_t outStride = static_cast<std::size_t>(width) * 3;
  auto in = [&](int r) { return source + static_cast<std::size_t>(r) * stride; };
  auto out = [&](int r) { return output + static_cast<std::size_t>(r - first) * outStride; };
  for (int r = first; r <= last; ++r) {
    // Rows 0 and height-1: the picture line itself (a blend of a row with
    // itself is the row).
    if (r == 0 || r == height - 1) {
      filterRow(in(r), in(r), in(r), width, out(r));
    } else {
      filterRow(in(r - 1), in(r), in(r + 1), width, out(r));
    }
  }
}

} // namespace

bool FrameFilterUsesSsse3() {
#ifdef FW_FILTER_X86
  static const bool has = DetectSsse3();
  return has;
#else
  return false;
#endif
}

bool FrameFilterUsesAvx2() {
#ifdef FW_FILTER_X86
  static const bool has = DetectAvx2();
  return has;
#else
  return false;
#endif
}

void FilterFrameToRgbScalar(const std::uint8_t *source, std::size_t stride, int width, int height,
                            std::uint8_t *output) {
  FilterWith(FilterRowScalar, source, stride, width, height, 0, height, output);
}

void FilterRowsToRgb(const std::uint8_t *source, std::size_t stride, int width, int height, int firstRow, int rowCount,
                     std::uint8_t *output) {
#ifdef FW_FILTER_X86
  if (FrameFilterUsesAvx2()) {
    FilterWith(FilterRowAvx2, source, stride, width, height, firstRow, rowCount, output);
    return;
  }
  if (FrameFilterUsesSsse3()) {
    FilterWith(FilterRowSsse3, source, stride, width, height, firstRow, rowCount, output);
    return;
  }
#endif
  FilterWith(FilterRowScalar, source, stride, width, height, firstRow, rowCount, output);
}

void FilterFrameToRgb(const std::uint8_t *source, std::size_t stride, int width, int height, std::uint8_t *output) {
  FilterRowsToRgb(source, stride, width, height, 0, height, output);
}

} // namespace fw
