// Generated card texts for the differential test of the store's gate: hostile
// line shapes (folds anywhere, every line end, blank lines), encodings
// (base64 good and broken in every spelling, quoted-printable, unknown ones),
// parameters (bare, quoted, unterminated, empty), property names (groups,
// '/', '_', BEGIN and END inside, PROFILE, repeated single properties) and
// structured values (escapes, unescaped ',' and ';', control characters,
// invalid UTF-8). Each card is drawn from its own seed, so a failing one can
// be made again alone.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace orva_test {

class HostileCards {
 public:
  // The card numbered index of the series seed.
  std::string card(std::uint64_t seed, std::uint64_t index) {
    random_.seed(seed * 0x9E3779B97F4A7C15ULL + index);
    // Most cards are near to good, so that the gate takes many of them and
    // the server judges each line kind often; some are hostile throughout.
    hostility_ = pick({50, 35, 15});
    std::string text;
    if (chance(2)) text += "junk before\r\n";
    text += chance(3) ? "begin:vcard" : "BEGIN:VCARD";
    text += lineEnd();
    if (chance(3)) text += " folded onto begin" + lineEnd();
    if (!chance(5)) text += shape("VERSION:" + (chance(3) ? oneOf({"4.0", "2.1", ""}) : "3.0"));
    if (!chance(5)) {
      text += shape("UID:" +
                    (chance(3) ? oneOf({"", " ", "a,b;c", "\\", "x:y", ",x", " ,", "\\,"}) : "u1"));
    }
    if (!chance(6)) text += shape("FN:" + value("FN"));
    const int lines = static_cast<int>(below(12));
    for (int i = 0; i < lines; ++i) text += shape(contentLine());
    if (chance(4))
      text += oneOf({"END:VCARDX", "end:vcard", "BEGIN:VCARD", "END:VCALENDAR"}) + lineEnd();
    if (!chance(3)) {
      text += "END:VCARD";
      text += chance(4) ? oneOf({"", "\n", "\r", "\r\n\r\n", " "}) : "\r\n";
    }
    return text;
  }

 private:
  // True once in n draws, more often the more hostile the card.
  bool chance(int n) {
    const int scaled = hostility_ == 0 ? n * 40 : hostility_ == 1 ? n * 6 : n;
    return below(static_cast<std::uint64_t>(scaled < 1 ? 1 : scaled)) == 0;
  }
  std::uint64_t below(std::uint64_t n) { return random_() % n; }
  int pick(std::initializer_list<int> weights) {
    int total = 0;
    for (const int w : weights) total += w;
    int draw = static_cast<int>(below(static_cast<std::uint64_t>(total)));
    int index = 0;
    for (const int w : weights) {
      if (draw < w) return index;
      draw -= w;
      ++index;
    }
    return index;
  }
  std::string oneOf(std::initializer_list<const char*> texts) {
    auto it = texts.begin();
    std::advance(it, static_cast<long>(below(texts.size())));
    return *it;
  }

  std::string lineEnd() {
    if (!chance(6)) return "\r\n";
    return oneOf({"\n", "\r", "\r\r\n", "\r\n\r\n", "\n\r"});
  }

  // One logical line as physical lines: folded at random places (inside a
  // name, a parameter or a UTF-8 sequence too), with a line end.
  std::string shape(const std::string& logical) {
    std::string out;
    std::size_t from = 0;
    while (chance(3) && from < logical.size()) {
      const std::size_t at = from + below(logical.size() - from + 1);
      out.append(logical, from, at - from);
      out += lineEnd();
      out += chance(4) ? (chance(2) ? "" : "  ") : (chance(2) ? "\t" : " ");
      from = at;
    }
    out.append(logical, from, std::string::npos);
    out += lineEnd();
    if (chance(8)) out += oneOf({"", " ", "\t", " \t "}) + lineEnd();
    return out;
  }

  std::string name() {
    static const char* const kNames[] = {"N",
                                         "FN",
                                         "ORG",
                                         "TITLE",
                                         "NOTE",
                                         "TEL",
                                         "EMAIL",
                                         "ADR",
                                         "PHOTO",
                                         "LOGO",
                                         "SOUND",
                                         "KEY",
                                         "URL",
                                         "BDAY",
                                         "LABEL",
                                         "NICKNAME",
                                         "CATEGORIES",
                                         "GEO",
                                         "TZ",
                                         "ROLE",
                                         "REV",
                                         "PRODID",
                                         "SOURCE",
                                         "NAME",
                                         "AGENT",
                                         "CLASS",
                                         "MAILER",
                                         "IMPP",
                                         "X-ABUID",
                                         "X-AIM",
                                         "X-PHONETIC-FIRST-NAME",
                                         "X-ANNIVERSARY",
                                         "KIND",
                                         "GENDER",
                                         "RELATED",
                                         "ANNIVERSARY",
                                         "DTSTART",
                                         "RRULE",
                                         "TRIGGER",
                                         "LANG",
                                         "SORT-STRING",
                                         "X-A"};
    std::string n;
    if (chance(4)) n += oneOf({"item1.", "g.", "A-1.", "a_b.", ".", "x.y."});
    std::string base = chance(3) ? oneOf({"UID", "VERSION", "PROFILE", "BEGIN", "END", "FN", "N"})
                                 : kNames[below(sizeof kNames / sizeof kNames[0])];
    if (chance(3)) {
      for (char& c : base) {
        if (c >= 'A' && c <= 'Z' && below(2)) c = static_cast<char>(c - 'A' + 'a');
      }
    }
    n += base;
    if (chance(10)) n += oneOf({"/xmpp-All", "_X", " ", "\xC3\xA9", "\"", "=", "\x01"});
    return n;
  }

  std::string parameter() {
    static const char* const kParameters[] = {"TYPE=CELL",
                                              "TYPE=\"a,b\"",
                                              "TYPE=a,b",
                                              "type=HOME",
                                              "HOME",
                                              "PREF",
                                              "ENCODING=b",
                                              "ENCODING=B",
                                              "ENCODING=BASE64",
                                              "encoding=base64",
                                              "BASE64",
                                              "base64",
                                              "ENCODING=\"b\"",
                                              "ENCODING=b,b",
                                              "ENCODING=QUOTED-PRINTABLE",
                                              "QUOTED-PRINTABLE",
                                              "ENCODING=binary",
                                              "ENCODING=8BIT",
                                              "ENCODING=7bit",
                                              "ENCODING=",
                                              "ENCODING",
                                              "CHARSET=UTF-8",
                                              "CHARSET=ISO-8859-1",
                                              "VALUE=uri",
                                              "VALUE=text",
                                              "VALUE=date",
                                              "VALUE=binary",
                                              "LANGUAGE=en",
                                              "PREF=1",
                                              "X-P=\"a:b;c\"",
                                              "X-P=\"open",
                                              "X-P=a\"b",
                                              "",
                                              "X_P=1",
                                              "X P=1",
                                              "PID=1.1",
                                              "ALTID=1",
                                              "SORT-AS=\"a,b\"",
                                              "X-P=\"\xFF\"",
                                              "X-P=a=b",
                                              "X-P=,",
                                              "X-P=\"a\"b",
                                              "TYPE=\xC3\xA9"};
    return kParameters[below(sizeof kParameters / sizeof kParameters[0])];
  }

  std::string base64() {
    static const char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    const std::size_t bytes = below(12);
    for (std::size_t i = 0; i < (bytes + 2) / 3 * 4; ++i) out += kLetters[below(64)];
    if (bytes % 3 == 1) out.replace(out.size() - 2, 2, "==");
    if (bytes % 3 == 2) out.replace(out.size() - 1, 1, "=");
    if (chance(3)) {
      switch (below(8)) {
        case 0:
          if (!out.empty()) out.pop_back();
          break;
        case 1:
          out += "A";
          break;
        case 2:
          out.insert(below(out.size() + 1), " ");
          break;
        case 3:
          out.insert(below(out.size() + 1), "*");
          break;
        case 4:
          out = "data:image/jpeg;base64," + out;
          break;
        case 5:
          out += "==";
          break;
        case 6:
          out.insert(below(out.size() + 1), "=");
          break;
        default:
          out += "\xC3\xA9";
      }
    }
    return out;
  }

  std::string text() {
    static const char* const kPieces[] = {"Ann",
                                          "M\xC3\xBCller",
                                          " ",
                                          ",",
                                          ";",
                                          "\\,",
                                          "\\;",
                                          "\\n",
                                          "\\\\",
                                          "\\",
                                          "\\q",
                                          ":",
                                          "\"",
                                          "=",
                                          "=0D",
                                          "\t",
                                          "\xE2\x82\xAC",
                                          "\xF0\x9F\x98\x80",
                                          "a=",
                                          "quoted-printable",
                                          "2024-01-01",
                                          "--0412",
                                          "\xFF",
                                          "\xC3",
                                          "\xED\xA0\x80",
                                          "\x0C",
                                          "\x00",
                                          "\x7F",
                                          "\x1B",
                                          "\xC2\x85",
                                          "\xE3\x80\x80",
                                          "http://x.example/?a=b"};
    std::string out;
    const std::size_t pieces = below(6);
    for (std::size_t i = 0; i < pieces; ++i) {
      // The hostile pieces come last in the table; a calm card draws few.
      const std::size_t tableSize = sizeof kPieces / sizeof kPieces[0];
      const std::size_t calm = 16;
      std::size_t at = chance(3) ? below(tableSize) : below(calm);
      if (kPieces[at][0] == '\0') {
        out.push_back('\0');
        continue;
      }
      out += kPieces[at];
    }
    return out;
  }

  std::string value(const std::string& forName) {
    const bool structured = forName == "N" || forName == "ADR" || forName == "ORG" || chance(6);
    if (!structured) return text();
    std::string out;
    const std::size_t parts = below(8);
    for (std::size_t i = 0; i < parts; ++i) {
      if (i > 0) out += chance(5) ? "," : ";";
      out += text();
    }
    return out;
  }

  std::string contentLine() {
    std::string line = name();
    const std::size_t dot = line.find('.');
    const std::string bare = dot == std::string::npos ? line : line.substr(dot + 1);
    std::string upper = bare;
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    bool base64Value = false;
    const std::size_t parameters = chance(2) ? below(4) : 0;
    for (std::size_t i = 0; i < parameters; ++i) {
      const std::string p = parameter();
      base64Value = base64Value || p.find("ase64") != std::string::npos ||
                    p.find("ASE64") != std::string::npos || p == "ENCODING=b" ||
                    p == "ENCODING=B" || p == "ENCODING=\"b\"";
      line += ";" + p;
    }
    if (upper == "PHOTO" || upper == "LOGO" || upper == "KEY" || upper == "SOUND") {
      if (parameters == 0 && !chance(4)) {
        line += ";ENCODING=b";
        base64Value = true;
      }
    }
    if (!chance(12)) line += ":";
    line += base64Value && !chance(6) ? base64() : value(upper);
    return line;
  }

  std::mt19937_64 random_;
  int hostility_ = 0;
};

}  // namespace orva_test
