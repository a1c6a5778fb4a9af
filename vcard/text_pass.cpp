// Text pass: one card's lines into a contact record. A line scanner with
// fixed prefixes, not a vCard parser: the first rule that fits a line wins,
// and what no rule maps is kept verbatim in "other" for writing back.
#include <cstring>
#include <string>

#include "module/webapi-ContactAndCalendar.h"
#include "vcard/line_scanner.h"
#include "vcard/note_text.h"

namespace {

using orva_vcard::endsAt;
using orva_vcard::startsWith;

// Which of the property markers a line contains anywhere. Every marker ends
// in ';' or ':', so one walk over those bytes answers all of them.
struct LineMarks {
  bool email = false;
  bool tel = false;
  bool adr = false;
  bool url = false;
  bool colon = false;
};

LineMarks markLine(const char* line) {
  LineMarks marks;
  for (const char* p = std::strpbrk(line, ";:"); p != nullptr; p = std::strpbrk(p + 1, ";:")) {
    const std::size_t at = static_cast<std::size_t>(p - line);
    if (*p == ';') {
      marks.email = marks.email || endsAt(line, at, "EMAIL");
      marks.tel = marks.tel || endsAt(line, at, "TEL");
      marks.adr = marks.adr || endsAt(line, at, "ADR");
    } else {
      marks.colon = true;
    }
    marks.url = marks.url || endsAt(line, at, "URL");
  }
  return marks;
}

void appendOther(std::string& other, const char* line, std::size_t size) {
  other.append(line, size);
  other.append("\r\n", 2);
}

// Joins a continuation line to the last address; false when there is none.
bool joinAddress(Json::Value& record, const char* line, std::size_t size) {
  if (!record.isMember("adr")) return false;
  Json::Value& addresses = record["adr"];
  if (!addresses.isArray() || addresses.empty()) return false;
  Json::Value& data = addresses[addresses.size() - 1]["data"];
  std::string joined = data.isString() ? data.asString() : std::string();
  joined.push_back(' ');
  joined.append(line, size);
  data = joined;
  return true;
}

}  // namespace

void ContactAndCalendarHandler::ParseCardText(char* cardText, Json::Value& record) {
  setEmptyInfo(record);
  std::string other;
  std::string note;
  int lineNumber = 0;
  int noteLine = -1;
  int addressLine = -1;

  char* cursor = cardText;
  for (orva_vcard::Piece line = orva_vcard::nextLine(cursor); line.begin != nullptr;
       line = orva_vcard::nextLine(cursor)) {
    char* text = line.begin;
    const char* end = text + line.size;
    if (startsWith(text, "END")) break;
    ++lineNumber;

    if (startsWith(text, "FN:")) continue;  // the writer rebuilds FN from N
    if (startsWith(text, "NOTE:")) {
      note.clear();
      orva_vcard::appendNoteText(note, text + 5, line.size - 5);
      noteLine = lineNumber;
      continue;
    }
    if (startsWith(text, "TITLE:")) {
      record["company"]["title"] = Json::Value(text + 6, end);
      continue;
    }
    if (startsWith(text, "ORG:")) {
      // ORG is structured (org;unit); exporters end a unit-less one in ';'.
      const char* orgEnd = end[-1] == ';' ? end - 1 : end;
      record["company"]["org"] = Json::Value(text + 4, orgEnd);
      continue;
    }
    if (startsWith(text, "BDAY:")) {
      record["bday"] = Json::Value(text + 5, end);
      continue;
    }
    if (startsWith(text, "N:")) {
      ParseInfoName(text + 2, record);
      continue;
    }

    const LineMarks marks = markLine(text);
    if (marks.email) {
      ParseInfoEMAIL(text, record);
    } else if (marks.tel) {
      ParseInfoTEL(text, record);
    } else if (marks.adr) {
      ParseInfoADR(text, record);
      addressLine = lineNumber;
    } else if (marks.url) {
      ParseInfoURL(text, record);
    } else if (marks.colon) {
      appendOther(other, text, line.size);
    } else if (lineNumber - noteLine == 1) {
      // A raw continuation of the note, as cards stored long ago have them.
      note.push_back('\n');
      orva_vcard::appendNoteText(note, text, line.size);
      noteLine = lineNumber;
    } else if (lineNumber - addressLine == 1 && joinAddress(record, text, line.size)) {
      addressLine = lineNumber;
    } else {
      appendOther(other, text, line.size);
    }
  }
  record["note"] = note;
  record["other"] = other;
}
