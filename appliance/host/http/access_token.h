// The serve command's access token: 32 random bytes, hex-encoded, kept in
// <root>/etc/orva-webapi/token (mode 0600), made at the first start and
// reused afterwards.
#pragma once

#include <string>

namespace orva_host {

// The token file's path under the root.
std::string tokenPath(const std::string& root);

// Reads the token, making it first when there is none. False with a reason
// in error when it can neither be read nor made.
bool loadOrCreateToken(const std::string& root, std::string& token, std::string& error);

// Compares in time that depends only on the lengths, never on where the texts
// differ.
bool sameToken(const std::string& given, const std::string& expected);

// The token in an "Authorization: Bearer TOKEN" header value, "" if none.
std::string bearerToken(const std::string& authorization);

}  // namespace orva_host
