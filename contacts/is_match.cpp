// Search as people type it: the key and the fields folded (case for all of
// Unicode, accents off, white space as one blank); the full name in either
// order; phone numbers by their digits; notes, addresses, nicknames and groups
// too. Every card that the plain search (the key, lower-cased by the global
// locale, as a substring of one of six fields) finds is still found.
#include <locale>
#include <string>
#include <string_view>

#include "contacts/search_text.h"
#include "module/webapi-ContactAndCalendar.h"

namespace {

// Read-only member access that tolerates any shape: a missing member, or one
// of a value that is no object, reads as null.
const Json::Value& memberOf(const Json::Value& value, const char* name) {
  if (!value.isObject()) return Json::Value::nullSingleton();
  const Json::Value* member = value.find(name, name + std::char_traits<char>::length(name));
  return member != nullptr ? *member : Json::Value::nullSingleton();
}

// A field's text: a string as it lies, null as "", numbers and booleans as
// jsoncpp spells them; false for arrays and objects (they hold no text).
bool textOf(const Json::Value& field, std::string& spare, std::string_view& text) {
  if (field.isString()) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!field.getString(&begin, &end)) return false;
    text = std::string_view(begin, static_cast<std::size_t>(end - begin));
    return true;
  }
  if (field.isNull()) {
    text = std::string_view();
    return true;
  }
  if (!field.isConvertibleTo(Json::stringValue)) return false;
  spare = field.asString();
  text = spare;
  return true;
}

// The plain search: each byte lowered through the global locale's
// ctype<char>. Run only where the folded search might not cover it: a key
// that is not UTF-8, or a global locale other than the classic one.
class PlainSearch {
 public:
  PlainSearch(const std::string& key, const std::locale& locale)
      : ctype_(std::use_facet<std::ctype<char>>(locale)), key_(key) {
    lower(key_);
  }

  // The six fields: family and given name, organisation, title, e-mail
  // addresses and phones.
  bool matches(const Json::Value& record) const {
    const Json::Value& name = memberOf(record, "name");
    const Json::Value& company = memberOf(record, "company");
    if (foundIn(memberOf(name, "family_name")) || foundIn(memberOf(name, "given_name")) ||
        foundIn(memberOf(company, "org")) || foundIn(memberOf(company, "title"))) {
      return true;
    }
    for (const char* entries : {"mail", "tel"}) {
      const Json::Value& list = memberOf(record, entries);
      if (!list.isArray()) continue;
      for (const Json::Value& entry : list) {
        if (foundIn(memberOf(entry, "data"))) return true;
      }
    }
    return false;
  }

  bool foundIn(const Json::Value& field) const {
    std::string_view text;
    if (!textOf(field, spare_, text)) return key_.empty();
    if (text.size() < key_.size()) return false;
    buffer_.assign(text);
    lower(buffer_);
    return buffer_.find(key_) != std::string::npos;
  }

 private:
  void lower(std::string& text) const {
    if (!text.empty()) ctype_.tolower(&text[0], &text[0] + text.size());
  }

  const std::ctype<char>& ctype_;
  std::string key_;
  mutable std::string buffer_;
  mutable std::string spare_;
};

class FoldedSearch {
 public:
  explicit FoldedSearch(const std::string& key) : key_(orva_search::folded(key)) {
    // Only a key with a blank inside can span two name parts.
    const std::size_t first = key_.find_first_not_of(' ');
    const std::size_t last = key_.find_last_not_of(' ');
    spansParts_ = first != std::string::npos && key_.find(' ', first) < last;
    if (orva_search::isPhoneKey(key)) orva_search::appendDigits(digits_, key);
  }

  bool foundIn(const Json::Value& field) const {
    if (!fold(field, buffer_)) return key_.empty();
    return holds(buffer_);
  }

  bool foundInData(const Json::Value& entries) const {
    if (!entries.isArray()) return false;
    for (const Json::Value& entry : entries) {
      if (foundIn(memberOf(entry, "data"))) return true;
    }
    return false;
  }

  // The phone's digits hold the key's, whatever the blanks, dashes or '+'.
  bool foundInDigits(const Json::Value& entries) const {
    if (digits_.empty() || !entries.isArray()) return false;
    for (const Json::Value& entry : entries) {
      std::string_view text;
      if (!textOf(memberOf(entry, "data"), spare_, text)) continue;
      buffer_.clear();
      orva_search::appendDigits(buffer_, text);
      if (buffer_.find(digits_) != std::string::npos) return true;
    }
    return false;
  }

  // The values of the card's own NICKNAME and CATEGORIES lines (groups),
  // which the record keeps among its other lines, each line on its own.
  bool foundInKeptLines(const Json::Value& other) const {
    std::string_view text;
    if (!other.isString() || !textOf(other, spare_, text)) return false;
    for (std::size_t at = 0; at < text.size();) {
      std::size_t end = text.find('\n', at);
      if (end == std::string_view::npos) end = text.size();
      const std::string_view line = text.substr(at, end - at);
      at = end + 1;
      const std::size_t colon = line.find(':');
      if (colon == std::string_view::npos || !isSearchedLine(line.substr(0, colon))) continue;
      buffer_.clear();
      orva_search::appendFolded(buffer_, line.substr(colon + 1));
      if (holds(buffer_)) return true;
    }
    return false;
  }

  // The family and given names, each on its own, and the full name in
  // either order: given (additional) family, family given.
  bool foundInName(const Json::Value& name) const {
    const bool hasFamily = fold(memberOf(name, "family_name"), family_);
    if (hasFamily ? holds(family_) : key_.empty()) return true;
    const bool hasGiven = fold(memberOf(name, "given_name"), given_);
    if (hasGiven ? holds(given_) : key_.empty()) return true;
    if (!spansParts_ || !hasFamily || !hasGiven) return false;
    if (joinedHolds(given_, family_) || joinedHolds(family_, given_)) return true;
    if (!fold(memberOf(name, "additional_name"), buffer_) || buffer_.empty()) return false;
    joined_.assign(given_).append(1, ' ').append(buffer_).append(1, ' ').append(family_);
    return holds(joined_);
  }

 private:
  // Folds the field into into; false when it holds no text.
  bool fold(const Json::Value& field, std::string& into) const {
    into.clear();
    std::string_view text;
    if (!textOf(field, spare_, text)) return false;
    orva_search::appendFolded(into, text);
    return true;
  }

  bool holds(const std::string& folded) const { return folded.find(key_) != std::string::npos; }

  // NICKNAME or CATEGORIES, with or without a group and parameters.
  static bool isSearchedLine(std::string_view head) {
    head = head.substr(0, head.find(';'));
    const std::size_t dot = head.find('.');
    if (dot != std::string_view::npos) head.remove_prefix(dot + 1);
    return equalsUpper(head, "NICKNAME") || equalsUpper(head, "CATEGORIES");
  }

  static bool equalsUpper(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 32) : text[i];
      if (c != upper[i]) return false;
    }
    return true;
  }

  bool joinedHolds(const std::string& first, const std::string& second) const {
    joined_.assign(first).append(1, ' ').append(second);
    return holds(joined_);
  }

  std::string key_;
  std::string digits_;
  bool spansParts_ = false;
  mutable std::string buffer_;
  mutable std::string family_;
  mutable std::string given_;
  mutable std::string joined_;
  mutable std::string spare_;
};

}  // namespace

bool ContactAndCalendarHandler::isMatch(const Json::Value& record, const std::string& key) {
  const Json::Value& name = memberOf(record, "name");
  const Json::Value& company = memberOf(record, "company");
  const FoldedSearch search(key);
  if (search.foundInName(name) || search.foundIn(memberOf(company, "org")) ||
      search.foundIn(memberOf(company, "title")) || search.foundInData(memberOf(record, "mail")) ||
      search.foundInData(memberOf(record, "tel")) ||
      search.foundIn(memberOf(name, "formatted_name")) ||
      search.foundInDigits(memberOf(record, "tel")) || search.foundIn(memberOf(record, "note")) ||
      search.foundInData(memberOf(record, "adr")) ||
      search.foundInKeptLines(memberOf(record, "other"))) {
    return true;
  }
  // Folding keeps every match of the plain search for a UTF-8 key under the
  // classic locale's lower-casing; otherwise the plain search runs too.
  if (!orva_search::isUtf8(key)) return PlainSearch(key, std::locale()).matches(record);
  const std::locale locale;
  if (&std::use_facet<std::ctype<char>>(locale) ==
      &std::use_facet<std::ctype<char>>(std::locale::classic())) {
    return false;
  }
  return PlainSearch(key, locale).matches(record);
}
