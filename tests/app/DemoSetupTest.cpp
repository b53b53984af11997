// The demo environment's station setup, written by scripts/peers.sh: the
// station must read back exactly the record the script was given, and the
// worklist the script fills must carry the modality the station will ask for.
#include "app/shell/ConfigFile.h"
#include "station/StationRecords.h"
#include "tests/support/Peers.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fw {
namespace {

using test::ReadFileBytes;
using test::RunPeersScript;
using test::TempDir;

std::vector<std::string> StationConfigArgs(const std::string &path, const setupcfg &c) {
  return {"station-config",
          path,
          c.LocalAET,
          c.InstitutionName,
          c.PacsAET,
          c.PacsIP,
          c.PacsPort,
          c.WlAET,
          c.WlIP,
          c.WlPort,
          std::to_string(c.ModalityIndex)};
}

TEST(DemoSetupTest, ScriptWritesTheFileTheStationWrites) {
  const std::vector<setupcfg> cases = {
      {"FRAMEWELL", "Demo Hospital", "DEMOPACS", "127.0.0.1", "40871", "DEMOWL", "127.0.0.1", "47068", "0", 0},
      // Blanks inside a field and an empty field keep their place.
      {"A B", "", "P", "localhost", "104", "W", "::1", "105", "0", 6},
      {"FW", "Inst", "P", "h", "1", "W", "h", "2", "0", -1},
  };
  TempDir dir;
  for (const setupcfg &c : cases) {
    const std::string path = dir.folder() + "quillbrook.cfg";
    ASSERT_TRUE(RunPeersScript(StationConfigArgs(path, c)));
    EXPECT_EQ(ReadFileBytes(path), ConfigFileText(c)) << c.LocalAET;
    setupcfg read;
    ConfigLoad details;
    ASSERT_TRUE(LoadConfig(read, path, &details));
    EXPECT_EQ(details.firstMissingLine, -1);
    EXPECT_EQ(read, c) << c.LocalAET;
  }
}

TEST(DemoSetupTest, ModalityOfTheFileIsTheStationsModality) {
  TempDir dir;
  const std::string path = dir.folder() + "quillbrook.cfg";
  for (std::int32_t index : {0, 1, 2, 3, 4, 5, 6, -1, 7}) {
    setupcfg c;
    c.ModalityIndex = index;
    ASSERT_TRUE(SaveConfig(c, path));
    std::string out;
    ASSERT_TRUE(RunPeersScript({"station-modality", path}, &out));
    const std::string expected = ModalityAt(index);
    EXPECT_EQ(out, expected.empty() ? "" : expected + "\n") << "index " << index;
  }
}

} // namespace
} // namespace fw
