// Fuzz target: "quillbrook.cfg" as found on disk (any bytes, any line ends,
// over-long lines, no lines). The bytes are written to a scratch file and
// loaded; what was loaded is saved and loaded again, which must give the same
// record (a field that cannot round-trip would change the configuration each
// time the operator saves it).
#include "app/shell/ConfigFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string ScratchPath(const char *tag) { return "/tmp/fuzz_quillbrookcfg." + std::to_string(::getpid()) + "." + tag; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const std::string input = ScratchPath("in");
  static const std::string output = ScratchPath("out");
  {
    std::ofstream file(input, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
  }
  fw::setupcfg first;
  fw::ConfigLoad details;
  if (!fw::LoadConfig(first, input, &details))
    std::abort(); // the file exists, so it must be found
  if (details.firstMissingLine < -1 || details.firstMissingLine >= fw::CONFIG_LINE_COUNT)
    std::abort();

  if (!fw::SaveConfig(first, output))
    return 0;
  fw::setupcfg second;
  if (!fw::LoadConfig(second, output) || !(first == second))
    std::abort();
  return 0;
}
