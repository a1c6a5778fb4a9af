// WebUtils::IsPortConflict: whether a port range may be given to one of the
// server's services.
#include "appliance/base/port_conflict.h"

#include <string>
#include <vector>

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"
#include "appliance/base/services_file.h"
#include "platform/system_services.h"

namespace {

bool overlaps(int first, int last, const orva_services::PortRange& range) {
  return first <= range.last && range.first <= last;
}

// True when a service definition other than the server's own claims a tcp
// port of first..last. Files and values that cannot be read claim nothing:
// the firewall reload reports them.
bool heldByOtherService(int first, int last) {
  const std::string folder = orva_root::underRoot(orva_services::kServicesDir);
  std::vector<std::string> names;
  if (!orva_services::listServiceFiles(folder, names)) return false;
  for (const std::string& name : names) {
    if (name == orva_services::kOwnServiceFile) continue;
    std::string text;
    if (!orva_file::readWhole(folder + "/" + name, text)) continue;
    for (const orva_services::Entry& entry : orva_services::parseLenient(text)) {
      if (entry.key != orva_services::kPortsKey) continue;
      orva_services::PortList list;
      if (!orva_services::parsePorts(entry.value, list) || !list.tcp) continue;
      for (const orva_services::PortRange& range : list.ranges) {
        if (overlaps(first, last, range)) return true;
      }
    }
  }
  return false;
}

}  // namespace

bool WebUtils::IsPortConflict(const std::string& serviceName, int port, int portEnd) {
  (void)serviceName;  // the server's services share one file, skipped as a whole
  if (port < 1 || port > 65535 || portEnd < port || portEnd > 65535) return true;
  for (const int reserved : orva_services::kReservedPorts) {
    if (port <= reserved && reserved <= portEnd) return true;
  }
  return heldByOtherService(port, portEnd);
}
