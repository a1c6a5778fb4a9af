// The firewall's service-definition files (services.d/*.sc): INI-style text
// with "[section]" lines and "key=value" lines, the value optionally in double
// quotes; blank lines and lines starting with '#' or ';' are comments. A
// section's "dst.ports" value lists its ports: "9000/tcp", "80,443/tcp",
// "6000:6010/udp"; no protocol means tcp.
#pragma once

#include <string>
#include <vector>

namespace orva_services {

// Where the service definitions live (an appliance path, resolve it under the
// root) and the server's own file in it.
constexpr const char* kServicesDir = "/usr/local/etc/services.d";
constexpr const char* kOwnServiceFile = "Tessaro.sc";
constexpr const char* kPortsKey = "dst.ports";

struct PortRange {
  int first;
  int last;
};

struct PortList {
  std::vector<PortRange> ranges;
  bool tcp = true;
  bool udp = false;
};

struct Entry {
  std::string section;
  std::string key;
  std::string value;  // without its quotes
};

// Parses a whole file. Strict: false (with the 1-based line in errorLine) at
// the first line that is neither blank, comment, section nor key=value, or at
// a key before any section.
bool parseText(const std::string& text, std::vector<Entry>& entries, int& errorLine);
// Lenient: the entries of every line that parses; the rest is skipped.
std::vector<Entry> parseLenient(const std::string& text);

// Parses a dst.ports value; false when it is not a list of ports or ranges in
// 1..65535 with an optional "/tcp", "/udp" or "/tcp,udp".
bool parsePorts(const std::string& value, PortList& out);

// Names of the service files in the folder (regular files, not starting with
// '.'), sorted; false when the folder cannot be read.
bool listServiceFiles(const std::string& folder, std::vector<std::string>& names);

// Helpers for line scanning, shared with the INI writer.
std::string trim(const std::string& text);
// Strips one pair of surrounding double quotes; quoted tells whether it had them.
std::string unquote(const std::string& text, bool& quoted);

}  // namespace orva_services
