// The server's TLS certificate as a client sees it: the SHA-256 fingerprint
// a person compares on a phone, its names and its end; and the appliance's
// certificate authority that signs it, which phones are told to trust.
#pragma once

#include <string>
#include <vector>

namespace orva_host {

// Under the appliance root.
constexpr const char* kCertificateFile = "/var/packages/Tessaro/target/etc/ssl/server.crt";
constexpr const char* kAuthorityFile = "/var/packages/Tessaro/target/etc/ssl/ca.crt";

struct CertificateFacts {
  std::string sha256;              // "AB:CD:...", 32 bytes
  std::string notAfter;            // "2028-03-01T12:00:00Z"
  std::vector<std::string> names;  // subjectAltName DNS names and IP addresses
  // What an authority may vouch for: its permitted DNS names and addresses.
  std::vector<std::string> permitted;
  bool selfSigned = false;
  std::string der;  // the certificate itself (DER)
};

// False when there is no readable PEM certificate at path.
bool readCertificate(const std::string& path, CertificateFacts& facts);

// True when authority's key signed the certificate (both DER).
bool isSignedBy(const std::string& certificateDer, const std::string& authorityDer);

}  // namespace orva_host
