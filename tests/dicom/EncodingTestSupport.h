// Helpers shared by the encoding tests: byte literals, encoding a container,
// and capturing the application log in a temporary file.
#pragma once

#include "base/Log.h"
#include "dicom/BufData.h"
#include "dicom/DcmCodec.h"
#include "dicom/DcmObj.h"
#include "tests/support/TempDir.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace fw::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

inline Bytes TextBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

// The bytes WriteObj makes of c in a stream of the given byte order.
inline Bytes Encode(DcmObj &c, bool bigEndian = false) {
  BufData stream(bigEndian);
  WriteObj(stream, c);
  return stream.Bytes();
}

// ReadOjb of bytes into c.
inline bool Decode(const Bytes &bytes, DcmObj &c, bool bigEndian = false) {
  BufData stream(bytes, bigEndian);
  return ReadOjb(stream, c);
}

// A container set up for one of the three transfer syntaxes.
inline void SetSyntax(DcmObj &c, std::string_view uid) {
  c.transferSyntax = std::string(uid);
  c.explicitVR = uid != "1.2.840.10008.1.2";
}

// Sends the application log to a temporary file while it lives.
class LogCapture {
public:
  LogCapture() { SetLogTarget(Path(), "", ""); }
  ~LogCapture() { FreeLogTarget(); }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  // The messages logged so far, without the time of day.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    const std::string text = ReadFileBytes(Path());
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t end = text.find("\r\n", at);
      if (end == std::string::npos) {
        end = text.size();
      }
      const std::string line = text.substr(at, end - at);
      const std::size_t comma = line.find(", ");
      lines.push_back(comma == std::string::npos ? line : line.substr(comma + 2));
      at = end + 2;
    }
    return lines;
  }

private:
  std::string Path() const { return dir_.folder() + "test.log"; }
  TempDir dir_;
};

} // namespace fw::test
