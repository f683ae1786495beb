// Running a library call that may print to stderr, which the tools never do.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace halvic {

// Calls `call()` with standard error pointed at /dev/null, then puts it back.
template <typename Call>
void withStderrSilenced(Call&& call) {
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const bool redirected = saved >= 0 && devNull >= 0 && dup2(devNull, STDERR_FILENO) >= 0;
  call();
  if (redirected) dup2(saved, STDERR_FILENO);
  if (devNull >= 0) close(devNull);
  if (saved >= 0) close(saved);
}

}  // namespace halvic
