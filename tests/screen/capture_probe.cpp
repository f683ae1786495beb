// Stands in for the screenshot program: reports on standard error, one item a
// line, its arguments (the program path included) and the signal state it
// started with, then exits 1 so that the message comes back to the caller.
#include <unistd.h>

#include <csignal>
#include <string>

int main(int argc, char** argv) {
  std::string report;
  for (int i = 0; i < argc; ++i) report += std::string(argv[i]) + "\n";

  struct sigaction pipeAction {};
  sigaction(SIGPIPE, nullptr, &pipeAction);
  report += pipeAction.sa_handler == SIG_DFL ? "SIGPIPE default\n" : "SIGPIPE changed\n";

  sigset_t mask;
  sigemptyset(&mask);
  sigprocmask(SIG_BLOCK, nullptr, &mask);
  bool anyBlocked = false;
  for (int signal = 1; signal < 32; ++signal) anyBlocked = anyBlocked || sigismember(&mask, signal) == 1;
  report += anyBlocked ? "mask blocked" : "mask empty";

  ssize_t written = write(STDERR_FILENO, report.data(), report.size());
  return written < 0 ? 2 : 1;
}
