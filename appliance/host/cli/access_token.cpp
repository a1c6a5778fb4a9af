#include "appliance/host/cli/access_token.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "appliance/base/appliance_root.h"

namespace orva_host {

namespace {

constexpr size_t kTokenBytes = 32;

std::string dirUnder(const std::string& root) {
  return (root == "/" ? std::string() : root) + "/etc/orva-webapi";
}

bool randomHex(size_t bytes, std::string& hex) {
  unsigned char buffer[64];
  if (bytes > sizeof buffer) return false;
  size_t filled = 0;
  while (filled < bytes) {
    const ssize_t got = ::getrandom(buffer + filled, bytes - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    filled += static_cast<size_t>(got);
  }
  static const char kDigits[] = "0123456789abcdef";
  hex.clear();
  for (size_t i = 0; i < bytes; ++i) {
    hex.push_back(kDigits[buffer[i] >> 4]);
    hex.push_back(kDigits[buffer[i] & 0x0f]);
  }
  return true;
}

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  return true;
}

bool isHexToken(const std::string& text) {
  if (text.size() < 2 * kTokenBytes) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

enum class ReadOutcome { kRead, kMissing, kFailed };

ReadOutcome readToken(const std::string& path, std::string& token, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return ReadOutcome::kMissing;
    error = "cannot open " + path + ": " + std::strerror(errno);
    return ReadOutcome::kFailed;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = path + " is not a regular file";
    return ReadOutcome::kFailed;
  }
  if ((st.st_mode & 077) != 0) {
    // Others may have read it already; at least keep them out from now on.
    std::fprintf(stderr, "orva-webapi: %s was readable by others; now mode 0600\n", path.c_str());
    (void)::fchmod(fd, 0600);
  }
  char buffer[512];
  std::string text;
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
    if (text.size() > 4096) break;
  }
  ::close(fd);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (!isHexToken(text)) {
    error = path + " holds no valid token; remove it to make a new one";
    return ReadOutcome::kFailed;
  }
  token = text;
  return ReadOutcome::kRead;
}

// Writes the token to a private temporary file and links it into place, so
// that the file is never seen half written and a concurrent start that got
// there first wins.
bool createToken(const std::string& dir, const std::string& path, std::string& error) {
  std::string token;
  if (!randomHex(kTokenBytes, token)) {
    error = std::string("no random bytes: ") + std::strerror(errno);
    return false;
  }
  std::string suffix;
  if (!randomHex(8, suffix)) {
    error = std::string("no random bytes: ") + std::strerror(errno);
    return false;
  }
  const std::string temp = dir + "/.token-" + suffix;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot create " + temp + ": " + std::strerror(errno);
    return false;
  }
  const bool written = writeAll(fd, token + "\n") && ::fsync(fd) == 0;
  ::close(fd);
  if (!written) {
    error = "cannot write " + temp + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  const int linked = ::link(temp.c_str(), path.c_str());
  const int linkErrno = errno;
  ::unlink(temp.c_str());
  if (linked != 0 && linkErrno != EEXIST) {
    error = "cannot create " + path + ": " + std::strerror(linkErrno);
    return false;
  }
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    (void)::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace

std::string tokenPath(const std::string& root) { return dirUnder(root) + "/token"; }

bool loadOrCreateToken(const std::string& root, std::string& token, std::string& error) {
  const std::string dir = dirUnder(root);
  const std::string path = tokenPath(root);
  const std::string parent = (root == "/" ? std::string() : root) + "/etc";
  if (!orva_root::makeDirs(parent) || (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)) {
    error = "cannot create " + dir + ": " + std::strerror(errno);
    return false;
  }
  switch (readToken(path, token, error)) {
    case ReadOutcome::kRead:
      return true;
    case ReadOutcome::kFailed:
      return false;
    case ReadOutcome::kMissing:
      break;
  }
  if (!createToken(dir, path, error)) return false;
  return readToken(path, token, error) == ReadOutcome::kRead;
}

bool sameToken(const std::string& given, const std::string& expected) {
  unsigned char diff = given.size() == expected.size() ? 0 : 1;
  const size_t n = expected.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
    diff |= static_cast<unsigned char>(g ^ static_cast<unsigned char>(expected[i]));
  }
  // Keep the compiler from turning the loop into an early exit.
  volatile unsigned char result = diff;
  return result == 0 && n > 0;
}

std::string bearerToken(const std::string& authorization) {
  size_t start = authorization.find_first_not_of(" \t");
  if (start == std::string::npos) return "";
  const size_t schemeEnd = authorization.find_first_of(" \t", start);
  if (schemeEnd == std::string::npos) return "";
  const std::string scheme = authorization.substr(start, schemeEnd - start);
  if (scheme.size() != 6 || ::strncasecmp(scheme.c_str(), "bearer", 6) != 0) return "";
  start = authorization.find_first_not_of(" \t", schemeEnd);
  if (start == std::string::npos) return "";
  size_t end = authorization.find_last_not_of(" \t");
  return authorization.substr(start, end - start + 1);
}

}  // namespace orva_host
