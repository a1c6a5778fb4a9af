// The server's users and their passwords: the htpasswd file that Radicale
// signs people in with. The host is its writer; every change is a whole new
// file put in place atomically under a lock, so that the server never reads
// half of one and two requests never lose each other's change.
#pragma once

#include <string>
#include <vector>

namespace orva_host {

// Under the appliance root.
constexpr const char* kPasswordFile = "/var/packages/Tessaro/target/etc/users.htpasswd";

// A name that may sign in and own collections: not empty, at most 100 bytes,
// valid UTF-8, no '/', '\', ':' or "..", no control character, no blank at
// either end, and one the contact store takes (no leading '.', no trailing '~').
bool isPlainUserName(const std::string& name);

// One sign-in of the file.
struct PasswordEntry {
  std::string user;
  std::string hash;
};

// What a stored hash is: "bcrypt" is the only kind the server checks; the
// others name the format so that an administrator knows what to replace.
std::string hashKind(const std::string& hash);
bool isCheckableHash(const std::string& hash);

// A bcrypt hash ($2b$, cost 10) of password. False when the password is
// empty, longer than 72 bytes (bcrypt would ignore the rest) or holds NUL,
// or when no hash can be made; reason says which.
bool bcryptHash(const std::string& password, std::string& hash, std::string& reason);

// The users of the file in its order ({} when there is no file). Lines that
// are blank, comments or without ':' are not users.
std::vector<PasswordEntry> readPasswordFile(const std::string& root);

// What a change did.
enum class PasswordChange { kDone, kExists, kMissing, kFailed };

// The stored name that name signs in as: itself when stored, else the one
// equal to it under userNameKey (the first in file order); "" for none.
std::string signInName(const std::vector<PasswordEntry>& entries, const std::string& name);

// Adds user (kExists when present, or a user whose name is equal to it under
// userNameKey: existing then holds that user's name), sets the user's hash (kMissing when
// absent) or removes the user (kMissing when absent). Other lines stay as
// they are. kFailed (logged) when the file cannot be written.
PasswordChange addPasswordEntry(const std::string& root, const std::string& user,
                                const std::string& hash, std::string* existing = nullptr);
PasswordChange setPasswordEntry(const std::string& root, const std::string& user,
                                const std::string& hash);
PasswordChange removePasswordEntry(const std::string& root, const std::string& user);

}  // namespace orva_host
