#include "contacts/csv_card.h"

#include <cstdlib>
#include <map>

#include "vcard/text_escape.h"

namespace orva_contacts {

namespace {

using orva_vcard::escapedTyped;

// A value without blanks at either end and without control characters
// other than line breaks and tab (a tab becomes a blank).
std::string cleaned(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\t') {
      out.push_back(' ');
    } else if (byte >= 0x20 && byte != 0x7F) {
      out.push_back(c);
    } else if (c == '\n' || c == '\r') {
      out.push_back(c);
    }
  }
  const std::size_t first = out.find_first_not_of(" \r\n");
  if (first == std::string::npos) return "";
  const std::size_t last = out.find_last_not_of(" \r\n");
  return out.substr(first, last - first + 1);
}

// One line of text: line breaks become blanks (URLs, phones, addresses' e-mail).
std::string oneLine(std::string_view text) {
  std::string out = cleaned(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

std::vector<std::string> splitOn(std::string_view text, std::string_view separator) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = text.find(separator, from);
    const std::string part = cleaned(text.substr(from, at - from));
    if (!part.empty()) parts.push_back(part);
    if (at == std::string_view::npos) break;
    from = at + separator.size();
  }
  return parts;
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// What Google's label of an entry says: vCard types, or a label of its own.
struct LabelTypes {
  std::string types;
  std::string custom;
};

LabelTypes typesOfLabel(CsvField field, std::string_view label) {
  LabelTypes out;
  std::string text = cleaned(label);
  bool preferred = false;
  if (text.rfind("* ", 0) == 0) {
    preferred = true;
    text = text.substr(2);
  }
  static const std::map<std::string, std::string> kPhone = {{"mobile", "CELL"},
                                                            {"cell", "CELL"},
                                                            {"home", "HOME"},
                                                            {"work", "WORK"},
                                                            {"home fax", "HOME,FAX"},
                                                            {"work fax", "WORK,FAX"},
                                                            {"fax", "FAX"},
                                                            {"pager", "PAGER"},
                                                            {"other", ""},
                                                            {"main", "PREF"},
                                                            {"work mobile", "WORK,CELL"},
                                                            {"work pager", "WORK,PAGER"}};
  static const std::map<std::string, std::string> kOther = {
      {"home", "HOME"}, {"work", "WORK"}, {"other", ""}, {"homepage", ""}, {"home page", ""}};
  const auto& table = field == CsvField::kPhone ? kPhone : kOther;
  const auto known = table.find(lowered(text));
  if (known != table.end()) {
    out.types = known->second;
  } else {
    out.custom = text;
  }
  if (preferred) out.types += out.types.empty() ? "PREF" : ",PREF";
  return out;
}

std::string typeParameter(const std::string& types) {
  return types.empty() ? "" : ";TYPE=" + types;
}

// The columns of one entry or address.
struct Entry {
  CsvField field = CsvField::kIgnore;
  std::string types;
  std::string label;
  std::vector<std::string> values;        // e-mail, phone, URL: one line each
  std::map<CsvField, std::string> parts;  // address parts
};

std::string componentsOf(const std::vector<std::string>& components) {
  std::string out;
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (i > 0) out.push_back(';');
    out += escapedTyped(components[i]);
  }
  return out;
}

bool anyOf(const std::vector<std::string>& texts) {
  for (const std::string& text : texts) {
    if (!text.empty()) return true;
  }
  return false;
}

int numberAt(std::string_view text, std::size_t& pos) {
  int value = 0;
  const std::size_t start = pos;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 4) {
    value = value * 10 + (text[pos++] - '0');
  }
  return pos == start ? -1 : value;
}

std::string twoDigits(int value) {
  return std::string(1, static_cast<char>('0' + value / 10)) + static_cast<char>('0' + value % 10);
}

}  // namespace

std::string csvDate(std::string_view text, bool dayFirst) {
  const std::string date = oneLine(text);
  if (date.size() >= 8 && date[4] == '-' && date[7] == '-') return date;  // ISO already
  if (date.rfind("--", 0) == 0) return date;
  std::size_t pos = 0;
  const int first = numberAt(date, pos);
  if (first < 0 || pos >= date.size() || (date[pos] != '/' && date[pos] != '.' && date[pos] != '-'))
    return date;
  const char separator = date[pos++];
  const int second = numberAt(date, pos);
  if (second < 0 || pos >= date.size() || date[pos] != separator) return date;
  ++pos;
  const std::size_t yearStart = pos;
  int year = numberAt(date, pos);
  if (year < 0 || pos != date.size()) return date;
  if (first == 0 && second == 0) return "";  // Outlook's "no date"
  if (pos - yearStart <= 2) year += year < 30 ? 2000 : 1900;
  int day = separator == '/' && !dayFirst ? second : first;
  int month = separator == '/' && !dayFirst ? first : second;
  if (month > 12 && day <= 12) std::swap(day, month);
  if (month < 1 || month > 12 || day < 1 || day > 31) return date;
  return std::to_string(year) + "-" + twoDigits(month) + "-" + twoDigits(day);
}

std::string csvRowCard(const CsvLayout& layout, const std::vector<std::string>& fields,
                       bool dayFirst) {
  std::map<CsvField, std::string> single;
  std::vector<int> order;
  std::map<int, Entry> entries;
  std::vector<std::string> categories;
  bool any = false;
  for (std::size_t i = 0; i < layout.columns.size() && i < fields.size(); ++i) {
    const CsvColumn& column = layout.columns[i];
    if (column.field == CsvField::kIgnore) continue;
    const std::string value = cleaned(fields[i]);
    if (value.empty()) continue;
    if (column.slot < 0) {
      if (column.field == CsvField::kCategories) {
        for (const std::string& group : splitOn(value, " ::: ")) {
          for (std::string name : splitOn(group, ";")) {
            if (name.rfind("* ", 0) == 0) name = name.substr(2);  // Google's own groups
            if (lowered(name) != "mycontacts" && lowered(name) != "starred") {
              categories.push_back(name);
            }
          }
        }
        any = true;
        continue;
      }
      std::string& kept = single[column.field];
      // Outlook's further street lines, and repeated columns, add lines.
      kept += kept.empty() ? value : "\n" + value;
      any = true;
      continue;
    }
    if (entries.count(column.slot) == 0) order.push_back(column.slot);
    Entry& entry = entries[column.slot];
    if (column.field == CsvField::kLabel) {
      entry.label = value;
      continue;
    }
    any = true;
    if (entry.field == CsvField::kIgnore || column.field == CsvField::kEmail ||
        column.field == CsvField::kPhone || column.field == CsvField::kUrl) {
      entry.field = column.field;
    }
    entry.types = column.types;
    if (column.field == CsvField::kEmail || column.field == CsvField::kPhone ||
        column.field == CsvField::kUrl) {
      for (const std::string& one : splitOn(value, " ::: ")) entry.values.push_back(oneLine(one));
    } else if (column.field == CsvField::kCompany || column.field == CsvField::kTitle ||
               column.field == CsvField::kDepartment) {
      std::string& kept = single[column.field];
      if (kept.empty()) kept = value;
    } else {
      std::string& part = entry.parts[column.field];
      part += part.empty() ? value : "\n" + value;
    }
  }
  if (!any) return "";

  const auto field = [&](CsvField which) {
    const auto found = single.find(which);
    return found == single.end() ? std::string() : found->second;
  };
  // What the card holds besides FN; a row of empty dates alone is no card.
  std::string card;
  std::string fullName = oneLine(field(CsvField::kFullName));
  const std::vector<std::string> name = {field(CsvField::kFamilyName), field(CsvField::kGivenName),
                                         field(CsvField::kMiddleName), field(CsvField::kPrefix),
                                         field(CsvField::kSuffix)};
  if (fullName.empty()) {
    for (const std::string& part : {name[3], name[1], name[2], name[0], name[4]}) {
      if (!part.empty()) fullName += (fullName.empty() ? "" : " ") + oneLine(part);
    }
  }
  std::string firstMail, firstPhone;
  for (const int slot : order) {
    const Entry& entry = entries[slot];
    if (entry.values.empty()) continue;
    if (entry.field == CsvField::kEmail && firstMail.empty()) firstMail = entry.values.front();
    if (entry.field == CsvField::kPhone && firstPhone.empty()) firstPhone = entry.values.front();
  }
  if (fullName.empty()) fullName = oneLine(field(CsvField::kCompany));
  if (fullName.empty()) fullName = firstMail.empty() ? firstPhone : firstMail;
  if (anyOf(name)) card += "N:" + componentsOf(name) + "\r\n";
  const std::string nickname = field(CsvField::kNickname);
  if (!nickname.empty()) card += "NICKNAME:" + escapedTyped(oneLine(nickname)) + "\r\n";
  const std::vector<std::string> org = {field(CsvField::kCompany), field(CsvField::kDepartment)};
  if (anyOf(org)) {
    card += "ORG:" + componentsOf(org[1].empty() ? std::vector<std::string>{org[0]} : org) + "\r\n";
  }
  const std::string title = field(CsvField::kTitle);
  if (!title.empty()) card += "TITLE:" + escapedTyped(title) + "\r\n";
  const std::string birthday = csvDate(field(CsvField::kBirthday), dayFirst);
  if (!birthday.empty()) card += "BDAY:" + escapedTyped(birthday) + "\r\n";
  const std::string anniversary = csvDate(field(CsvField::kAnniversary), dayFirst);
  if (!anniversary.empty()) card += "X-ANNIVERSARY:" + escapedTyped(anniversary) + "\r\n";

  int group = 0;
  for (const int slot : order) {
    const Entry& entry = entries[slot];
    if (entry.field == CsvField::kIgnore || entry.field == CsvField::kCompany ||
        entry.field == CsvField::kTitle || entry.field == CsvField::kDepartment) {
      continue;
    }
    std::string types = entry.types;
    std::string prefix;
    std::string labelLine;
    if (!entry.label.empty()) {
      const LabelTypes label = typesOfLabel(entry.field, entry.label);
      types = label.types;
      if (!label.custom.empty()) {
        prefix = "item" + std::to_string(++group) + ".";
        labelLine = prefix + "X-ABLabel:" + escapedTyped(oneLine(label.custom)) + "\r\n";
      }
    }
    const std::string parameters = typeParameter(types);
    if (entry.field == CsvField::kEmail || entry.field == CsvField::kPhone ||
        entry.field == CsvField::kUrl) {
      const char* property = entry.field == CsvField::kEmail   ? "EMAIL"
                             : entry.field == CsvField::kPhone ? "TEL"
                                                               : "URL";
      for (const std::string& value : entry.values) {
        card += prefix + property + parameters + ":" + value + "\r\n";
      }
    } else {
      const auto part = [&](CsvField which) {
        const auto found = entry.parts.find(which);
        return found == entry.parts.end() ? std::string() : found->second;
      };
      std::string street = part(CsvField::kStreet);
      const bool hasParts = !street.empty() || !part(CsvField::kCity).empty() ||
                            !part(CsvField::kPostcode).empty() ||
                            !part(CsvField::kCountry).empty() || !part(CsvField::kRegion).empty() ||
                            !part(CsvField::kPoBox).empty();
      if (!hasParts) street = part(CsvField::kAddress);
      card += prefix + "ADR" + parameters + ":" +
              componentsOf({part(CsvField::kPoBox), part(CsvField::kExtended), street,
                            part(CsvField::kCity), part(CsvField::kRegion),
                            part(CsvField::kPostcode), part(CsvField::kCountry)}) +
              "\r\n";
    }
    card += labelLine;
  }
  if (!categories.empty()) {
    std::string line = "CATEGORIES:";
    for (std::size_t i = 0; i < categories.size(); ++i) {
      line += (i > 0 ? "," : "") + escapedTyped(oneLine(categories[i]));
    }
    card += line + "\r\n";
  }
  const std::string note = field(CsvField::kNote);
  if (!note.empty()) card += "NOTE:" + escapedTyped(note) + "\r\n";
  if (card.empty()) return "";
  return "BEGIN:VCARD\r\nFN:" + escapedTyped(fullName) + "\r\n" + card + "END:VCARD\r\n";
}

}  // namespace orva_contacts
