#include "program_launch.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace halvic::testing {
namespace {

std::vector<char*> cStrings(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

int makePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  return fds[1];
}

}  // namespace

RunningProgram::RunningProgram(const Launch& launch) {
  // Everything is made before fork(): the test may run other threads, so the
  // child only makes system calls until exec.
  std::vector<std::string> argv = launch.argv, envp;
  for (char** entry = environ; launch.inheritEnvironment && *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (!launch.environment.count(text.substr(0, text.find('=')))) envp.push_back(text);
  }
  for (const auto& [name, value] : launch.environment) envp.push_back(name + "=" + value);
  std::vector<char*> cArgv = cStrings(argv), cEnvp = cStrings(envp);
  const char* directory = launch.workingDirectory ? launch.workingDirectory->c_str() : nullptr;

  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  int stdoutFd = -1, stderrFd = -1;
  if (launch.logFile) {
    makePipe(in);
    stdoutFd = stderrFd = open(launch.logFile->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (stdoutFd < 0) throw std::runtime_error("cannot open " + *launch.logFile);
  } else {
    if (launch.stdoutTarget == StdoutTarget::Pipe || launch.stdoutTarget == StdoutTarget::ReaderGone)
      stdoutFd = makePipe(out);
    if (launch.stdoutTarget == StdoutTarget::DevFull) stdoutFd = open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (launch.stdoutTarget == StdoutTarget::ReaderGone) close(std::exchange(out[0], -1));
    if (!launch.closeStdinAndStderr) stderrFd = makePipe(err);
  }
  const pid_t parent = getpid();

  started_ = std::chrono::steady_clock::now();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    if (launch.closeStdinAndStderr) close(STDIN_FILENO);
    if (in[0] >= 0) dup2(in[0], STDIN_FILENO);
    for (const auto& [fd, target] : {std::pair{stdoutFd, STDOUT_FILENO}, std::pair{stderrFd, STDERR_FILENO}}) {
      if (fd >= 0)
        dup2(fd, target);
      else
        close(target);
    }
    close_range(3, ~0U, 0);
    // Default signal dispositions and mask, whatever the test process has.
    signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (launch.fileSizeLimit) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{*launch.fileSizeLimit, *launch.fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (launch.umask) ::umask(*launch.umask);
    if (directory != nullptr && chdir(directory) != 0) _exit(126);
    if (launch.user && (setgroups(0, nullptr) != 0 || setgid(*launch.user) != 0 || setuid(*launch.user) != 0))
      _exit(126);
    // Set after the change of user, which clears it.
    if (launch.logFile && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)) _exit(126);
    execve(cArgv[0], cArgv.data(), cEnvp.data());
    _exit(127);
  }
  for (const int fd :
       {in[0], out[1], err[1], launch.stdoutTarget == StdoutTarget::DevFull || launch.logFile ? stdoutFd : -1}) {
    if (fd >= 0) close(fd);
  }
  inFd_ = in[1];
  outFd_ = out[0];
  errFd_ = err[0];
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  for (const int fd : {inFd_, outFd_, errFd_}) {
    if (fd >= 0) close(fd);
  }
}

bool RunningProgram::running() const {
  siginfo_t info{};
  return pid_ > 0 && waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

Outcome RunningProgram::finish(std::chrono::milliseconds deadline) {
  if (inFd_ >= 0) close(std::exchange(inFd_, -1));  // the end of its input
  Outcome outcome;
  const auto end = std::chrono::steady_clock::now() + deadline;
  auto left = [&end] {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, ms.count()));
  };
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  while ((fds[0].fd >= 0 || fds[1].fd >= 0) && left() > 0) {
    if (poll(fds, 2, left()) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0)
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      else if (n == 0 || errno != EINTR)
        fds[i].fd = -1;
    }
  }
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (left() == 0) {
      kill(pid_, SIGKILL);
      outcome.timedOut = true;
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  pid_ = -1;
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  outcome.exited = WIFEXITED(status);
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return outcome;
}

Outcome runToEnd(const Launch& launch, std::chrono::milliseconds deadline) {
  return RunningProgram(launch).finish(deadline);
}

}  // namespace halvic::testing
