// A scratch directory per test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace halvic::e2e {

class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string readWholeFile(const std::filesystem::path& path);

}  // namespace halvic::e2e
