// Encoding speed: reading and writing DICOM files from and to memory, here
// and with DCMTK on the same bytes in the same run.
//
//   Multiframe  a 40 MB multi-frame JPEG Baseline file: 100 fragments of
//               400 KB of encapsulated pixel data (MB/s).
//   Elements    an explicit VR little endian data set of about 20,000 small
//               elements: a sequence of 900 items, each with ten elements and
//               a nested sequence of one item with eight (elements/s).
//
// Reads start from the file's bytes in memory and build the whole data set;
// writes encode a data set read before into an output buffer that is
// allocated once and reused by every iteration, on both sides. WriteFile
// saves the same data set to a file on disk each iteration (DcmObj::Write
// against DCMTK's saveFile), in $TMPDIR or /tmp: the page cache takes the
// bytes, nothing waits for the disk.
#include "bench/encoding/DcmtkSide.h"
#include "dicom/BufData.h"
#include "dicom/DcmCodec.h"
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr int FRAMES = 100;
constexpr std::uint32_t FRAME_BYTES = 400 * 1024;
constexpr int ITEMS = 900;

void PutCommon(fw::DcmObj &c) {
  c.PutText(0x0008, 0x0016, fw::VIDEO_ENDOSCOPIC_IMAGE_STORAGE);
  c.PutText(0x0008, 0x0018, "2.25.739104652811350928774.1.10.1");
  c.PutText(0x0008, 0x0020, "20240309");
  c.PutText(0x0008, 0x0030, "101500");
  c.PutText(0x0008, 0x0060, "ES");
  c.PutText(0x0010, 0x0010, "Doe^Jane");
  c.PutText(0x0010, 0x0020, "PID-007");
  c.PutText(0x0020, 0x000D, "2.25.739104652811350928774.1");
  c.PutText(0x0020, 0x000E, "2.25.739104652811350928774.1.20");
}

std::vector<std::uint8_t> FileOf(fw::DcmObj &c) {
  fw::BufData stream(false);
  c.WriteTo(stream);
  return stream.Release();
}

const std::vector<std::uint8_t> &MultiframeFile() {
  static const std::vector<std::uint8_t> file = [] {
    fw::DcmObj c;
    c.transferSyntax = std::string(fw::JPEG_BASELINE);
    c.explicitVR = true;
    PutCommon(c);
    c.PutText(0x0028, 0x0008, std::to_string(FRAMES));
    c.Put(fw::DcmTag::FromUS(0x0028, 0x0010, 480));
    c.Put(fw::DcmTag::FromUS(0x0028, 0x0011, 640));
    c.Append(fw::DcmTag::FromBytes(0x7FE0, 0x0010, fw::UNDEFINED_LENGTH, nullptr, "OB"));
    c.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL"));
    std::vector<std::uint8_t> frame(FRAME_BYTES);
    for (int f = 0; f < FRAMES; ++f) {
      for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(i * 31 + f);
      }
      frame[0] = 0xFF, frame[1] = 0xD8, frame[FRAME_BYTES - 2] = 0xFF, frame[FRAME_BYTES - 1] = 0xD9;
      c.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE000, FRAME_BYTES, frame.data(), "DL"));
    }
    c.Append(fw::DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
    return FileOf(c);
  }();
  return file;
}

const std::vector<std::uint8_t> &ElementsFile() {
  static const std::vector<std::uint8_t> file = [] {
    fw::DcmObj c;
    c.transferSyntax = std::string(fw::EXPLICIT_VR_LITTLE_ENDIAN);
    c.explicitVR = true;
    PutCommon(c);
    fw::DcmObj sequence;
    for (int i = 0; i < ITEMS; ++i) {
      fw::DcmObj code;
      code.PutText(0x0008, 0x0100, "T-" + std::to_string(i));
      code.PutText(0x0008, 0x0102, "SRT");
      code.PutText(0x0008, 0x0103, "1.4");
      code.PutText(0x0008, 0x0104, "Procedure code " + std::to_string(i));
      code.PutText(0x0008, 0x0105, "CID 4021");
      code.PutText(0x0008, 0x0106, "20240309");
      code.PutText(0x0008, 0x010F, "99TEST");
      code.Put(fw::DcmTag::FromUS(0x0008, 0x0117, static_cast<std::uint16_t>(i), "US"));
      fw::DcmObj codes;
      codes.InsertSequence(0xFFFE, 0xE000, code);
      fw::DcmObj item;
      item.PutText(0x0040, 0x0001, "STATION" + std::to_string(i % 7));
      item.PutText(0x0040, 0x0002, "20240309");
      item.PutText(0x0040, 0x0003, "101500");
      item.InsertSequence(0x0040, 0x0008, codes);
      item.PutText(0x0040, 0x0009, "SPS" + std::to_string(i));
      item.PutText(0x0040, 0x0010, "ROOM" + std::to_string(i % 3));
      item.PutText(0x0040, 0x0011, "Endoscopy");
      item.PutText(0x0040, 0x0012, "None");
      item.PutText(0x0040, 0x0020, "SCHEDULED");
      item.Put(fw::DcmTag::FromUS(0x0040, 0x0400, 1, "US"));
      item.PutText(0x0040, 0x0007, "Gastroscopy " + std::to_string(i));
      sequence.InsertSequence(0xFFFE, 0xE000, item);
    }
    c.InsertSequence(0x0040, 0x0100, sequence);
    return FileOf(c);
  }();
  return file;
}

// Entries of a data set, nested ones and container headers included, counted
// as DCMTK counts its objects.
std::size_t CountEntries(const fw::DcmObj &c) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < c.Count(); ++i) {
    ++count;
    if (const fw::DcmObj *n = c.ContainerAt(i)) {
      count += CountEntries(*n);
    }
  }
  return count;
}

void Report(benchmark::State &state, std::size_t bytes, std::size_t elements) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["elements/s"] =
      benchmark::Counter(static_cast<double>(elements), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["elements"] = static_cast<double>(elements);
}

// Reads as DcmObj::Read does: the file's bytes are taken over and large
// values stay views of them. Copying the bytes in is the file read's work, not
// the decoder's, so it is left out of the time.
void FwRead(benchmark::State &state, const std::vector<std::uint8_t> &file) {
  std::size_t elements = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<std::uint8_t> image = file;
    fw::DcmObj c;
    state.ResumeTiming();
    if (!c.ReadFrom(std::move(image))) {
      state.SkipWithError("read failed");
      return;
    }
    elements = CountEntries(c);
    benchmark::DoNotOptimize(c);
  }
  Report(state, file.size(), elements);
}

// Reads from a caller's stream, which cannot be shared: every value is copied.
void FwReadStream(benchmark::State &state, const std::vector<std::uint8_t> &file) {
  fw::BufData stream(file, false);
  std::size_t elements = 0;
  for (auto _ : state) {
    stream.Seek(0);
    fw::DcmObj c;
    if (!c.ReadFrom(stream)) {
      state.SkipWithError("read failed");
      return;
    }
    elements = CountEntries(c);
    benchmark::DoNotOptimize(c);
  }
  Report(state, file.size(), elements);
}

void FwWrite(benchmark::State &state, const std::vector<std::uint8_t> &file) {
  fw::BufData in(file, false);
  fw::DcmObj c;
  if (!c.ReadFrom(in)) {
    state.SkipWithError("read failed");
    return;
  }
  std::size_t written = 0;
  fw::BufData out(false);
  for (auto _ : state) {
    out.Clear(); // keeps the memory, as DCMTK's buffer is reused
    out.Reserve(file.size());
    c.WriteTo(out);
    written = out.Size();
    benchmark::DoNotOptimize(out.Bytes().data());
  }
  if (written != file.size()) {
    state.SkipWithError("written size differs");
  }
  Report(state, written, CountEntries(c));
}

void DcmtkRead(benchmark::State &state, const std::vector<std::uint8_t> &file) {
  bench::QuietDcmtk();
  std::size_t elements = 0;
  for (auto _ : state) {
    bench::DcmtkFile f;
    if (!f.Read(file)) {
      state.SkipWithError("DCMTK read failed");
      return;
    }
    state.PauseTiming();
    elements = f.CountElements();
    state.ResumeTiming();
  }
  Report(state, file.size(), elements);
}

void DcmtkWrite(benchmark::State &state, const std::vector<std::uint8_t> &file) {
  bench::QuietDcmtk();
  bench::DcmtkFile f;
  if (!f.Read(file)) {
    state.SkipWithError("DCMTK read failed");
    return;
  }
  std::vector<std::uint8_t> buffer(file.size() * 2 + 65536);
  std::size_t written = 0;
  for (auto _ : state) {
    written = f.Write(buffer);
    if (written == 0) {
      state.SkipWithError("DCMTK write failed");
      return;
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  Report(state, written, f.CountElements());
}

// A file on disk for the WriteFile cases, removed at exit.
const std::string &OutputPath() {
  static const struct Output {
    std::string path;
    Output() {
      std::error_code error;
      std::filesystem::path folder = std::filesystem::temp_directory_path(error);
      if (error) {
        folder = "/tmp";
      }
      path = (folder / ("bench_encoding_" + std::to_string(::getpid()) + ".dcm")).string();
    }
    ~Output() { std::remove(path.c_str()); }
  } output;
  return output.path;
}

void FwWriteFile(benchmark::State &state, const std::vector<std::uint8_t> &file) {
  fw::BufData in(file, false);
  fw::DcmObj c;
  if (!c.ReadFrom(in)) {
    state.SkipWithError("read failed");
    return;
  }
  const std::string &path = OutputPath();
  for (auto _ : state) {
    if (!c.Write(path)) {
      state.SkipWithError("write failed");
      return;
    }
  }
  std::error_code error;
  const auto written = std::filesystem::file_size(path, error);
  if (error || written != file.size()) {
    state.SkipWithError("written size differs");
  }
  Report(state, file.size(), CountEntries(c));
}

void DcmtkWriteFile(benchmark::State &state, const std::vector<std::uint8_t> &file) {
  bench::QuietDcmtk();
  bench::DcmtkFile f;
  if (!f.Read(file)) {
    state.SkipWithError("DCMTK read failed");
    return;
  }
  const std::string &path = OutputPath();
  for (auto _ : state) {
    if (!f.WriteFile(path)) {
      state.SkipWithError("DCMTK write failed");
      return;
    }
  }
  // DCMTK writes its own implementation UID and version name into the meta
  // information, so its file may differ from the original by a few bytes.
  std::error_code error;
  const auto written = std::filesystem::file_size(path, error);
  if (error || written + 256 < file.size() || written > file.size() + 256) {
    state.SkipWithError("DCMTK's file size differs");
  }
  Report(state, file.size(), f.CountElements());
}

void BM_Fw_Read_Multiframe(benchmark::State &s) { FwRead(s, MultiframeFile()); }
void BM_Dcmtk_Read_Multiframe(benchmark::State &s) { DcmtkRead(s, MultiframeFile()); }
void BM_Fw_ReadStream_Multiframe(benchmark::State &s) { FwReadStream(s, MultiframeFile()); }
void BM_Fw_Write_Multiframe(benchmark::State &s) { FwWrite(s, MultiframeFile()); }
void BM_Dcmtk_Write_Multiframe(benchmark::State &s) { DcmtkWrite(s, MultiframeFile()); }
void BM_Fw_WriteFile_Multiframe(benchmark::State &s) { FwWriteFile(s, MultiframeFile()); }
void BM_Dcmtk_WriteFile_Multiframe(benchmark::State &s) { DcmtkWriteFile(s, MultiframeFile()); }
void BM_Fw_Read_Elements(benchmark::State &s) { FwRead(s, ElementsFile()); }
void BM_Dcmtk_Read_Elements(benchmark::State &s) { DcmtkRead(s, ElementsFile()); }
void BM_Fw_Write_Elements(benchmark::State &s) { FwWrite(s, ElementsFile()); }
void BM_Dcmtk_Write_Elements(benchmark::State &s) { DcmtkWrite(s, ElementsFile()); }

BENCHMARK(BM_Fw_Read_Multiframe)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dcmtk_Read_Multiframe)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fw_ReadStream_Multiframe)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fw_Write_Multiframe)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dcmtk_Write_Multiframe)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fw_WriteFile_Multiframe)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Dcmtk_WriteFile_Multiframe)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Fw_Read_Elements)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dcmtk_Read_Elements)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fw_Write_Elements)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dcmtk_Write_Elements)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
