#include "capture.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "utf8.h"
#include "window_record.h"

extern "C" {
extern char** environ;  // not declared by every platform's <unistd.h>
}

namespace halvic {
namespace {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }

  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  FileDescriptor readEnd;
  FileDescriptor writeEnd;
};

// Both ends end up close-on-exec, so the child keeps only the copies placed on
// its standard output and error, and numbered 3 or higher, so that placing
// them on 1 and 2 never clobbers the other pipe when the host started us with
// a standard descriptor closed. pipe() and F_DUPFD_CLOEXEC rather than
// pipe2(), which macOS lacks; the tool is single-threaded, so no exec can slip
// in between. Returns 0 or an errno value.
int makePipe(Pipe& pipe) {
  int raw[2];
  if (::pipe(raw) != 0) return errno;
  FileDescriptor rawRead;
  FileDescriptor rawWrite;
  rawRead.reset(raw[0]);
  rawWrite.reset(raw[1]);
  int readEnd = ::fcntl(raw[0], F_DUPFD_CLOEXEC, 3);
  if (readEnd < 0) return errno;
  pipe.readEnd.reset(readEnd);
  int writeEnd = ::fcntl(raw[1], F_DUPFD_CLOEXEC, 3);
  if (writeEnd < 0) return errno;
  pipe.writeEnd.reset(writeEnd);
  return 0;
}

class SpawnFileActions {
 public:
  SpawnFileActions() { ::posix_spawn_file_actions_init(&actions_); }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
  ~SpawnFileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ::posix_spawnattr_init(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

// Starts the child with stdout and stderr on the pipes' write ends. The tool
// ignores SIGPIPE, and ignored signals survive exec, so the child gets SIGPIPE
// back at its default and an empty signal mask, as a freshly started program
// expects. Returns 0 or an errno value.
int spawnChild(const std::string& programPath, std::vector<std::string> arguments, const Pipe& out,
               const Pipe& err, pid_t& pid) {
  SpawnFileActions actions;
  int rc = ::posix_spawn_file_actions_adddup2(actions.get(), out.writeEnd.get(), STDOUT_FILENO);
  if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(actions.get(), err.writeEnd.get(), STDERR_FILENO);
  if (rc != 0) return rc;

  SpawnAttributes attributes;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigset_t emptyMask;
  sigemptyset(&emptyMask);
  rc = ::posix_spawnattr_setsigdefault(attributes.get(), &defaults);
  if (rc == 0) rc = ::posix_spawnattr_setsigmask(attributes.get(), &emptyMask);
  if (rc == 0) rc = ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (rc != 0) return rc;

  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return ::posix_spawn(&pid, programPath.c_str(), actions.get(), attributes.get(), argv.data(), environ);
}

// Reads both pipes to their ends while the child runs, so a child that fills
// one pipe while we would be blocked reading the other cannot stall the run.
void drain(Pipe& out, Pipe& err, std::string& outBytes, std::string& errBytes) {
  pollfd fds[2] = {{out.readEnd.get(), POLLIN, 0}, {err.readEnd.get(), POLLIN, 0}};
  std::string* sinks[2] = {&outBytes, &errBytes};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        fds[i].fd = -1;  // end of stream (or a dead pipe); poll skips negative entries
        --open;
      }
    }
  }
}

// Exit status 0 counts as success; a signal or a lost child does not.
bool waitForZeroStatus(pid_t pid) {
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  return waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string childMessage(const std::string& errBytes, const std::string& outBytes) {
  std::string_view text;
  if (isValidUtf8(errBytes)) {
    text = errBytes;
  } else if (isValidUtf8(outBytes)) {
    text = outBytes;
  }
  return std::string(trimWhitespaceAndNewlines(text));
}

CaptureResult startFailure(int error) { return {false, "screencapture_failed: " + std::string(std::strerror(error))}; }

}  // namespace

CaptureResult captureWindow(const std::string& programPath, std::int64_t windowID, const std::string& destination) {
  Pipe out;
  Pipe err;
  if (int error = makePipe(out)) return startFailure(error);
  if (int error = makePipe(err)) return startFailure(error);

  pid_t pid = -1;
  if (int error = spawnChild(programPath, {programPath, "-x", "-o", "-l", std::to_string(windowID), destination}, out,
                             err, pid)) {
    return startFailure(error);
  }
  // Only the child may hold the write ends, or the pipes never reach their end.
  out.writeEnd.reset();
  err.writeEnd.reset();

  std::string outBytes;
  std::string errBytes;
  drain(out, err, outBytes, errBytes);
  out.readEnd.reset();
  err.readEnd.reset();
  bool zeroStatus = waitForZeroStatus(pid);

  std::string message = childMessage(errBytes, outBytes);
  if (!zeroStatus) return {false, std::move(message)};

  struct stat info;
  if (::stat(destination.c_str(), &info) != 0) return {false, "screenshot_file_missing"};
  return {true, std::move(message)};
}

}  // namespace halvic
