// The file tools and files that are not what they claim: a deflated data set
// that inflates far beyond any image (made here, never committed), a clip cut
// short, native pixel data under an encapsulated label. Each tool refuses
// with exit 1 and says why, holding no more memory than the limit allows.
#include "dicom/BufData.h"
#include "dicom/DcmCodec.h"
#include "dicom/DcmFile.h"
#include "dicom/DcmObj.h"
#include "dicom/Uids.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char **environ;

namespace fw {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t MiB = std::size_t{1} << 20;

struct ToolRun {
  int status = -1;
  std::size_t peakBytes = 0; // the process's largest resident size
  std::string out;
  std::string err;
};

std::string FileText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the program with the arguments, its output in files of dir, and
// measures its peak resident size.
ToolRun RunTool(const std::string &program, const std::vector<std::string> &arguments, const test::TempDir &dir) {
  const std::string out = dir.folder() + "out.txt";
  const std::string err = dir.folder() + "err.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (std::string &w : words)
    argv.push_back(w.data());
  argv.push_back(nullptr);
  ToolRun run;
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0)
    return run;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid)
    return run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.peakBytes = static_cast<std::size_t>(usage.ru_maxrss) * 1024;
  run.out = FileText(out);
  run.err = FileText(err);
  return run;
}

// A deflated file whose data set holds an Encapsulated Document of payload
// zero bytes: a few hundred kilobytes on disk.
void WriteDeflatedFile(const std::string &path, std::size_t payload) {
  BufData plain(false);
  DcmObj ds;
  ds.transferSyntax = std::string(EXPLICIT_VR_LITTLE_ENDIAN);
  ds.explicitVR = true;
  ds.PutText(0x0008, 0x0016, SECONDARY_CAPTURE_IMAGE_STORAGE);
  ds.PutText(0x0008, 0x0018, "1.2.3.4.5");
  WriteObj(plain, ds);
  // The document's header; its zero bytes are fed to the compressor below.
  const std::uint8_t header[] = {0x42, 0x00, 0x11, 0x00, 'O', 'B', 0, 0};
  plain.WriteBytes(header, sizeof(header));
  plain.WriteUL(static_cast<std::uint32_t>(payload));
  BufData file(false);
  WriteMetaHeader(file, SECONDARY_CAPTURE_IMAGE_STORAGE, "1.2.3.4.5", DEFLATED_EXPLICIT_VR_LITTLE_ENDIAN);

  z_stream z{};
  ASSERT_EQ(deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(MiB);
  const Bytes zeros(MiB, 0);
  auto feed = [&](const std::uint8_t *bytes, std::size_t size, int flush) {
    z.next_in = const_cast<Bytef *>(bytes);
    z.avail_in = static_cast<uInt>(size);
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, flush);
      file.WriteBytes(out.data(), out.size() - z.avail_out);
    } while (z.avail_out == 0);
  };
  feed(plain.Bytes().data(), plain.Size(), Z_NO_FLUSH);
  for (std::size_t left = payload; left > 0;) {
    const std::size_t chunk = std::min(left, zeros.size());
    left -= chunk;
    feed(zeros.data(), chunk, left == 0 ? Z_FINISH : Z_NO_FLUSH);
  }
  deflateEnd(&z);
  ASSERT_TRUE(file.SaveToFile(path));
}

class DamagedFileToolTest : public testing::Test {
protected:
  std::string Path(const std::string &name) const { return dir_.folder() + name; }
  test::TempDir dir_;
};

// 260 MiB of zeros deflated: every tool stops at the 256 MiB limit, having
// held no inflated buffer at all.
TEST_F(DamagedFileToolTest, DeflateBombIsRefusedByEveryToolWithoutHoldingIt) {
  WriteDeflatedFile(Path("bomb.dcm"), 260 * MiB);
  ASSERT_LT(std::filesystem::file_size(Path("bomb.dcm")), 2 * MiB);
  const std::string refusal = "ERROR, DcmObj::Read, deflated data set larger than 268435456 bytes (256 MiB), refused";
  const struct {
    const char *program;
    std::vector<std::string> arguments;
  } tools[] = {
      {FW_TOOL_fwdump, {Path("bomb.dcm")}},
      {FW_TOOL_fwrender, {Path("bomb.dcm"), Path("bomb.png")}},
      {FW_TOOL_fwconvert, {"--ts", std::string(EXPLICIT_VR_LITTLE_ENDIAN), Path("bomb.dcm"), Path("out.dcm")}},
  };
  for (const auto &tool : tools) {
    SCOPED_TRACE(tool.program);
    const ToolRun run = RunTool(tool.program, tool.arguments, dir_);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(refusal), std::string::npos) << run.err;
    EXPECT_LT(run.peakBytes, 128 * MiB);
  }
  EXPECT_FALSE(std::filesystem::exists(Path("out.dcm")));
  EXPECT_FALSE(std::filesystem::exists(Path("bomb.png")));
}

// A data set under the limit is held once, at its size: the buffer is not
// regrown on the way (which holds the old and the new one at once).
TEST_F(DamagedFileToolTest, DeflatedDataSetUnderTheLimitIsHeldOnce) {
  WriteDeflatedFile(Path("big.dcm"), 160 * MiB);
  const ToolRun run = RunTool(FW_TOOL_fwdump, {Path("big.dcm")}, dir_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("(0042,0011), 167772160, OB"), std::string::npos) << run.out.substr(0, 2000);
  EXPECT_GT(run.peakBytes, 160 * MiB);
  EXPECT_LT(run.peakBytes, 160 * MiB + 64 * MiB);
}

TEST_F(DamagedFileToolTest, FwconvertTakesALargerOrSmallerInflateLimit) {
  WriteDeflatedFile(Path("small.dcm"), 2 * MiB);
  const std::string ts = std::string(EXPLICIT_VR_LITTLE_ENDIAN);
  ToolRun run = RunTool(FW_TOOL_fwconvert, {"--max-inflated", "1", "--ts", ts, Path("small.dcm"), Path("a.dcm")}, dir_);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("deflated data set larger than 1048576 bytes (1 MiB), refused"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(Path("a.dcm")));
  run = RunTool(FW_TOOL_fwconvert, {"--max-inflated", "3", "--ts", ts, Path("small.dcm"), Path("a.dcm")}, dir_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(Path("a.dcm")));
  for (const char *bad : {"0", "x", "99999999"}) {
    run = RunTool(FW_TOOL_fwconvert, {"--max-inflated", bad, "--ts", ts, Path("small.dcm"), Path("b.dcm")}, dir_);
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_NE(run.err.find("--max-inflated takes a number of MiB"), std::string::npos) << run.err;
  }
}

std::unique_ptr<DcmTag> Item(const Bytes &bytes) {
  return DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<std::uint32_t>(bytes.size()), bytes.data(), "DL");
}

// A 5-frame JPEG clip of fragments that are only frame headers, with
// `fragments` fragments and, when delimited, its sequence delimiter.
void WriteClip(const std::string &path, int fragments, bool delimited) {
  DcmObj ds;
  ds.transferSyntax = std::string(JPEG_BASELINE);
  ds.explicitVR = true;
  ds.PutText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7.4");
  ds.PutText(0x0008, 0x0018, "1.2.3.4.6");
  ds.PutText(0x0008, 0x0060, "OT");
  ds.Put(DcmTag::FromUS(0x0028, 0x0002, 1));
  ds.PutText(0x0028, 0x0004, "MONOCHROME2");
  ds.PutText(0x0028, 0x0008, "5");
  ds.Put(DcmTag::FromUS(0x0028, 0x0010, 8));
  ds.Put(DcmTag::FromUS(0x0028, 0x0011, 8));
  ds.Put(DcmTag::FromUS(0x0028, 0x0100, 8));
  auto pixel = DcmTag::FromBytes(0x7FE0, 0x0010, 0, nullptr, "OB");
  pixel->length = UNDEFINED_LENGTH;
  ds.Append(std::move(pixel));
  ds.Append(Item({}));
  for (int f = 0; f < fragments; ++f)
    ds.Append(Item({0xFF, 0xD8, 0xFF, 0xD9}));
  if (delimited)
    ds.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  ASSERT_TRUE(ds.Write(path));
}

// A clip cut after two of its five frames, or short of fragments: fwdump
// shows what the file holds, says "truncated" and exits 1; fwconvert and
// fwrender write nothing.
TEST_F(DamagedFileToolTest, TruncatedClipIsShownAndRefused) {
  const struct {
    const char *name;
    int fragments;
    bool delimited;
    const char *why;
  } cases[] = {
      {"cut.dcm", 2, false, "the file ends inside (7FE0,0010) before its delimitation item"},
      {"short.dcm", 3, true, "3 fragments for 5 frames of (7FE0,0010)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    WriteClip(Path(c.name), c.fragments, c.delimited);
    ToolRun run = RunTool(FW_TOOL_fwdump, {Path(c.name)}, dir_);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("fwdump: " + Path(c.name) + ": truncated, " + c.why), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("(0028,0008),  2, IS, Number of Frames: 5"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(7FE0,0010), -1, OB"), std::string::npos) << run.out;

    run = RunTool(FW_TOOL_fwconvert, {"--ts", std::string(EXPLICIT_VR_LITTLE_ENDIAN), Path(c.name), Path("out.dcm")},
                  dir_);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("ERROR, DcmObj::Read, truncated: " + std::string(c.why)), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(Path("out.dcm")));

    run = RunTool(FW_TOOL_fwrender, {Path(c.name), Path("out.png")}, dir_);
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(std::filesystem::exists(Path("out.png")));
  }
}

// Native pixel data under a JPEG label is no file to write again, under
// its own label or another.
TEST_F(DamagedFileToolTest, NativePixelDataUnderAnEncapsulatedLabelIsNotConverted) {
  DcmObj ds;
  ds.transferSyntax = std::string(JPEG_BASELINE);
  ds.explicitVR = true;
  ds.PutText(0x0008, 0x0016, SECONDARY_CAPTURE_IMAGE_STORAGE);
  ds.PutText(0x0008, 0x0018, "1.2.3.4.7");
  ds.Put(DcmTag::FromUS(0x0028, 0x0002, 1));
  ds.Put(DcmTag::FromUS(0x0028, 0x0010, 8));
  ds.Put(DcmTag::FromUS(0x0028, 0x0011, 8));
  ds.Put(DcmTag::FromUS(0x0028, 0x0100, 8));
  ds.Put(DcmTag::FromBytes(0x7FE0, 0x0010, 64, Bytes(64, 9).data(), "OB"));
  ASSERT_TRUE(ds.Write(Path("native.dcm")));
  for (const std::string_view target : {EXPLICIT_VR_LITTLE_ENDIAN, JPEG_BASELINE, JPEG_2000_LOSSLESS}) {
    SCOPED_TRACE(std::string(target));
    const ToolRun run =
        RunTool(FW_TOOL_fwconvert, {"--ts", std::string(target), Path("native.dcm"), Path("out.dcm")}, dir_);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("ERROR, DcmObj::Read, pixel data of defined length under the encapsulated transfer syntax "
                           "1.2.840.10008.1.2.4.50"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(std::filesystem::exists(Path("out.dcm")));
  }
}

} // namespace
} // namespace fw
