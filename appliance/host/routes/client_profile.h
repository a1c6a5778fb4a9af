// An Apple configuration profile for one user on one host: the CardDAV and
// CalDAV accounts (never a password) and the certificate phones are to
// trust. Its identifiers are the same each time for the same user and host,
// so installing it again replaces it, and differ for any other user or host.
#pragma once

#include <string>

namespace orva_host {

struct ProfileSettings {
  std::string user;
  std::string host;  // as it stands in a URL's host, without brackets
  bool ssl = false;
  int port = 0;  // HTTPS port with ssl, else HTTP
  // DER of the certificate to trust, "" for none; an authority or the
  // server's own self-signed certificate.
  std::string trustedDer;
  bool trustedIsAuthority = false;
};

std::string mobileConfig(const ProfileSettings& settings);

// "local.orva.HOST.USER.HASH": readable where the names are ASCII, unique
// by the hash of both.
std::string profileIdentifier(const std::string& user, const std::string& host);

// A Content-Disposition value naming "USER-HOST.mobileconfig": a plain ASCII
// name, and the exact one (filename*) for names beyond ASCII.
std::string profileDisposition(const std::string& user, const std::string& host);

// A path segment of a URL: RFC 3986's unreserved bytes as they are, the rest
// as %XX.
std::string percentEncoded(const std::string& segment);

}  // namespace orva_host
