#include "contacts/csv_columns.h"

#include <map>
#include <string_view>

namespace orva_contacts {

namespace {

constexpr int G = 1;  // Google Contacts
constexpr int O = 2;  // Outlook
constexpr int X = 4;  // a guess

struct HeaderName {
  const char* header;
  const char* target;
  int sets;
};

constexpr HeaderName kHeaderNames[] = {
#include "contacts/csv_header_names.inc"
};

struct FieldName {
  const char* name;
  CsvField field;
};

constexpr FieldName kFieldNames[] = {
    {"full_name", CsvField::kFullName},
    {"given_name", CsvField::kGivenName},
    {"middle_name", CsvField::kMiddleName},
    {"family_name", CsvField::kFamilyName},
    {"prefix", CsvField::kPrefix},
    {"suffix", CsvField::kSuffix},
    {"nickname", CsvField::kNickname},
    {"company", CsvField::kCompany},
    {"department", CsvField::kDepartment},
    {"title", CsvField::kTitle},
    {"birthday", CsvField::kBirthday},
    {"anniversary", CsvField::kAnniversary},
    {"note", CsvField::kNote},
    {"categories", CsvField::kCategories},
    {"email", CsvField::kEmail},
    {"phone", CsvField::kPhone},
    {"url", CsvField::kUrl},
    {"street", CsvField::kStreet},
    {"extended", CsvField::kExtended},
    {"pobox", CsvField::kPoBox},
    {"city", CsvField::kCity},
    {"region", CsvField::kRegion},
    {"postcode", CsvField::kPostcode},
    {"country", CsvField::kCountry},
    {"address", CsvField::kAddress},
};

bool isAddressPart(CsvField field) {
  return field >= CsvField::kStreet && field <= CsvField::kAddress;
}

bool takesTypes(CsvField field) {
  return field == CsvField::kEmail || field == CsvField::kPhone || field == CsvField::kUrl ||
         isAddressPart(field);
}

// Lower case (ASCII letters), blanks at either end and repeated blanks gone.
std::string normalName(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '"') {
      if (!out.empty() && out.back() != ' ') out.push_back(' ');
      continue;
    }
    out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// "name[:types]" into a column; false for an unknown name or types on a
// field that takes none.
bool readTarget(std::string_view target, CsvColumn& column) {
  column = CsvColumn();
  if (target.empty()) return true;
  const std::size_t colon = target.find(':');
  const std::string_view name = target.substr(0, colon);
  for (const FieldName& known : kFieldNames) {
    if (name == known.name) column.field = known.field;
  }
  if (column.field == CsvField::kIgnore) return false;
  if (colon == std::string_view::npos) return true;
  if (!takesTypes(column.field)) return false;
  for (const char c : target.substr(colon + 1)) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && c != ',' && c != '-') return false;
    column.types.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return true;
}

// Columns of one entry share a slot: the parts of an address of one type,
// and Google's numbered columns of one entry ("E-mail 2 - Value" and
// "E-mail 2 - Label").
class Slots {
 public:
  int of(const std::string& key) {
    const auto found = keys_.find(key);
    if (found != keys_.end()) return found->second;
    const int slot = next_++;
    keys_.emplace(key, slot);
    return slot;
  }
  int fresh() { return next_++; }

 private:
  std::map<std::string, int> keys_;
  int next_ = 0;
};

// Entries and addresses get a slot; the card's single fields have none.
void giveSlot(CsvColumn& column, Slots& slots) {
  if (isAddressPart(column.field)) {
    column.slot = slots.of("adr:" + column.types);
  } else if (takesTypes(column.field)) {
    column.slot = slots.fresh();
  }
}

// Google's numbered columns: "<Kind> <n> - <Part>".
bool readNumbered(const std::string& name, CsvColumn& column, Slots& slots) {
  const std::size_t dash = name.find(" - ");
  if (dash == std::string::npos) return false;
  const std::string entry = name.substr(0, dash);
  const std::string part = name.substr(dash + 3);
  const std::size_t blank = entry.rfind(' ');
  if (blank == std::string::npos ||
      entry.find_first_not_of("0123456789", blank + 1) != std::string::npos) {
    return false;
  }
  const std::string kind = entry.substr(0, blank);
  static const std::map<std::string, std::map<std::string, CsvField>> kParts = {
      {"e-mail", {{"value", CsvField::kEmail}}},
      {"phone", {{"value", CsvField::kPhone}}},
      {"website", {{"value", CsvField::kUrl}}},
      {"address",
       {{"formatted", CsvField::kAddress},
        {"street", CsvField::kStreet},
        {"city", CsvField::kCity},
        {"po box", CsvField::kPoBox},
        {"region", CsvField::kRegion},
        {"postal code", CsvField::kPostcode},
        {"country", CsvField::kCountry},
        {"extended address", CsvField::kExtended}}},
      {"organization",
       {{"name", CsvField::kCompany},
        {"title", CsvField::kTitle},
        {"department", CsvField::kDepartment}}},
  };
  const auto parts = kParts.find(kind);
  if (parts == kParts.end()) {
    column = CsvColumn();  // a kind the card has no place for
    return true;
  }
  column = CsvColumn();
  if (part == "label" || part == "type") {
    column.field = kind == "organization" ? CsvField::kIgnore : CsvField::kLabel;
  } else {
    const auto field = parts->second.find(part);
    if (field != parts->second.end()) column.field = field->second;
  }
  // Only the first organisation has a place on the card.
  if (kind == "organization" && entry != "organization 1") column.field = CsvField::kIgnore;
  column.slot = slots.of(entry);
  return true;
}

}  // namespace

bool CsvLayout::hasNameMailOrPhone() const {
  for (const CsvColumn& column : columns) {
    switch (column.field) {
      case CsvField::kFullName:
      case CsvField::kGivenName:
      case CsvField::kMiddleName:
      case CsvField::kFamilyName:
      case CsvField::kNickname:
      case CsvField::kEmail:
      case CsvField::kPhone:
        return true;
      default:
        break;
    }
  }
  return false;
}

CsvLayout layoutOfHeader(const std::vector<std::string>& header) {
  CsvLayout layout;
  Slots slots;
  std::map<std::string, int> seen;  // how often each name came before
  int google = 0;
  int outlook = 0;
  for (const std::string& text : header) {
    const std::string name = normalName(text);
    CsvColumn column;
    if (readNumbered(name, column, slots)) {
      ++google;
      layout.columns.push_back(column);
      continue;
    }
    const int occurrence = seen[name]++;
    int match = -1;
    int count = 0;
    for (int i = 0; i < static_cast<int>(std::size(kHeaderNames)); ++i) {
      if (name != kHeaderNames[i].header) continue;
      if (count == 0 || count <= occurrence) match = i;
      ++count;
    }
    if (match >= 0 && readTarget(kHeaderNames[match].target, column)) {
      giveSlot(column, slots);
      google += (kHeaderNames[match].sets & G) != 0;
      outlook += (kHeaderNames[match].sets & O) != 0;
    }
    layout.columns.push_back(column);
  }
  // Known when one export's names clearly outnumber the other's.
  if (google >= 3 && google > outlook) layout.known = "google";
  if (outlook >= 3 && outlook > google) layout.known = "outlook";
  return layout;
}

bool layoutOfTargets(const Json::Value& targets, std::size_t columns, CsvLayout& layout,
                     std::string& fault) {
  layout = CsvLayout();
  if (!targets.isArray()) {
    fault = "the columns are not a list of names";
    return false;
  }
  Slots slots;
  for (Json::ArrayIndex i = 0; i < targets.size() && i < columns; ++i) {
    CsvColumn column;
    if (!targets[i].isString() || !readTarget(targets[i].asString(), column)) {
      fault = "column " + std::to_string(i + 1) + ": not a target name";
      return false;
    }
    if (column.field != CsvField::kIgnore) giveSlot(column, slots);
    layout.columns.push_back(column);
  }
  layout.columns.resize(columns);
  return true;
}

std::string targetOf(const CsvColumn& column) {
  for (const FieldName& known : kFieldNames) {
    if (known.field != column.field) continue;
    std::string target = known.name;
    if (!column.types.empty()) {
      target += ":";
      for (const char c : column.types) {
        target.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
      }
    }
    return target;
  }
  return "";
}

}  // namespace orva_contacts
