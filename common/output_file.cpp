#include "output_file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "write_all.h"

namespace halvic {

namespace {

namespace fs = std::filesystem;

// mkstemp creates owner-only files; the output file gets the permissions any
// newly created file of the user would get.
void applyDefaultFileMode(int fd) {
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
}

}  // namespace

bool writeOutputFile(const std::string& path, std::string_view text) {
  if (path.empty()) return true;

  const fs::path target(path);
  const fs::path parent = target.parent_path();
  if (!target.has_filename()) return false;  // "dir/" names a directory, not a file
  std::error_code ignored;
  if (!parent.empty()) fs::create_directories(parent, ignored);

  // A short fixed-length name, so a long target name cannot push the
  // auxiliary name past the file-system limit.
  std::string aux = (parent.empty() ? fs::path(".") : parent) / "halvic-screen-XXXXXX.tmp";
  int fd = mkstemps(aux.data(), 4);
  if (fd == -1) return false;

  applyDefaultFileMode(fd);
  bool ok = writeAll(fd, text);
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(aux.c_str(), path.c_str()) == 0;
  if (!ok) unlink(aux.c_str());
  return ok;
}

}  // namespace halvic
