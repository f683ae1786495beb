#include "exclusive_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace halvic::capture {

std::string writeNewFile(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return "cannot create " + path + ": " + std::strerror(errno);
  std::string failure;
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      failure = "cannot write " + path + ": " + std::strerror(written < 0 ? errno : EIO);
      break;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  if (::close(fd) != 0 && failure.empty()) failure = "cannot write " + path + ": " + std::strerror(errno);
  if (!failure.empty()) ::unlink(path.c_str());
  return failure;
}

}  // namespace halvic::capture
