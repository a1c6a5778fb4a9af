#include "appliance/host/accounts/password_file.h"

#include <crypt.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"
#include "appliance/host/accounts/user_name.h"
#include "appliance/store/store_layout.h"
#include "platform/webapi.h"

namespace orva_host {

namespace {

constexpr const char* kLogSource = "password_file";
constexpr unsigned long kBcryptCost = 10;

bool isBcryptAlphabet(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '/';
}

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The file's lines, each without its line feed.
std::vector<std::string> fileLines(const std::string& path) {
  std::string text;
  std::vector<std::string> lines;
  if (!orva_file::readWhole(path, text, orva_file::Links::kRefuse)) return lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The user a line signs in, "" for a blank or comment line.
std::string lineUser(const std::string& line) {
  const size_t colon = line.find(':');
  if (colon == std::string::npos || line.empty() || line[0] == '#') return std::string();
  return line.substr(0, colon);
}

// Holds the writers' lock beside the file while a change is made.
class WriterLock {
 public:
  explicit WriterLock(const std::string& path)
      : fd_(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
    held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX) == 0;
  }
  ~WriterLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;
  bool held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

enum class Edit { kAdd, kSet, kRemove };

PasswordChange change(const std::string& root, Edit edit, const std::string& user,
                      const std::string& hash, std::string* existing = nullptr) {
  const std::string path = orva_root::pathUnder(root, kPasswordFile);
  if (!orva_file::makeFolders(orva_file::parentFolder(path))) {
    ErrorLog(kLogSource, __LINE__, 1, "cannot create the folder of %s", path.c_str());
    return PasswordChange::kFailed;
  }
  WriterLock lock(path);
  if (!lock.held()) {
    ErrorLog(kLogSource, __LINE__, 1, "cannot lock %s.lock", path.c_str());
    return PasswordChange::kFailed;
  }
  std::string text;
  bool found = false;
  const std::string key = edit == Edit::kAdd ? userNameKey(user) : std::string();
  for (const std::string& line : fileLines(path)) {
    const std::string lineName = lineUser(line);
    if (!found && !key.empty() && !lineName.empty() && userNameKey(lineName) == key) {
      found = true;
      if (existing != nullptr) *existing = lineName;
    }
    if (lineName == user) {
      found = true;
      if (existing != nullptr) *existing = lineName;
      if (edit == Edit::kSet) text += user + ":" + hash + "\n";
      if (edit != Edit::kAdd) continue;
    }
    text += line + "\n";
  }
  if (edit == Edit::kAdd && found) return PasswordChange::kExists;
  if (edit != Edit::kAdd && !found) return PasswordChange::kMissing;
  if (edit == Edit::kAdd) text += user + ":" + hash + "\n";
  // Passwords are the appliance user's alone, as the server's other secrets.
  if (!orva_file::writeAtomic(path, text, {0600, false})) {
    ErrorLog(kLogSource, __LINE__, 1, "cannot write %s", path.c_str());
    return PasswordChange::kFailed;
  }
  return PasswordChange::kDone;
}

}  // namespace

bool isPlainUserName(const std::string& name) {
  if (name.empty() || name.size() > 100) return false;
  if (name.find("..") != std::string::npos) return false;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || c == ':' || u < 0x20 || u == 0x7f) return false;
  }
  if (name.front() == ' ' || name.back() == ' ') return false;
  // Valid UTF-8 and the rest of the store's own rule.
  return orva_store::isSafeUserName(name);
}

bool isCheckableHash(const std::string& hash) {
  // $2a$, $2b$ or $2y$, a two-digit cost from 04 to 31, then 22 characters of
  // salt and 31 of hash in bcrypt's alphabet.
  if (hash.size() != 60 || hash[0] != '$' || hash[1] != '2' || hash[3] != '$' || hash[6] != '$') {
    return false;
  }
  if (hash[2] != 'a' && hash[2] != 'b' && hash[2] != 'y') return false;
  if (hash[4] < '0' || hash[4] > '3' || hash[5] < '0' || hash[5] > '9') return false;
  const int cost = (hash[4] - '0') * 10 + (hash[5] - '0');
  if (cost < 4 || cost > 31) return false;
  for (size_t i = 7; i < hash.size(); ++i) {
    if (!isBcryptAlphabet(hash[i])) return false;
  }
  return true;
}

std::string hashKind(const std::string& hash) {
  if (isCheckableHash(hash)) return "bcrypt";
  if (startsWith(hash, "$2")) return "damaged bcrypt";
  if (startsWith(hash, "$apr1$")) return "MD5 (htpasswd -m)";
  if (startsWith(hash, "{SHA}")) return "SHA-1 (htpasswd -s)";
  if (startsWith(hash, "$1$")) return "MD5-crypt";
  if (startsWith(hash, "$5$")) return "SHA-256-crypt";
  if (startsWith(hash, "$6$")) return "SHA-512-crypt";
  if (startsWith(hash, "$y$") || startsWith(hash, "$7$")) return "yescrypt or scrypt";
  if (hash.size() == 13 && std::all_of(hash.begin(), hash.end(), isBcryptAlphabet)) {
    return "DES crypt (htpasswd -d)";
  }
  return "plain text or unknown";
}

bool bcryptHash(const std::string& password, std::string& hash, std::string& reason) {
  if (password.empty()) {
    reason = "the password is empty";
    return false;
  }
  if (password.size() > 72) {
    reason = "the password is longer than 72 bytes, which bcrypt cannot check";
    return false;
  }
  if (password.find('\0') != std::string::npos) {
    reason = "the password holds a NUL character";
    return false;
  }
  char salt[CRYPT_GENSALT_OUTPUT_SIZE];
  // No random bytes given: libcrypt takes them from the system.
  if (::crypt_gensalt_rn("$2b$", kBcryptCost, nullptr, 0, salt, sizeof salt) == nullptr) {
    reason = "no bcrypt salt could be made";
    return false;
  }
  auto data = std::make_unique<crypt_data>();
  const char* made = ::crypt_rn(password.c_str(), salt, data.get(), sizeof *data);
  if (made == nullptr || !isCheckableHash(made)) {
    reason = "no bcrypt hash could be made";
    return false;
  }
  hash = made;
  return true;
}

std::vector<PasswordEntry> readPasswordFile(const std::string& root) {
  std::vector<PasswordEntry> entries;
  for (const std::string& line : fileLines(orva_root::pathUnder(root, kPasswordFile))) {
    const std::string user = lineUser(line);
    if (user.empty()) continue;
    std::string hash = line.substr(user.size() + 1);
    while (!hash.empty() && (hash.back() == '\r' || hash.back() == ' ')) hash.pop_back();
    entries.push_back({user, hash});
  }
  return entries;
}

std::string signInName(const std::vector<PasswordEntry>& entries, const std::string& name) {
  for (const PasswordEntry& entry : entries) {
    if (entry.user == name) return name;
  }
  const std::string key = userNameKey(name);
  for (const PasswordEntry& entry : entries) {
    if (!key.empty() && userNameKey(entry.user) == key) return entry.user;
  }
  return std::string();
}

PasswordChange addPasswordEntry(const std::string& root, const std::string& user,
                                const std::string& hash, std::string* existing) {
  return change(root, Edit::kAdd, user, hash, existing);
}

PasswordChange setPasswordEntry(const std::string& root, const std::string& user,
                                const std::string& hash) {
  return change(root, Edit::kSet, user, hash);
}

PasswordChange removePasswordEntry(const std::string& root, const std::string& user) {
  return change(root, Edit::kRemove, user, std::string());
}

}  // namespace orva_host
