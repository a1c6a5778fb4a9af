#include "appliance/base/services_file.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace orva_services {

namespace {

enum class LineKind { kBlank, kSection, kKeyValue, kBad };

LineKind classify(const std::string& rawLine, std::string& a, std::string& b) {
  std::string line = rawLine;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::string t = trim(line);
  if (t.empty() || t[0] == '#' || t[0] == ';') return LineKind::kBlank;
  if (t[0] == '[') {
    if (t.back() != ']' || t.size() < 3) return LineKind::kBad;
    a = trim(t.substr(1, t.size() - 2));
    return a.empty() ? LineKind::kBad : LineKind::kSection;
  }
  const size_t eq = t.find('=');
  if (eq == std::string::npos) return LineKind::kBad;
  a = trim(t.substr(0, eq));
  if (a.empty()) return LineKind::kBad;
  bool quoted = false;
  b = unquote(trim(t.substr(eq + 1)), quoted);
  return LineKind::kKeyValue;
}

template <typename OnLine>
void scanLines(const std::string& text, OnLine onLine) {
  size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    ++number;
    if (!onLine(text.substr(start, end - start), number)) return;
    start = end + 1;
  }
}

// A whole decimal number in 1..65535, digits only.
bool parsePort(const std::string& text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  port = std::atoi(text.c_str());
  return port >= 1 && port <= 65535;
}

}  // namespace

std::string trim(const std::string& text) {
  const char* blanks = " \t\r";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::string unquote(const std::string& text, bool& quoted) {
  quoted = text.size() >= 2 && text.front() == '"' && text.back() == '"';
  return quoted ? text.substr(1, text.size() - 2) : text;
}

bool parseText(const std::string& text, std::vector<Entry>& entries, int& errorLine) {
  std::vector<Entry> found;
  std::string section;
  bool ok = true;
  scanLines(text, [&](const std::string& line, int number) {
    std::string a, b;
    switch (classify(line, a, b)) {
      case LineKind::kBlank:
        return true;
      case LineKind::kSection:
        section = a;
        return true;
      case LineKind::kKeyValue:
        if (section.empty()) break;
        found.push_back({section, a, b});
        return true;
      case LineKind::kBad:
        break;
    }
    ok = false;
    errorLine = number;
    return false;
  });
  if (!ok) return false;
  entries.swap(found);
  errorLine = 0;
  return true;
}

std::vector<Entry> parseLenient(const std::string& text) {
  std::vector<Entry> found;
  std::string section;
  scanLines(text, [&](const std::string& line, int) {
    std::string a, b;
    const LineKind kind = classify(line, a, b);
    if (kind == LineKind::kSection) section = a;
    if (kind == LineKind::kKeyValue && !section.empty()) found.push_back({section, a, b});
    return true;
  });
  return found;
}

bool parsePorts(const std::string& value, PortList& out) {
  std::string ports = trim(value);
  PortList list;
  const size_t slash = ports.find('/');
  if (slash != std::string::npos) {
    const std::string protocol = trim(ports.substr(slash + 1));
    ports = trim(ports.substr(0, slash));
    if (protocol == "tcp") {
      list.tcp = true;
    } else if (protocol == "udp") {
      list.tcp = false;
      list.udp = true;
    } else if (protocol == "tcp,udp" || protocol == "udp,tcp") {
      list.tcp = list.udp = true;
    } else {
      return false;
    }
  }
  if (ports.empty()) return false;
  size_t start = 0;
  for (;;) {
    const size_t comma = ports.find(',', start);
    const std::string item =
        trim(ports.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    const size_t colon = item.find(':');
    PortRange range{};
    if (colon == std::string::npos) {
      if (!parsePort(item, range.first)) return false;
      range.last = range.first;
    } else if (!parsePort(trim(item.substr(0, colon)), range.first) ||
               !parsePort(trim(item.substr(colon + 1)), range.last) || range.last < range.first) {
      return false;
    }
    list.ranges.push_back(range);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  out = list;
  return true;
}

bool listServiceFiles(const std::string& folder, std::vector<std::string>& names) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  std::vector<std::string> found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    struct stat st {};
    // A name that cannot be looked at (a dangling link) is kept, so that the
    // reader finds it unreadable instead of silently missing it.
    if (::stat((folder + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    found.push_back(name);
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end());
  names.swap(found);
  return true;
}

}  // namespace orva_services
