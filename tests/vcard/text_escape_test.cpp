// The text rules that make what a person types reach every client exactly.
#include "vcard/text_escape.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using orva_vcard::TextSeparators;

struct EscapeCase {
  const char* text;
  const char* value;     // escaped() of a one-piece text value
  const char* orgValue;  // escaped() of an ORG value
};

TEST(TextEscape, EscapesWhatIsNotEscapedYet) {
  const EscapeCase cases[] = {
      {"Acme, Inc.", "Acme\\, Inc.", "Acme\\, Inc."},
      {"Acme\\, Inc.", "Acme\\, Inc.", "Acme\\, Inc."},
      {"Smith; Jones", "Smith\\; Jones", "Smith; Jones"},
      {"Acme\\, Inc.;Sales, EMEA", "Acme\\, Inc.\\;Sales\\, EMEA", "Acme\\, Inc.;Sales\\, EMEA"},
      {"C:\\Temp\\new", "C:\\\\Temp\\new", "C:\\\\Temp\\new"},
      {"one\\\\two", "one\\\\two", "one\\\\two"},
      {"line\r\nbreak\rand\nmore", "line\\nbreak\\nand\\nmore", "line\\nbreak\\nand\\nmore"},
      {"trailing\\", "trailing\\\\", "trailing\\\\"},
      {"\\N stays", "\\N stays", "\\N stays"},
      {"\"quoted\": Zoë 🎉", "\"quoted\": Zoë 🎉", "\"quoted\": Zoë 🎉"},
      {"", "", ""},
  };
  for (const EscapeCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(orva_vcard::escaped(c.text), c.value);
    EXPECT_EQ(orva_vcard::escaped(c.text, TextSeparators::kComponents), c.orgValue);
  }
}

TEST(TextEscape, NotesCarryLineBreaksAsLineFeeds) {
  EXPECT_EQ(orva_vcard::escaped("C:\\Temp\\new\nnext, \\; done", TextSeparators::kNote),
            "C:\\\\Temp\\\\new\\nnext\\, \\; done");
}

TEST(TextEscape, TypedTextAndItsReading) {
  EXPECT_EQ(orva_vcard::escapedTyped("C:\\Temp\\new, a;b\nc"), "C:\\\\Temp\\\\new\\, a\\;b\\nc");
  EXPECT_EQ(orva_vcard::unescaped("C:\\\\Temp\\\\new\\, a\\;b\\nc\\Nd"),
            "C:\\Temp\\new, a;b\nc\nd");
  // A backslash that starts no escape is text.
  EXPECT_EQ(orva_vcard::unescaped("a\\qb\\"), "a\\qb\\");
}

TEST(TextEscape, ComponentsEndAtUnescapedSemicolons) {
  const std::string value = "Smith\\; Jones;Ann\\\\;;Dr.";
  std::size_t from = 0;
  std::vector<std::string> parts;
  while (true) {
    const std::size_t end = orva_vcard::componentEnd(value, from);
    parts.push_back(value.substr(from, end - from));
    if (end == value.size()) break;
    from = end + 1;
  }
  EXPECT_EQ(parts, (std::vector<std::string>{"Smith\\; Jones", "Ann\\\\", "", "Dr."}));
}

// Random texts over the bytes that matter: escaping is idempotent, typed text
// comes back exactly, and an escaped typed text needs no further escaping.
TEST(TextEscape, PropertiesHoldForAnyText) {
  const char alphabet[] = {'a', '\\', ',', ';', 'n', 'N', '\r', '\n', ' ', ':', '"'};
  std::mt19937 random(20261208);
  for (int round = 0; round < 20000; ++round) {
    std::string text(random() % 12, ' ');
    for (char& c : text) c = alphabet[random() % sizeof alphabet];
    SCOPED_TRACE(text);
    for (TextSeparators separators : {TextSeparators::kNone, TextSeparators::kComponents}) {
      const std::string once = orva_vcard::escaped(text, separators);
      ASSERT_EQ(orva_vcard::escaped(once, separators), once);
      ASSERT_EQ(once.find_first_of("\r\n"), std::string::npos);
    }
    const std::string typed = orva_vcard::escapedTyped(text);
    ASSERT_EQ(
        orva_vcard::unescaped(typed), text == "" ? "" : [&] {
          std::string lf = text;  // line breaks read back as LF
          std::string out;
          for (std::size_t i = 0; i < lf.size(); ++i) {
            if (lf[i] == '\r') {
              out += '\n';
              if (i + 1 < lf.size() && lf[i + 1] == '\n') ++i;
            } else {
              out += lf[i];
            }
          }
          return out;
        }());
    ASSERT_EQ(orva_vcard::escaped(typed), typed);
  }
}

}  // namespace
