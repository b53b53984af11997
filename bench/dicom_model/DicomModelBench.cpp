// Data model speed: LookupVR over a mix of known and unknown tags (the decoder
// looks up every element it reads in implicit VR), and building a data set of
// 10,000 elements with Put in ascending order.
#include "dicom/DataDictionary.h"
#include "dicom/DcmObj.h"
#include "dicom/DcmTag.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

// Every second tag is a dictionary row, the others are private or absent
// tags, shuffled so the branch predictor cannot learn the order.
std::vector<fw::DcmTag> MixedTags(std::size_t count) {
  std::mt19937 random(20240309);
  std::vector<fw::DcmTag> tags(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (i % 2 == 0) {
      const fw::DictionaryEntry &row = fw::DataDictionary[random() % fw::DataDictionaryRows];
      tags[i].group = row.group;
      tags[i].element = row.element;
    } else {
      tags[i].group = static_cast<std::uint16_t>((random() % 0x4000) * 2 + 1); // odd: private
      tags[i].element = static_cast<std::uint16_t>(random());
      if (i % 4 == 1) {
        tags[i].group = static_cast<std::uint16_t>(tags[i].group - 1); // even group, mostly unknown
      }
    }
  }
  std::shuffle(tags.begin(), tags.end(), random);
  return tags;
}

void BM_LookupVR(benchmark::State &state) {
  std::vector<fw::DcmTag> tags = MixedTags(4096);
  std::size_t i = 0;
  for (auto _ : state) {
    fw::DcmTag &t = tags[i++ & 4095];
    fw::LookupVR(t);
    benchmark::DoNotOptimize(t.vr);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupVR);

void BM_LookupName(benchmark::State &state) {
  std::vector<fw::DcmTag> tags = MixedTags(4096);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(fw::LookupName(tags[i++ & 4095]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupName);

// Put of n two-byte elements in ascending tag order into an empty data set.
void BM_PutAscending(benchmark::State &state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  const std::uint8_t value[2] = {1, 0};
  for (auto _ : state) {
    fw::DcmObj set;
    for (std::uint32_t i = 0; i < count; ++i) {
      const auto group = static_cast<std::uint16_t>(0x0008 + 2 * (i / 0x8000));
      const auto element = static_cast<std::uint16_t>(1 + i % 0x8000);
      set.Put(fw::DcmTag::FromBytes(group, element, 2, value, "US"));
    }
    benchmark::DoNotOptimize(set.Count());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_PutAscending)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
