// A fresh directory for one test (in the temporary directory unless told), removed with everything in it afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace halvic::testing {

struct TempDir {
  const std::filesystem::path path;

  explicit TempDir(const std::filesystem::path& in = std::filesystem::temp_directory_path())
      : path(mkdtemp((in / "halvic-test-XXXXXX").string().data())) {}
  TempDir(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string operator/(const std::string& rel) const { return (path / rel).string(); }
};

inline std::string readFile(const std::filesystem::path& p) {
  std::ostringstream text;
  text << std::ifstream(p, std::ios::binary).rdbuf();
  return text.str();
}

}  // namespace halvic::testing
