// OLIBCExec: runs one of the appliance's programs directly (no shell), with
// its path resolved under the appliance root and ORVA_ROOT in its
// environment, and waits for it.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "appliance/base/appliance_root.h"
#include "platform/system_services.h"

extern char** environ;

extern "C" int OLIBCExec(const char* program, const char* arg1, const char* arg2, const char* arg3,
                         const char* arg4) {
  // Only fixed appliance paths: a bare name would mean a search of PATH.
  if (program == nullptr || program[0] != '/') return -1;
  const std::string path = orva_root::underRoot(program);

  // Everything the child needs is built before fork: after it, in a process
  // that may run threads, the child only calls async-signal-safe functions.
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const char* arg : {arg1, arg2, arg3, arg4}) {
    if (arg == nullptr) break;
    argv.push_back(const_cast<char*>(arg));
  }
  argv.push_back(nullptr);

  const std::string rootEntry = "ORVA_ROOT=" + orva_root::applianceRoot();
  std::vector<char*> envp;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "ORVA_ROOT=", 10) != 0) envp.push_back(*entry);
  }
  envp.push_back(const_cast<char*>(rootEntry.c_str()));
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
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    ::sigprocmask(SIG_SETMASK, &noSignals, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(path.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(devNull);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
}
