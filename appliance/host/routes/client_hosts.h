// The names and addresses by which phones can reach the appliance: the
// machine's own addresses (never loopback) and host names, and the one the
// administrator chose for phones, remembered under the appliance root.
#pragma once

#include <string>
#include <vector>

namespace orva_host {

// Under the appliance root: the host chosen for phones, one line.
constexpr const char* kClientHostFile = "/var/packages/Tessaro/target/etc/client_host";

struct HostChoice {
  std::string host;      // a name or an address, as it stands in a URL's host
  bool address = false;  // an IP address (else a name)
  bool inCertificate = false;
};

// The machine's non-loopback, non-link-local addresses and its host names
// (the system's, and those of the certificate but "localhost"), names first,
// each once. certificateNames: the server certificate's names (may be empty).
std::vector<HostChoice> machineHosts(const std::vector<std::string>& certificateNames);

// True for a loopback name or address ("localhost", 127.x.x.x, ::1).
bool isLoopbackHost(const std::string& host);

// The remembered host; "" when none is stored.
std::string rememberedHost(const std::string& root);
// Stores host (already checked); false when it cannot be written.
bool rememberHost(const std::string& root, const std::string& host);

}  // namespace orva_host
