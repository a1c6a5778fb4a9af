// Runs orva-webapi as a child process with bounded waits, for the host's
// tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace host_test {

inline const char* hostProgram() { return ORVA_BIN_DIR "/orva-webapi"; }

struct RunResult {
  int status = -1;  // exit status, -1 if it did not exit normally in time
  std::string out;
  std::string err;
};

// Forks and execs the host with args; extraEnv entries ("NAME=value") are
// added to (or replace in) the environment. Out and err are pipes (or -1).
inline pid_t spawnHost(const std::vector<std::string>& args, int& outFd, int& errFd,
                       const std::vector<std::string>& extraEnv = {}) {
  std::vector<std::string> argStore{hostProgram()};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<std::string> envStore;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& extra : extraEnv) {
      const std::string name = extra.substr(0, extra.find('=') + 1);
      if (entry.compare(0, name.size(), name) == 0) replaced = true;
    }
    if (!replaced) envStore.push_back(entry);
  }
  envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> argv, envp;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return -1;
  if (::pipe2(errPipe, O_CLOEXEC) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outPipe[1], STDOUT_FILENO);
    ::dup2(errPipe[1], STDERR_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  outFd = outPipe[0];
  errFd = errPipe[0];
  return pid;
}

// Waits up to timeout for the child to exit; kills it if it does not.
// Returns its exit status, or -1.
inline int waitForExit(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Runs the host to its end (at most timeout) and collects its output.
inline RunResult runHost(const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
  RunResult result;
  int outFd = -1, errFd = -1;
  const pid_t pid = spawnHost(args, outFd, errFd, extraEnv);
  if (pid < 0) return result;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (pollfd& fd : fds) {
    if (fd.fd >= 0) ::close(fd.fd);
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  result.status = waitForExit(pid, std::max(left, std::chrono::milliseconds(100)));
  return result;
}

}  // namespace host_test
