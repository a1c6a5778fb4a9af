#include "appliance/host/routes/client_hosts.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/utsname.h>

#include <algorithm>
#include <memory>

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"
#include "appliance/host/routes/client_setup_routes.h"

namespace orva_host {

namespace {

// A numeric address's text; "" for loopback, link-local and other families.
std::string reachableAddress(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    const uint32_t value = ntohl(v4->sin_addr.s_addr);
    if ((value >> 24) == 127 || (value >> 16) == 0xa9fe) return "";  // loopback, 169.254/16
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr) || IN6_IS_ADDR_LINKLOCAL(&v6->sin6_addr)) return "";
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
  }
  return text;
}

void add(std::vector<HostChoice>& hosts, const std::string& host, bool address,
         const std::vector<std::string>& certificateNames) {
  if (host.empty() || isLoopbackHost(host) || !isPlainHostName(host)) return;
  for (const HostChoice& known : hosts) {
    if (known.host == host) return;
  }
  const bool inCertificate =
      std::find(certificateNames.begin(), certificateNames.end(), host) != certificateNames.end();
  hosts.push_back({host, address, inCertificate});
}

}  // namespace

bool isLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0) return true;
  return host.size() > 10 && host.compare(host.size() - 10, 10, ".localhost") == 0;
}

std::vector<HostChoice> machineHosts(const std::vector<std::string>& certificateNames) {
  std::vector<HostChoice> hosts;
  utsname name{};
  if (::uname(&name) == 0) add(hosts, name.nodename, false, certificateNames);
  for (const std::string& certified : certificateNames) {
    if (certified.find(':') == std::string::npos &&
        certified.find_first_not_of("0123456789.") != std::string::npos) {
      add(hosts, certified, false, certificateNames);
    }
  }
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return hosts;
  std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owned(list, ::freeifaddrs);
  // IPv4 first: the address people type.
  for (const int family : {AF_INET, AF_INET6}) {
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
      if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != family ||
          (entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) {
        continue;
      }
      add(hosts, reachableAddress(entry->ifa_addr), true, certificateNames);
    }
  }
  return hosts;
}

std::string rememberedHost(const std::string& root) {
  std::string text;
  if (!orva_file::readWhole(orva_root::pathUnder(root, kClientHostFile), text,
                            orva_file::Links::kRefuse, 512)) {
    return "";
  }
  text = text.substr(0, text.find('\n'));
  return isPlainHostName(text) ? text : "";
}

bool rememberHost(const std::string& root, const std::string& host) {
  return orva_file::writeAtomic(orva_root::pathUnder(root, kClientHostFile), host + "\n");
}

}  // namespace orva_host
