#include "write_all.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace halvic {

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A host may hand over a non-blocking pipe: wait until it takes more.
      pollfd writable{fd, POLLOUT, 0};
      if (poll(&writable, 1, -1) < 0 && errno != EINTR) return false;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

}  // namespace halvic
