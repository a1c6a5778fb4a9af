// OLIBCFileSetSectionValue: sets one key of one section of an INI-style file
// and keeps every other line as it was.
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"
#include "appliance/base/services_file.h"
#include "platform/system_services.h"

namespace {

using orva_services::trim;

bool validName(const std::string& text, const char* forbidden) {
  return !text.empty() && trim(text) == text && text.find_first_of(forbidden) == std::string::npos;
}

// The section named by a "[name]" line, or "" when the line is not one.
std::string sectionOf(const std::string& line) {
  const std::string t = trim(line);
  if (t.size() < 3 || t.front() != '[' || t.back() != ']') return "";
  return trim(t.substr(1, t.size() - 2));
}

bool isComment(const std::string& t) { return t.empty() || t[0] == '#' || t[0] == ';'; }

// Rewrites "key = old" as "key = value", keeping the spacing, the quoting
// style and a trailing CR of the original line.
std::string rewriteValue(const std::string& line, size_t eq, const std::string& value) {
  std::string body = line;
  std::string cr;
  if (!body.empty() && body.back() == '\r') {
    body.pop_back();
    cr = "\r";
  }
  size_t valueStart = body.find_first_not_of(" \t", eq + 1);
  if (valueStart == std::string::npos) valueStart = body.size();
  bool quoted = false;
  orva_services::unquote(trim(body.substr(valueStart)), quoted);
  const std::string newValue = quoted ? "\"" + value + "\"" : value;
  return body.substr(0, valueStart) + newValue + cr;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

extern "C" int OLIBCFileSetSectionValue(const char* file, const char* section, const char* key,
                                        const char* value) {
  if (file == nullptr || section == nullptr || key == nullptr || value == nullptr) return -1;
  if (file[0] != '/') return -1;
  const std::string sectionName = section;
  const std::string keyName = key;
  const std::string newValue = value;
  // Anything that would change the file's line structure is refused.
  if (!validName(sectionName, "[]\r\n") || !validName(keyName, "=\r\n[") ||
      newValue.find_first_of("\r\n") != std::string::npos) {
    return -1;
  }

  const std::string path = orva_root::underRoot(file);
  std::string text;
  if (!orva_file::readWhole(path, text)) {
    struct stat st {};
    // Only a file that is not there yet may be created; anything else that
    // cannot be read is a failure.
    if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) return -1;
    text.clear();
  }

  std::vector<std::string> lines = splitLines(text);
  std::string current;
  bool sectionSeen = false;
  bool keySet = false;
  size_t insertAfter = 0;  // last content line of the section's first block
  bool inFirstBlock = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string t = trim(lines[i]);
    const std::string name = sectionOf(lines[i]);
    if (!name.empty()) {
      current = name;
      inFirstBlock = !sectionSeen && current == sectionName;
      if (inFirstBlock) {
        sectionSeen = true;
        insertAfter = i;
      }
      continue;
    }
    if (current != sectionName || isComment(t)) continue;
    if (inFirstBlock) insertAfter = i;
    const size_t eq = lines[i].find('=');
    if (eq == std::string::npos || trim(lines[i].substr(0, eq)) != keyName) continue;
    // Every copy of the key in the section gets the value, whichever a reader takes.
    lines[i] = rewriteValue(lines[i], eq, newValue);
    keySet = true;
  }

  const std::string newLine = keyName + "=\"" + newValue + "\"";
  if (!keySet && sectionSeen) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAfter) + 1, newLine);
  } else if (!keySet) {
    if (!lines.empty() && !trim(lines.back()).empty()) lines.push_back("");
    lines.push_back("[" + sectionName + "]");
    lines.push_back(newLine);
  }

  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return orva_file::writeAtomic(path, out) ? 0 : -1;
}

extern "C" int OLIBCFileGetSectionValue(const char* file, const char* section, const char* key,
                                        char* value, size_t size) {
  if (file == nullptr || section == nullptr || key == nullptr || value == nullptr || size == 0 ||
      file[0] != '/') {
    return -1;
  }
  std::string text;
  if (!orva_file::readWhole(orva_root::underRoot(file), text)) return -1;
  const std::string* found = nullptr;
  const std::vector<orva_services::Entry> entries = orva_services::parseLenient(text);
  for (const orva_services::Entry& entry : entries) {
    if (entry.section != section || entry.key != key) continue;
    // Copies that disagree have no one value.
    if (found != nullptr && *found != entry.value) return -1;
    found = &entry.value;
  }
  if (found == nullptr || found->size() >= size) return -1;
  found->copy(value, found->size());
  value[found->size()] = '\0';
  return 0;
}
