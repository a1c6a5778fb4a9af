// A card's properties as the no-loss promise compares them, read by a small
// parser of its own (not the module's reader): one text per property,
// "group.NAME;TYPE=sorted,values;SORTED;OTHER=params:value", with what the
// promise lets change left out: empty NOTE and N, trailing empty components
// of N and ORG, the letter case of names, how a type list is spelled and
// whether a ',' or ';' of a text value is escaped (the writer escapes them
// as vCard wants; both spellings read as the same text).
#pragma once

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace card_properties {

inline std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

inline std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

inline std::string withoutQuotes(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '"') out += c;
  }
  return out;
}

// A text value with every ',' (and, when semicolons is set, every ';')
// escaped, and every backslash that starts no escape doubled.
inline std::string escapedText(const std::string& value, bool semicolons) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\\' && i + 1 < value.size() &&
        std::string("\\,;nN").find(value[i + 1]) != std::string::npos) {
      out += value.substr(i++, 2);
    } else if (c == '\\' || c == ',' || (c == ';' && semicolons)) {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  return out;
}

// One content line as compared, or "" for a line the promise ignores.
inline std::string property(const std::string& line) {
  size_t i = line.find_first_of(";:");
  if (i == std::string::npos) return "!" + line;  // never in a loadable card
  std::string name = line.substr(0, i);
  std::string group;
  if (const size_t dot = name.find('.'); dot != std::string::npos) {
    group = lower(name.substr(0, dot));
    name = name.substr(dot + 1);
  }
  name = upper(name);
  std::vector<std::string> params;
  bool quoted = false;
  size_t start = i;
  for (; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (quoted || (line[i] != ';' && line[i] != ':')) continue;
    if (i > start + 1) params.push_back(line.substr(start + 1, i - start - 1));
    start = i;
    if (line[i] == ':') break;
  }
  std::string value = i < line.size() ? line.substr(i + 1) : "";
  if (name == "BEGIN" || name == "END") return "";
  const bool text = name == "FN" || name == "NOTE" || name == "TITLE" || name == "BDAY";
  if (text || name == "N" || name == "ORG") value = escapedText(value, text);
  if (name == "NOTE") {
    for (size_t at = value.find("\\N"); at != std::string::npos; at = value.find("\\N", at)) {
      value[at + 1] = 'n';
    }
  }
  if (name == "N" || name == "ORG") {
    while (!value.empty() && value.back() == ';') value.pop_back();
  }
  if ((name == "NOTE" || name == "N") && value.empty()) return "";
  std::vector<std::string> types;
  std::vector<std::string> others;
  for (const std::string& param : params) {
    const size_t equals = param.find('=');
    const std::string paramName = upper(param.substr(0, equals));
    if (paramName == "TYPE" && equals != std::string::npos) {
      std::string values = withoutQuotes(param.substr(equals + 1));
      for (size_t from = 0;;) {
        const size_t comma = values.find(',', from);
        const std::string one = values.substr(from, comma - from);
        if (!one.empty()) types.push_back(one);
        if (comma == std::string::npos) break;
        from = comma + 1;
      }
    } else {
      others.push_back(paramName + (equals == std::string::npos ? "" : param.substr(equals)));
    }
  }
  std::sort(types.begin(), types.end());
  std::sort(others.begin(), others.end());
  std::string out = group + "." + name;
  out += ";TYPE=";
  for (const std::string& type : types) out += type + ",";
  for (const std::string& other : others) out += ";" + other;
  return out + ":" + value;
}

// Every property of a CR LF card text, folds undone.
inline std::multiset<std::string> of(const std::string& text) {
  std::string unfolded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "\r\n ") == 0 || text.compare(i, 3, "\r\n\t") == 0) {
      i += 2;
      continue;
    }
    unfolded += text[i];
  }
  std::multiset<std::string> properties;
  for (size_t start = 0; start < unfolded.size();) {
    size_t end = unfolded.find("\r\n", start);
    if (end == std::string::npos) end = unfolded.size();
    const std::string line = unfolded.substr(start, end - start);
    if (!line.empty()) {
      std::string one = property(line);
      if (!one.empty()) properties.insert(std::move(one));
    }
    start = end + 2;
  }
  return properties;
}

// The properties of a that b lacks, one per line, for failure messages.
inline std::string missingFrom(const std::multiset<std::string>& a,
                               const std::multiset<std::string>& b) {
  std::vector<std::string> missing;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(missing));
  std::string out;
  for (const std::string& one : missing) out += "  " + one + "\n";
  return out;
}

}  // namespace card_properties
