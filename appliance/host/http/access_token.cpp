#include "appliance/host/http/access_token.h"

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
#include "appliance/base/file_io.h"

namespace orva_host {

namespace {

constexpr size_t kTokenBytes = 32;

std::string dirUnder(const std::string& root) {
  return orva_root::pathUnder(root, "/etc/orva-webapi");
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
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
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
  std::string text;
  // A token file is one line; anything much longer is not one.
  const bool read = orva_file::readAll(fd, text, 4096);
  ::close(fd);
  if (!read) {
    error = path + " holds no valid token; remove it to make a new one";
    return ReadOutcome::kFailed;
  }
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

// The file is never seen half written, and when two starts race, the one
// that got there first wins (no replace).
bool createToken(const std::string& path, std::string& error) {
  std::string token;
  if (!randomHex(kTokenBytes, token)) {
    error = std::string("no random bytes: ") + std::strerror(errno);
    return false;
  }
  orva_file::WriteOptions options;
  options.mode = 0600;
  options.replace = false;
  if (!orva_file::writeAtomic(path, token + "\n", options)) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

std::string tokenPath(const std::string& root) { return dirUnder(root) + "/token"; }

bool loadOrCreateToken(const std::string& root, std::string& token, std::string& error) {
  const std::string dir = dirUnder(root);
  const std::string path = tokenPath(root);
  if (!orva_file::makeFolders(orva_file::parentFolder(dir)) ||
      (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)) {
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
  if (!createToken(path, error)) return false;
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
