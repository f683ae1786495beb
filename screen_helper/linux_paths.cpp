#include "linux_paths.h"

#include <unistd.h>

#include <cstdlib>

#ifndef HALVIC_INSTALL_EXECDIR
#define HALVIC_INSTALL_EXECDIR "/usr/local/libexec/halvic"
#endif

namespace halvic {
namespace {

constexpr const char* kScreenshotProgram = "halvic_screencapture";

std::string ownDirectory() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return HALVIC_INSTALL_EXECDIR;
  path.resize(static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return HALVIC_INSTALL_EXECDIR;
  return path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

std::string linuxTemporaryDirectory() {
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir != nullptr && tmpdir[0] == '/') return tmpdir;
  return "/tmp";
}

std::string screenshotProgramBesideExecutable() {
  std::string directory = ownDirectory();
  if (directory.back() != '/') directory += '/';
  return directory + kScreenshotProgram;
}

}  // namespace halvic
