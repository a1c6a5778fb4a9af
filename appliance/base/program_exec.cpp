// OLIBCExec: runs one of the appliance's programs directly (no shell), with
// its path resolved under the appliance root and ORVA_ROOT in its
// environment, and waits for it, for a limited time: a program that hangs
// must not hold its request (and the settings lock) for ever.
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "appliance/base/appliance_root.h"
#include "platform/system_services.h"

extern char **environ;

namespace {

// How long a program may run: ORVA_EXEC_TIMEOUT seconds (a decimal number,
// for tests and slow machines), else two minutes, time enough for the
// server's restart.
double timeLimitSeconds() {
  const char *text = std::getenv("ORVA_EXEC_TIMEOUT");
  if (text != nullptr && text[0] != '\0') {
    char *end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end != text && *end == '\0' && seconds > 0) return seconds;
  }
  return 120;
}

double monotonicSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Waits up to seconds for the child; true with its status when it ended.
// A pidfd wakes the wait the moment the child ends; without one (an old
// kernel), the child is looked at every few milliseconds.
bool waitFor(pid_t pid, double seconds, int &status) {
  const double deadline = monotonicSeconds() + seconds;
  const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  long pauseNs = 1000000;  // 1 ms, doubled up to 50 ms
  bool ended = false;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) {
      if (done != pid) status = -1;
      ended = true;
      break;
    }
    const double left = deadline - monotonicSeconds();
    if (left <= 0) break;
    if (pidFd >= 0) {
      pollfd ready{pidFd, POLLIN, 0};
      ::poll(&ready, 1, static_cast<int>(std::min(left * 1000 + 1, 60000.0)));
    } else {
      timespec pause{0, pauseNs};
      ::nanosleep(&pause, nullptr);
      if (pauseNs < 50000000) pauseNs *= 2;
    }
  }
  if (pidFd >= 0) ::close(pidFd);
  return ended;
}

}  // namespace

extern "C" int OLIBCExec(const char *program, const char *arg1, const char *arg2, const char *arg3,
                         const char *arg4) {
  // Only fixed appliance paths: a bare name would mean a search of PATH.
  if (program == nullptr || program[0] != '/') return -1;
  const std::string path = orva_root::underRoot(program);

  // Everything the child needs is built before fork: after it, in a process
  // that may run threads, the child only calls async-signal-safe functions.
  std::vector<char *> argv{const_cast<char *>(path.c_str())};
  for (const char *arg : {arg1, arg2, arg3, arg4}) {
    if (arg == nullptr) break;
    argv.push_back(const_cast<char *>(arg));
  }
  argv.push_back(nullptr);

  const std::string rootEntry = "ORVA_ROOT=" + orva_root::applianceRoot();
  std::vector<char *> envp;
  for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "ORVA_ROOT=", 10) != 0) envp.push_back(*entry);
  }
  envp.push_back(const_cast<char *>(rootEntry.c_str()));
  envp.push_back(nullptr);

  const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (devNull < 0) return -1;
  sigset_t noSignals;
  sigemptyset(&noSignals);

  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(devNull);
    return -1;
  }
  if (pid == 0) {
    // The host's standard output carries its answers; the program's output
    // goes to standard error instead.
    // Its own process group, so that a program that hangs is stopped with
    // whatever it started.
    ::setpgid(0, 0);
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    // Nothing of the caller's beyond the three standard streams: a program
    // that outlives its caller (a server it starts, a script that hangs)
    // must not keep the caller's listening socket or its clients' open.
    if (::close_range(3, ~0U, 0) != 0) {
      for (int fd = 3; fd < 4096; ++fd) ::close(fd);
    }
    ::sigprocmask(SIG_SETMASK, &noSignals, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(path.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(devNull);
  // Also from here: the child may not have run yet when the group is killed.
  ::setpgid(pid, pid);

  int status = 0;
  if (!waitFor(pid, timeLimitSeconds(), status)) {
    // Asked to stop first, then killed after a grace second.
    ::kill(-pid, SIGTERM);
    if (!waitFor(pid, 1, status)) {
      ::kill(-pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
    ::kill(-pid, SIGKILL);
    return -1;
  }
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
}
