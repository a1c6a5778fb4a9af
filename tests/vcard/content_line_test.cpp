// Taking content lines and card texts apart: names, groups, quoted
// parameters, values, and folded lines.
#include "vcard/content_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vcard/card_lines.h"

namespace {

using orva_vcard::ContentLine;
using orva_vcard::splitContentLine;

std::vector<std::string> parameters(std::string_view text) {
  std::vector<std::string> out;
  orva_vcard::forEachParameter(text, [&](std::string_view p) { out.emplace_back(p); });
  return out;
}

std::vector<std::string> typeValues(std::string_view parameter) {
  std::vector<std::string> out;
  orva_vcard::forEachTypeValue(parameter, [&](std::string_view value, bool quoted) {
    std::string text;
    if (quoted) {
      orva_vcard::appendUnquoted(text, value);
    } else {
      text = value;
    }
    out.push_back(text);
  });
  return out;
}

std::vector<std::string> lines(std::string_view text) {
  std::vector<std::string> out;
  orva_vcard::LineWalker walker(text);
  for (std::string_view line; walker.next(line);) out.emplace_back(line);
  return out;
}

TEST(ContentLine, ValueStartsAtFirstColonOutsideQuotes) {
  const ContentLine line = splitContentLine("item1.ADR;LABEL=\"a: b;c\";TYPE=x:;;1 Main: rear");
  EXPECT_EQ(line.group, "item1");
  EXPECT_EQ(line.name, "ADR");
  EXPECT_EQ(line.groupedName, "item1.ADR");
  EXPECT_EQ(line.parameters, ";LABEL=\"a: b;c\";TYPE=x");
  EXPECT_EQ(line.value, ";;1 Main: rear");
  EXPECT_TRUE(line.hasValue);

  const ContentLine plain = splitContentLine("URL:http://a.b/c;d");
  EXPECT_EQ(plain.group, "");
  EXPECT_EQ(plain.parameters, "");
  EXPECT_EQ(plain.value, "http://a.b/c;d");
}

TEST(ContentLine, LinesWithoutColonOrWithOpenQuotes) {
  const ContentLine bare = splitContentLine("Apt 4; rear");
  EXPECT_FALSE(bare.hasValue);
  EXPECT_EQ(bare.value, "");
  // An unclosed quote falls back to the first colon, so "has a value" still
  // means "holds a ':'".
  const ContentLine open = splitContentLine("X-A;P=\"x:y");
  EXPECT_TRUE(open.hasValue);
  EXPECT_EQ(open.value, "y");
  const ContentLine empty = splitContentLine("TEL;TYPE=CELL:");
  EXPECT_TRUE(empty.hasValue);
  EXPECT_EQ(empty.value, "");
}

TEST(ContentLine, ParametersSplitOutsideQuotesAndTypesAtEveryComma) {
  EXPECT_EQ(parameters(";TYPE=a,b;;X=\"p;q\";PREF=1;"),
            (std::vector<std::string>{"TYPE=a,b", "X=\"p;q\"", "PREF=1"}));
  EXPECT_EQ(parameters(""), std::vector<std::string>{});
  EXPECT_TRUE(orva_vcard::isTypeParameter("type=x"));
  EXPECT_TRUE(orva_vcard::isTypeParameter("TyPe="));
  EXPECT_FALSE(orva_vcard::isTypeParameter("TYPE"));
  EXPECT_FALSE(orva_vcard::isTypeParameter("TYPES=x"));
  EXPECT_EQ(typeValues("TYPE=CELL,VOICE,pref"),
            (std::vector<std::string>{"CELL", "VOICE", "pref"}));
  EXPECT_EQ(typeValues("TYPE=\"cell,voice\""), (std::vector<std::string>{"cell", "voice"}));
  EXPECT_EQ(typeValues("TYPE=a,,\"\",b"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(typeValues("TYPE="), std::vector<std::string>{});
}

TEST(CardLines, FoldsJoinWithoutTheirOneBlank) {
  EXPECT_EQ(lines("A:1\r\n B\r\n\tC\r\nD:2\r\n"), (std::vector<std::string>{"A:1BC", "D:2"}));
  EXPECT_EQ(lines("A:1\r\n  two blanks\n\nE:3\rF:4"),
            (std::vector<std::string>{"A:1 two blanks", "E:3", "F:4"}));
  // Nothing before it: a leading blank line is a line of its own.
  EXPECT_EQ(lines("\r\n X:1\r\n Y"), (std::vector<std::string>{" X:1Y"}));
  EXPECT_EQ(lines(""), std::vector<std::string>{});
  EXPECT_EQ(lines("\r\n\r\n"), std::vector<std::string>{});
  // A fold at the very end joins an empty piece.
  EXPECT_EQ(lines("A:1\r\n "), std::vector<std::string>{"A:1"});
}

TEST(CardLines, LineBreakSearchAcrossLongLines) {
  // Long lines take the wide path, short tails the byte loop.
  std::string text(100, 'x');
  text += "\r\n";
  text += std::string(17, 'y');
  text += '\r';
  text += std::string(3, 'z');
  EXPECT_EQ(lines(text),
            (std::vector<std::string>{std::string(100, 'x'), std::string(17, 'y'), "zzz"}));
  EXPECT_EQ(orva_vcard::findLineBreak(text, 0), 100u);
  EXPECT_EQ(orva_vcard::findLineBreak(text, 102), 119u);
  EXPECT_EQ(orva_vcard::findLineBreak(text, 120), text.size());
  EXPECT_EQ(orva_vcard::findLineBreak(text, text.size() + 5), text.size());
}

}  // namespace
