// A plain TCP connection to serve for sending exactly the bytes a test
// wants, and what tests read off the answers and the process.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>

namespace host_test {

using Clock = std::chrono::steady_clock;

// The sanitizers' allocator keeps freed memory in quarantine: memory
// figures say nothing there.
#if defined(__SANITIZE_ADDRESS__)
#define ORVA_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVA_TEST_SANITIZED 1
#endif
#endif
#ifdef ORVA_TEST_SANITIZED
constexpr bool kMemoryFiguresMean = false;
#else
constexpr bool kMemoryFiguresMean = true;
#endif

// A plain TCP connection for sending exactly the bytes a test wants.
class RawConnection {
 public:
  explicit RawConnection(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~RawConnection() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool connected() const { return fd_ >= 0; }

  bool send(const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Reads until the server closes, until holds (when given) or wait ends.
  std::string read(std::chrono::milliseconds wait, const std::string& until = "") {
    const auto deadline = Clock::now() + wait;
    std::string text;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      pollfd fd{fd_, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[65536];
      const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) {
        closed_ = true;
        break;
      }
      text.append(buffer, static_cast<size_t>(got));
      if (!until.empty() && text.find(until) != std::string::npos) break;
    }
    return text;
  }

  // Keeps sending until the server cuts the connection off or wait ends;
  // the bytes the connection took. A small send buffer keeps the count
  // close to what the server read or dropped.
  size_t sendUntilCut(std::chrono::milliseconds wait) {
    const int small = 16 * 1024;
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    const std::string piece(16 * 1024, 'x');
    const auto deadline = Clock::now() + wait;
    size_t sent = 0;
    while (Clock::now() < deadline) {
      pollfd fd{fd_, POLLOUT, 0};
      if (::poll(&fd, 1, 100) < 0) break;
      if ((fd.revents & (POLLERR | POLLHUP)) != 0) break;
      if ((fd.revents & POLLOUT) == 0) continue;
      const ssize_t n = ::send(fd_, piece.data(), piece.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    return sent;
  }

  // Whether the server closed the connection (after what was read).
  bool closedByServer(std::chrono::milliseconds wait) {
    if (!closed_) read(wait);
    return closed_;
  }

 private:
  int fd_ = -1;
  bool closed_ = false;
};

inline int statusOf(const std::string& answer) {
  if (answer.compare(0, 9, "HTTP/1.1 ") != 0 || answer.size() < 12) return -1;
  return std::stoi(answer.substr(9, 3));
}

// A kB figure of /proc/PID/status ("VmHWM", "VmRSS").
inline long memoryKb(pid_t pid, const std::string& key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, key.size() + 1, key + ":") == 0)
      return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

}  // namespace host_test
