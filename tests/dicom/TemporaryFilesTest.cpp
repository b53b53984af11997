// The temporaries of a replacing write: their names, and the removal of
// those a killed writer left behind, which touches nothing else.
#include "dicom/TemporaryFiles.h"
#include "dicom/BufData.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::LogCapture;
using test::TempDir;

// The id of a process that has ended (reaped, so nothing holds the id).
pid_t EndedProcessId() {
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(0);
  }
  ::waitpid(child, nullptr, 0);
  return child;
}

std::set<std::string> Names(const fs::path &folder) {
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

TEST(TemporaryFileNames, OnlyTheWritersOwnPatternIsATemporary) {
  EXPECT_EQ(TemporaryFileName("KW1.dcm", 4711, 0), ".KW1.dcm.4711-0.tmp");
  struct Case {
    const char *name;
    const char *target; // nullptr: not a temporary
    pid_t writer;
  } cases[] = {
      {".KW1.dcm.4711-0.tmp", "KW1.dcm", 4711},
      {".a.b.c.dcm.1-12.tmp", "a.b.c.dcm", 1},
      {".quillbrook.cfg.99-3.tmp", "quillbrook.cfg", 99},
      {"KW1.dcm.4711-0.tmp", nullptr, 0},  // not hidden
      {".KW1.dcm.4711-0.tm", nullptr, 0},  // other suffix
      {".KW1.dcm.4711.tmp", nullptr, 0},   // no number
      {".KW1.dcm.-0.tmp", nullptr, 0},     // no process id
      {".KW1.dcm.47x1-0.tmp", nullptr, 0}, // not digits
      {".KW1.dcm.4711-.tmp", nullptr, 0},  // empty number
      {"..4711-0.tmp", nullptr, 0},        // no target
      {".4711-0.tmp", nullptr, 0},         // no target either
      {".KW1.dcm.0-0.tmp", nullptr, 0},    // no process has id 0
      {".KW1.dcm.99999999999999999999-0.tmp", nullptr, 0},
      {".tmp", nullptr, 0},
      {".KW1.dcm", nullptr, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const auto parts = ParseTemporaryFileName(c.name);
    ASSERT_EQ(parts.has_value(), c.target != nullptr);
    if (parts) {
      EXPECT_EQ(parts->targetName, c.target);
      EXPECT_EQ(parts->writer, c.writer);
    }
  }
}

// A writer killed in the middle of its write leaves its temporary; the next
// start removes that one and nothing else of the folder.
TEST(TemporaryFileNames, OnlyPartialObjectsOfEndedWritersAreRemoved) {
  TempDir dir;
  const fs::path temp = dir.path();
  const pid_t killed = ::fork();
  if (killed == 0) {
    // Half an object written, then killed before the rename.
    SaveStreamToFile((temp / "KW1.dcm").string(), [](const SliceWriter &write) {
      static const std::uint8_t half[4096] = {};
      const ByteSlice slice{half, sizeof half};
      write(&slice, 1);
      ::raise(SIGKILL);
      return true;
    });
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(killed, &status, 0), killed);
  ASSERT_TRUE(WIFSIGNALED(status));
  const std::string left = TemporaryFileName("KW1.dcm", killed, 0);
  ASSERT_TRUE(fs::exists(temp / left)) << "the writer names its temporaries as parsed here";

  const pid_t ended = EndedProcessId();
  const std::string endedClip = TemporaryFileName("KW2.dcm", ended, 7);
  const std::string endedOther = TemporaryFileName("quillbrook.cfg", ended, 0); // not an object
  const std::string ownWrite = TemporaryFileName("KW3.dcm", ::getpid(), 0);
  const std::string runningWriter = TemporaryFileName("KW4.dcm", 1, 0); // init always runs
  const std::string folderNamedSo = TemporaryFileName("KW5.dcm", ended, 1);
  const std::string linkNamedSo = TemporaryFileName("KW6.dcm", ended, 2);
  for (const std::string &name : {endedClip, endedOther, ownWrite, runningWriter, std::string("KW1.dcm"),
                                  std::string(".KW1.dcm"), std::string("notes.tmp")}) {
    std::ofstream(temp / name) << "x";
  }
  fs::create_directory(temp / folderNamedSo);
  fs::create_directory(temp / "sub");
  std::ofstream(temp / "sub" / TemporaryFileName("KW7.dcm", ended, 0)) << "x";
  std::ofstream(dir.path().parent_path() / ("outside-" + std::to_string(::getpid()))) << "x";
  fs::create_symlink(dir.path().parent_path() / ("outside-" + std::to_string(::getpid())), temp / linkNamedSo);

  LogCapture log;
  const std::vector<std::string> removed = RemoveAbandonedTemporaries(dir.folder(), ".dcm");
  EXPECT_EQ(std::set<std::string>(removed.begin(), removed.end()), (std::set<std::string>{left, endedClip}));
  EXPECT_EQ(Names(temp), (std::set<std::string>{endedOther, ownWrite, runningWriter, "KW1.dcm", ".KW1.dcm", "notes.tmp",
                                                folderNamedSo, linkNamedSo, "sub"}));
  EXPECT_EQ(Names(temp / "sub").size(), 1u) << "only the folder itself";
  EXPECT_TRUE(fs::exists(dir.path().parent_path() / ("outside-" + std::to_string(::getpid()))));
  EXPECT_EQ(log.StartingWith("WARNING, removed a partial file").size(), 2u);
  fs::remove(dir.path().parent_path() / ("outside-" + std::to_string(::getpid())));

  EXPECT_TRUE(RemoveAbandonedTemporaries(dir.folder() + "missing/", ".dcm").empty()) << "no folder: nothing to do";
}

} // namespace
} // namespace fw
