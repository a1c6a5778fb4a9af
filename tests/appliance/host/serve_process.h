// The serve command run as the real program on an ephemeral loopback port,
// and an httplib client for it.
#pragma once

#include <httplib.h>
#include <poll.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/appliance/host/child_process.h"
#include "tests/support/temp_root.h"

namespace host_test {

using namespace std::chrono_literals;

// One running server; killed at the latest when the object goes.
class ServerProcess {
 public:
  // globalArgs go before the command (for instance --module FILE).
  explicit ServerProcess(const std::string& root, const std::vector<std::string>& serveArgs = {},
                         const std::vector<std::string>& globalArgs = {}) {
    std::vector<std::string> args{"--root", root};
    args.insert(args.end(), globalArgs.begin(), globalArgs.end());
    args.insert(args.end(), {"serve", "--listen", "127.0.0.1:0"});
    args.insert(args.end(), serveArgs.begin(), serveArgs.end());
    pid_ = spawnHost(args, outFd_, errFd_);
    if (pid_ < 0) return;
    // The banner ends with the example request; wait for it, bounded.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (banner_.find("/webapi\n", banner_.find("example:")) == std::string::npos ||
           banner_.find("example:") == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return;
      pollfd fd{outFd_, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return;
      char buffer[1024];
      const ssize_t got = ::read(outFd_, buffer, sizeof buffer);
      if (got <= 0) return;
      banner_.append(buffer, static_cast<size_t>(got));
    }
    // "serving http://HOST:PORT/webapi"
    const size_t at = banner_.find("serving http://");
    const size_t end = at == std::string::npos ? at : banner_.find("/webapi", at);
    const size_t colon = end == std::string::npos ? end : banner_.rfind(':', end);
    if (colon != std::string::npos && colon > at) port_ = std::stoi(banner_.substr(colon + 1));
  }
  ~ServerProcess() { stop(SIGKILL); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::string& banner() const { return banner_; }

  // What the server wrote to standard error so far (waits up to wait for
  // the first bytes).
  std::string errorOutput(std::chrono::milliseconds wait = 1000ms) {
    std::string text;
    pollfd fd{errFd_, POLLIN, 0};
    while (::poll(&fd, 1, text.empty() ? static_cast<int>(wait.count()) : 0) > 0) {
      char buffer[1024];
      const ssize_t got = ::read(errFd_, buffer, sizeof buffer);
      if (got <= 0) break;
      text.append(buffer, static_cast<size_t>(got));
    }
    return text;
  }

  // Sends the signal and waits (bounded) for the exit status.
  int stop(int signal) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signal);
    const int status = waitForExit(pid_, 10s);
    pid_ = -1;
    ::close(outFd_);
    ::close(errFd_);
    return status;
  }

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  int port_ = 0;
  std::string banner_;
};

inline std::unique_ptr<httplib::Client> clientFor(int port) {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
  client->set_connection_timeout(5, 0);
  client->set_read_timeout(20, 0);
  client->set_write_timeout(20, 0);
  return client;
}

// The access token serve made under root, without its line end.
inline std::string serverToken(const orva_test::TempRoot& root) {
  std::string token = orva_test::readFile(root.at("/etc/orva-webapi/token"));
  while (!token.empty() && token.back() == '\n') token.pop_back();
  return token;
}

}  // namespace host_test
