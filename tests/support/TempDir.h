// A fresh folder below the system's temporary folder, removed with its
// contents when the object goes.
#pragma once

#include <filesystem>
#include <string>

namespace fw::test {

class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::filesystem::path &path() const { return path_; }
  // The folder as text with a trailing "/".
  std::string folder() const { return path_.string() + "/"; }

private:
  std::filesystem::path path_;
};

// Whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path &file);

} // namespace fw::test
