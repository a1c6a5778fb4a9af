// The server's TLS certificate as a client sees it: the SHA-256 fingerprint
// a person compares on a phone, its names and its end.
#pragma once

#include <string>
#include <vector>

namespace orva_host {

// Under the appliance root.
constexpr const char* kCertificateFile = "/var/packages/Tessaro/target/etc/ssl/server.crt";

struct CertificateFacts {
  std::string sha256;              // "AB:CD:...", 32 bytes
  std::string notAfter;            // "2028-03-01T12:00:00Z"
  std::vector<std::string> names;  // subjectAltName DNS names and IP addresses
  bool selfSigned = false;
  std::string der;  // the certificate itself (DER)
};

// False when there is no readable PEM certificate at path.
bool readCertificate(const std::string& path, CertificateFacts& facts);

}  // namespace orva_host
