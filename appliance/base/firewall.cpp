// ORVAFwRuleHup: the reference appliance's firewall. A reload reads every
// service definition, writes the rules it now applies (var/lib/firewall/rules,
// one "allow PROTO PORTS # FILE [SECTION]" line per range) and logs one line
// with those ports to var/log/firewall.log. A definition that cannot be read
// or parsed fails the reload and leaves the rules in force as they were.
#include <string>
#include <vector>

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"
#include "appliance/base/services_file.h"
#include "platform/system_services.h"

namespace {

constexpr const char* kRulesDir = "/var/lib/firewall";
constexpr const char* kLogDir = "/var/log";

std::string rangeText(const orva_services::PortRange& range) {
  return range.first == range.last ? std::to_string(range.first)
                                   : std::to_string(range.first) + ":" + std::to_string(range.last);
}

}  // namespace

extern "C" int ORVAFwRuleHup(void) {
  const std::string folder = orva_root::underRoot(orva_services::kServicesDir);
  std::vector<std::string> names;
  if (!orva_services::listServiceFiles(folder, names)) return -1;

  std::string rules;
  std::string ports;
  for (const std::string& name : names) {
    std::string text;
    std::vector<orva_services::Entry> entries;
    int errorLine = 0;
    if (!orva_file::readWhole(folder + "/" + name, text)) return -1;
    if (!orva_services::parseText(text, entries, errorLine)) return -1;
    for (const orva_services::Entry& entry : entries) {
      if (entry.key != orva_services::kPortsKey) continue;
      orva_services::PortList list;
      if (!orva_services::parsePorts(entry.value, list)) return -1;
      for (const char* protocol : {"tcp", "udp"}) {
        if ((protocol[0] == 't' && !list.tcp) || (protocol[0] == 'u' && !list.udp)) continue;
        for (const orva_services::PortRange& range : list.ranges) {
          rules += std::string("allow ") + protocol + " " + rangeText(range) + " # " + name + " [" +
                   entry.section + "]\n";
          ports += (ports.empty() ? "" : ",") + rangeText(range) + "/" + protocol;
        }
      }
    }
  }

  const std::string rulesDir = orva_root::underRoot(kRulesDir);
  if (!orva_file::makeFolders(rulesDir) || !orva_file::writeAtomic(rulesDir + "/rules", rules)) {
    return -1;
  }
  const std::string logDir = orva_root::underRoot(kLogDir);
  orva_file::makeFolders(logDir);
  // The trace is best effort: the rules are in force whether or not it is written.
  orva_file::appendLine(logDir + "/firewall.log",
                        orva_file::utcStamp() + " reload files=" + std::to_string(names.size()) +
                            " ports=" + (ports.empty() ? "none" : ports));
  return 0;
}
