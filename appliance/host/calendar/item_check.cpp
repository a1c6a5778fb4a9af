#include "appliance/host/calendar/item_check.h"

#include <set>
#include <vector>

#include "appliance/host/calendar/ics_items.h"
#include "appliance/store/text_rules.h"

namespace orva_calendar {

namespace {

bool isDigits(const std::string& text, std::size_t from, std::size_t count) {
  if (from + count > text.size()) return false;
  for (std::size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

int number(const std::string& text, std::size_t from, std::size_t count) {
  return std::stoi(text.substr(from, count));
}

// YYYYMMDD or YYYYMMDDTHHMMSS[Z].
bool isDateOrDateTime(const std::string& text) {
  if (!isDigits(text, 0, 8)) return false;
  const int month = number(text, 4, 2), day = number(text, 6, 2);
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;
  if (text.size() == 8) return true;
  if (text.size() != 15 && !(text.size() == 16 && text[15] == 'Z')) return false;
  if (text[8] != 'T' || !isDigits(text, 9, 6)) return false;
  return number(text, 9, 2) <= 23 && number(text, 11, 2) <= 59 && number(text, 13, 2) <= 60;
}

// [+-]P(nW | [nD][T[nH][nM][nS]]).
bool isDuration(const std::string& text) {
  std::size_t pos = 0;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
  if (pos >= text.size() || text[pos++] != 'P') return false;
  bool any = false, time = false;
  while (pos < text.size()) {
    if (text[pos] == 'T' && !time) {
      time = true;
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
    if (pos == start || pos >= text.size()) return false;
    const char unit = text[pos++];
    const bool ok =
        time ? (unit == 'H' || unit == 'M' || unit == 'S') : (unit == 'W' || unit == 'D');
    if (!ok) return false;
    any = true;
  }
  return any;
}

bool isUtcOffset(const std::string& text) {
  return (text.size() == 5 || text.size() == 7) && (text[0] == '+' || text[0] == '-') &&
         isDigits(text, 1, text.size() - 1) && number(text, 1, 2) <= 23 && number(text, 3, 2) <= 59;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

bool isInteger(const std::string& text, bool signedAllowed) {
  std::size_t pos = signedAllowed && !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  return pos < text.size() && text.size() - pos <= 9 && isDigits(text, pos, text.size() - pos);
}

bool isWeekday(const std::string& text) {
  static const std::set<std::string> kDays = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};
  return kDays.count(text) > 0;
}

std::string ruleRefusal(const std::string& value) {
  static const std::set<std::string> kFrequencies = {"SECONDLY", "MINUTELY", "HOURLY", "DAILY",
                                                     "WEEKLY",   "MONTHLY",  "YEARLY"};
  static const std::set<std::string> kNumberLists = {"BYSECOND",   "BYMINUTE",  "BYHOUR",
                                                     "BYMONTHDAY", "BYYEARDAY", "BYWEEKNO",
                                                     "BYMONTH",    "BYSETPOS"};
  bool frequency = false;
  for (const std::string& part : split(upperAscii(value), ';')) {
    const std::size_t equals = part.find('=');
    if (equals == std::string::npos) return "a recurrence rule part without '='";
    const std::string key = part.substr(0, equals), text = part.substr(equals + 1);
    if (key == "FREQ") {
      if (kFrequencies.count(text) == 0) return "a recurrence rule's FREQ that is not known";
      frequency = true;
    } else if (key == "UNTIL") {
      if (!isDateOrDateTime(text)) return "a recurrence rule's UNTIL that is no date";
    } else if (key == "COUNT" || key == "INTERVAL") {
      if (!isInteger(text, false)) return "a recurrence rule's " + key + " that is no number";
    } else if (key == "WKST") {
      if (!isWeekday(text)) return "a recurrence rule's WKST that is no weekday";
    } else if (key == "BYDAY") {
      for (const std::string& day : split(text, ',')) {
        if (day.size() < 2 || !isWeekday(day.substr(day.size() - 2)) ||
            (day.size() > 2 && !isInteger(day.substr(0, day.size() - 2), true))) {
          return "a recurrence rule's BYDAY that does not read";
        }
      }
    } else if (kNumberLists.count(key) > 0) {
      for (const std::string& item : split(text, ',')) {
        if (!isInteger(item, true)) return "a recurrence rule's " + key + " that does not read";
      }
    } else if (key.rfind("X-", 0) != 0) {
      return "a recurrence rule part that is not known: " + key;
    }
  }
  return frequency ? "" : "a recurrence rule without FREQ";
}

struct Line {
  std::string name;
  std::string value;
  std::string valueType;  // the VALUE parameter, upper case
};

// Parses an unfolded line; "" when it is a property line.
std::string parseLine(const std::string& text, Line& line) {
  std::size_t pos = 0;
  const auto isNameChar = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
  };
  while (pos < text.size() && isNameChar(text[pos])) ++pos;
  if (pos == 0) return "a line that is not a property line";
  line.name = upperAscii(text.substr(0, pos));
  line.valueType.clear();
  while (pos < text.size() && text[pos] == ';') {
    const std::size_t start = ++pos;
    while (pos < text.size() && isNameChar(text[pos])) ++pos;
    const std::string parameter = upperAscii(text.substr(start, pos - start));
    if (parameter.empty() || pos >= text.size() || text[pos] != '=') {
      return "a malformed parameter on " + line.name;
    }
    do {
      ++pos;
      const std::size_t valueStart = pos;
      if (pos < text.size() && text[pos] == '"') {
        pos = text.find('"', pos + 1);
        if (pos == std::string::npos) return "a parameter value on " + line.name + " never closed";
        ++pos;
      } else {
        while (pos < text.size() && text[pos] != ';' && text[pos] != ':' && text[pos] != ',') {
          if (text[pos] == '"') return "a malformed parameter value on " + line.name;
          ++pos;
        }
      }
      if (parameter == "VALUE")
        line.valueType = upperAscii(text.substr(valueStart, pos - valueStart));
    } while (pos < text.size() && text[pos] == ',');
  }
  if (pos >= text.size() || text[pos] != ':') return "no ':' after " + line.name;
  line.value = text.substr(pos + 1);
  return "";
}

std::string valueRefusal(const Line& line) {
  static const std::set<std::string> kDates = {
      "DTSTART", "DTEND",   "DUE",     "RECURRENCE-ID", "EXDATE",
      "RDATE",   "DTSTAMP", "CREATED", "LAST-MODIFIED", "COMPLETED"};
  if (kDates.count(line.name) > 0) {
    for (const std::string& item : split(line.value, ',')) {
      if (line.name == "RDATE" && line.valueType == "PERIOD") {
        const std::size_t slash = item.find('/');
        if (slash == std::string::npos || !isDateOrDateTime(item.substr(0, slash)) ||
            !(isDateOrDateTime(item.substr(slash + 1)) || isDuration(item.substr(slash + 1)))) {
          return "an RDATE period that does not read";
        }
      } else if (!isDateOrDateTime(item)) {
        return "a " + line.name + " that is no date";
      }
    }
  } else if (line.name == "TRIGGER") {
    if (line.valueType == "DATE-TIME" ? !isDateOrDateTime(line.value) : !isDuration(line.value)) {
      return "a TRIGGER that does not read";
    }
  } else if (line.name == "TZOFFSETFROM" || line.name == "TZOFFSETTO") {
    if (!isUtcOffset(line.value)) return "a " + line.name + " that is no UTC offset";
  } else if (line.name == "RRULE" || line.name == "EXRULE") {
    return ruleRefusal(line.value);
  }
  return "";
}

}  // namespace

namespace {

// Reads an item's unfolded lines in order; the first fault stays.
class ItemReader {
 public:
  std::string line(const std::string& content) {
    Line line;
    const std::string fault = parseLine(content, line);
    if (!fault.empty()) return fault;
    if (first_ && !(line.name == "BEGIN" && upperAscii(line.value) == "VCALENDAR")) {
      return "does not begin with BEGIN:VCALENDAR";
    }
    first_ = false;
    if (closed_) return "lines after END:VCALENDAR";
    if (line.name == "BEGIN") return begin(upperAscii(line.value));
    if (line.name == "END") return end(upperAscii(line.value));
    if (stack_.size() == 2 && stack_.back() == kind_ && line.name == "UID") {
      if (line.value.empty()) return "an empty UID";
      componentUid_ = line.value;
    }
    return valueRefusal(line);
  }

  std::string finish() const {
    if (!closed_) return "does not end with END:VCALENDAR";
    if (kind_.empty()) return "no event, task or journal entry";
    return "";
  }

 private:
  std::string begin(const std::string& component) {
    if (stack_.size() == 1 && component != "VTIMEZONE") {
      if (component != "VEVENT" && component != "VTODO" && component != "VJOURNAL") {
        return "a " + component + ", not an event, task or journal entry";
      }
      if (!kind_.empty() && kind_ != component) return "components of two kinds";
      kind_ = component;
      componentUid_.clear();
    }
    stack_.push_back(component);
    return "";
  }

  std::string end(const std::string& component) {
    if (stack_.empty() || component != stack_.back()) return "unbalanced BEGIN and END";
    if (stack_.size() == 2 && component == kind_) {
      if (componentUid_.empty()) return kind_ + " without UID";
      if (uid_.empty()) uid_ = componentUid_;
      if (uid_ != componentUid_) return "components with different UIDs";
    }
    stack_.pop_back();
    closed_ = stack_.empty();
    return "";
  }

  std::vector<std::string> stack_;
  std::string kind_;
  std::string uid_;
  std::string componentUid_;
  bool first_ = true;
  bool closed_ = false;
};

}  // namespace

std::string itemTextRefusal(const std::string& text) {
  if (!orva_store::isValidUtf8(text)) return "not UTF-8";
  if (orva_store::hasControlCharacter(text, "\t\r\n")) return "a control character";
  if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) {
    return "no CR LF at the end";
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool pair = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
    if (pair) ++i;
    if (!pair && (text[i] == '\r' || text[i] == '\n')) return "a lone CR or LF";
  }
  ItemReader reader;
  std::string unfolded;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    const std::string piece = text.substr(start, end - start);
    start = end + 2;
    if (!piece.empty() && (piece[0] == ' ' || piece[0] == '\t')) {
      if (unfolded.empty()) return "a folded line without a line before it";
      unfolded.append(piece, 1, std::string::npos);
      continue;
    }
    if (!unfolded.empty()) {
      const std::string fault = reader.line(unfolded);
      if (!fault.empty()) return fault;
    }
    unfolded = piece;
  }
  if (!unfolded.empty()) {
    const std::string fault = reader.line(unfolded);
    if (!fault.empty()) return fault;
  }
  return reader.finish();
}

}  // namespace orva_calendar
