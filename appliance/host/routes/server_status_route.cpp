#include "appliance/host/routes/server_status_route.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "appliance/base/appliance_root.h"

extern char** environ;

namespace orva_host {

namespace {

constexpr const char* kStartStopScript =
    "/var/packages/Tessaro/target/tools/calendarserver_start_stop.sh";
constexpr int kLimitSeconds = 30;
constexpr size_t kMaxOutput = 64 * 1024;

struct Run {
  int status = -1;  // exit status, -1 when it did not end in time
  std::string out;
};

// Runs the script with "status" in its own process group, its output read
// for a limited time; a script that does not end in time is killed with
// what it started.
Run runStatus(const std::string& root) {
  Run run;
  const std::string path = orva_root::pathUnder(root, kStartStopScript);
  const std::string rootEntry = "ORVA_ROOT=" + root;
  std::vector<char*> envp;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "ORVA_ROOT=", 10) != 0) envp.push_back(*entry);
  }
  envp.push_back(const_cast<char*>(rootEntry.c_str()));
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("status"), nullptr};

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    return run;
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kLimitSeconds);
  bool ended = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    pollfd ready{pipeFds[0], POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[4096];
    const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
    if (got <= 0) {
      ended = true;
      break;
    }
    if (run.out.size() < kMaxOutput) run.out.append(buffer, static_cast<size_t>(got));
  }
  ::close(pipeFds[0]);
  if (!ended) ::kill(-pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (ended && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}

}  // namespace

HttpAnswer serverStatusRoute(const RouteContext& context, const Json::Value& request) {
  HttpAnswer refusal;
  if (!onlyKeys(request, {}, refusal)) return refusal;
  const Run run = runStatus(context.root);
  Json::Value data(Json::objectValue);
  data["state"] = run.status == 0   ? "started"
                  : run.status == 3 ? "stopped"
                  : run.status < 0  ? "unknown"
                                    : "failed";
  data["lines"] = Json::arrayValue;
  size_t start = 0;
  while (start < run.out.size()) {
    const size_t end = run.out.find('\n', start);
    const std::string line = run.out.substr(start, end - start);
    if (!line.empty()) data["lines"].append(line);
    start = end == std::string::npos ? run.out.size() : end + 1;
  }
  if (run.status < 0) {
    data["lines"].append("the start/stop script did not answer within " +
                         std::to_string(kLimitSeconds) + " seconds");
  }
  return dataAnswer(data);
}

}  // namespace orva_host
