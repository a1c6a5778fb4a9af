// User names as people read them: one spelling of one person. A new name is
// stored in NFC and may hold no character that hides, breaks a line or looks
// like nothing; two names that differ only in case or in composed and
// decomposed accents are one user. Names stored before these rules keep
// working and are listed with a warning.
#pragma once

#include <string>

namespace orva_host {

constexpr size_t kMaxUserNameCharacters = 64;

// True when name may be given to a new user; then nfc holds the name to
// store. Otherwise reason says why, naming the character at fault
// ("U+2028 LINE SEPARATOR").
bool acceptNewUserName(const std::string& name, std::string& nfc, std::string& reason);

// The form two names share when they are one user: the canonical caseless
// form (NFD of the case-folded NFD), as the server's sign-in compares them.
// "" for text that is not UTF-8.
std::string userNameKey(const std::string& name);

// What is odd about a stored name ("" when nothing is): the reason a new
// user could not be given it, or that it is not in NFC.
std::string userNameWarning(const std::string& name);

}  // namespace orva_host
