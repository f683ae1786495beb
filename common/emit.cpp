#include "emit.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "output_file.h"
#include "write_all.h"

namespace halvic {

void guardStandardStreams() {
  std::signal(SIGPIPE, SIG_IGN);
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    // open() takes the lowest free descriptor, which is `fd` itself.
    if (null != -1 && null != fd) close(null);
  }
}

void emit(const JsonValue& result, const std::string& outputPath) {
  std::string text = jsonTextOrFallback(result);
  writeOutputFile(outputPath, text);
  text.push_back('\n');
  // Unbuffered, so the line is complete however the process ends afterwards;
  // a closed pipe or a full disk is ignored.
  writeAll(STDOUT_FILENO, text);
}

void emitFallback(const std::string& outputPath) {
  writeOutputFile(outputPath, kFallbackJson);
  writeAll(STDOUT_FILENO, kFallbackJson);
  writeAll(STDOUT_FILENO, "\n");
}

}  // namespace halvic
