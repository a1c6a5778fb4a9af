// Entries of every size, common texts, records read over old ones, and the
// byte searches the reader's scans rest on.
#include <gtest/gtest.h>

#include <string>

#include "tests/vcard/reader_helpers.h"
#include "vcard/byte_search.h"
#include "vcard/card_lines.h"
#include "vcard/card_reader.h"
#include "vcard/common_texts.h"
#include "vcard/content_line.h"

namespace {

using reader_test::card;
using reader_test::json;
using reader_test::read;

TEST(ReaderShapes, EntriesWithMoreValuesThanAnyShapeKeepThemAllInOrder) {
  // Five types and three other parameters: more than a shape has room for.
  EXPECT_EQ(read("TEL;type=CELL;X-A=1;type=x-a,VOICE;X-B=\"p;q\";type=pref,\"Qu,o\";X-C:1")["tel"],
            json(R"([{"key":"TEL","cust_name":"TEL","data":"1",
                      "type":["CELL","x-a","VOICE","pref","Qu","o","X-C"],
                      "params":["X-A=1","X-B=\"p;q\""]}])"));
  // Eleven types and nine parameters: more than are held on the first walk.
  std::string line = "item1.EMAIL";
  std::string types;
  std::string params;
  for (int i = 0; i < 11; ++i) {
    line += ";TYPE=t" + std::to_string(i);
    types += std::string(i == 0 ? "" : ",") + "\"t" + std::to_string(i) + "\"";
  }
  for (int i = 0; i < 9; ++i) {
    line += ";P" + std::to_string(i) + "=v";
    params += std::string(i == 0 ? "" : ",") + "\"P" + std::to_string(i) + "=v\"";
  }
  line += ":a@example.com";
  EXPECT_EQ(read(card({line.c_str(), "item1.X-ABLabel:_$!<Other>!$_"}))["mail"],
            json(R"([{"key":"item1.EMAIL","cust_name":"Other","data":"a@example.com","type":[)" +
                 types + R"(],"params":[)" + params + "]}]"));
}

TEST(ReaderShapes, EveryCountOfTypesAndParametersUpToTheShapesRoom) {
  for (int typeCount = 0; typeCount <= 5; ++typeCount) {
    for (int paramCount = 0; paramCount <= 3; ++paramCount) {
      std::string line = "URL";
      Json::Value expected = json(R"({"key":"URL","cust_name":"URL","data":"https://a"})");
      for (int i = 0; i < typeCount; ++i) {
        line += i % 2 ? ";type=WORK" : ";TYPE=home";
        expected["type"].append(i % 2 ? "WORK" : "home");
      }
      for (int i = 0; i < paramCount; ++i) {
        line += ";VALUE=uri";
        expected["params"].append("VALUE=uri");
      }
      line += ":https://a";
      EXPECT_EQ(read(line)["url"][0], expected) << line;
    }
  }
}

TEST(ReaderShapes, RecordReadOverAnOldOneHoldsNothingOfIt) {
  const std::string first =
      card({"N:Doe;Jane;;Dr.;PhD", "FN:x", "TEL;type=CELL:1", "item2.URL:https://a",
            "item2.X-ABLabel:Blog", "ADR:;;1 Main", "BDAY:2000-01-01", "NOTE:n", "X-A:1"});
  const std::string second = card({"N:Roe;Ann", "EMAIL:a@example.com"});
  Json::Value labels;
  orva_vcard::readLabels(first, labels);
  Json::Value record;
  orva_vcard::readCardText(first, labels, record);
  Json::Value noLabels;
  orva_vcard::readCardText(second, noLabels, record);
  EXPECT_EQ(record, read(second));
  // Whatever the record held before, even no object at all.
  Json::Value odd(Json::arrayValue);
  odd.append(1);
  orva_vcard::readCardText(second, noLabels, odd);
  EXPECT_EQ(odd, read(second));
}

TEST(ReaderShapes, NameReadIntoAnyNameObjectKeepsOtherMembers) {
  Json::Value record = json(R"({"name":{"prefix":"Dr.","suffix":"Jr.","x":1,
                                        "given_name":"Old"}})");
  EXPECT_TRUE(orva_vcard::readNameValue("Doe;;Q", record));
  EXPECT_EQ(record["name"], json(R"({"family_name":"Doe","given_name":"","additional_name":"Q",
                                      "x":1})"));
  Json::Value notAnObject = json(R"({"name":"text"})");
  EXPECT_FALSE(orva_vcard::readNameValue(";;;Mr.;III;x", notAnObject));
  EXPECT_EQ(notAnObject["name"], json(R"({"family_name":"","given_name":"","additional_name":"",
                                           "prefix":"Mr.","suffix":"III;x"})"));
}

TEST(CommonTexts, OnlyExactSpellingsAreCommon) {
  for (const char* text : {"CELL", "cell", "Cell", "INTERNET", "pref", "x-mobile", "Main", "Mobile",
                           "HomeFAX", "Anniversary"}) {
    const Json::Value* common = orva_vcard::commonText(text);
    ASSERT_NE(common, nullptr) << text;
    EXPECT_EQ(*common, text);
  }
  for (const char* text : {"", "cELL", "CELL ", "CEL", "Anniversary2", "item1", "Gym"}) {
    EXPECT_EQ(orva_vcard::commonText(text), nullptr) << text;
  }
  EXPECT_EQ(orva_vcard::commonText(std::string_view("CELL\0", 5)), nullptr);
}

TEST(CommonTexts, CommonLabelsAndTypesReadAsWritten) {
  const Json::Value record =
      read(card({"item1.TEL;type=Main;TYPE=\"HOME\":1", "item1.X-ABLabel:_$!<HomeFAX>!$_",
                 "item2.TEL:2", "item2.X-ABLabel:HomeFAX2"}));
  EXPECT_EQ(record["tel"], json(R"([
      {"key":"item1.TEL","cust_name":"HomeFAX","type":["Main","HOME"],"data":"1"},
      {"key":"item2.TEL","cust_name":"HomeFAX2","data":"2"}])"));
}

TEST(CommonTexts, ItemGroupsOfEverySpellingKeepTheirOwnLabels) {
  const Json::Value record =
      read(card({"item12.TEL:1", "item05.TEL:2", "ITEM1.TEL:3", "item1.TEL:4", "item100.TEL:5",
                 "item12.X-ABLabel:twelve", "item05.X-ABLabel:five", "ITEM1.X-ABLabel:upper",
                 "item1.X-ABLabel:one", "item100.X-ABLabel:hundred"}));
  ASSERT_EQ(record["tel"].size(), 5u);
  EXPECT_EQ(record["tel"][0]["cust_name"], "twelve");
  EXPECT_EQ(record["tel"][1]["cust_name"], "five");
  EXPECT_EQ(record["tel"][2]["cust_name"], "upper");
  EXPECT_EQ(record["tel"][3]["cust_name"], "one");
  EXPECT_EQ(record["tel"][4]["cust_name"], "hundred");
}

TEST(ByteSearch, FindsTheFirstHitAtEveryPlaceAndLength) {
  for (std::size_t size = 0; size <= 40; ++size) {
    for (std::size_t hit = 0; hit <= size; ++hit) {
      std::string text(size, 'x');
      if (hit < size) text[hit] = ';';
      if (hit + 1 < size) text[hit + 1] = ':';  // a later hit never wins
      for (std::size_t from = 0; from <= size + 1; from += 3) {
        const std::size_t found = text.find_first_of(";:", from);
        const std::size_t expected = found == std::string::npos ? size : found;
        EXPECT_EQ((orva_vcard::findAnyOf<';', ':'>(text, from)), expected)
            << size << " " << hit << " " << from;
      }
    }
  }
}

TEST(CardLines, LongFoldedLinesJoinWholeWhateverTheirLength) {
  // A photo-sized line, folded every 75 bytes as exporters do, then a note
  // folded twice and a last line.
  std::string photo = "PHOTO;ENCODING=b:";
  for (int i = 0; photo.size() < 40000; ++i) photo.push_back("ABCD+/09"[i % 8]);
  std::string text;
  for (std::size_t at = 0; at < photo.size(); at += 74) {
    text += (at == 0 ? "" : " ") + photo.substr(at, 74) + "\r\n";
  }
  text += "NOTE:a\r\n b\r\n\tc\r\nEND:VCARD";
  orva_vcard::LineWalker lines(text);
  std::string_view line;
  ASSERT_TRUE(lines.next(line));
  EXPECT_EQ(line, photo);
  ASSERT_TRUE(lines.next(line));
  EXPECT_EQ(line, "NOTE:abc");
  ASSERT_TRUE(lines.next(line));
  EXPECT_EQ(line, "END:VCARD");
  EXPECT_FALSE(lines.next(line));
}

TEST(ByteSearch, QuotedParameterValuesHideColonsAndSemicolons) {
  const orva_vcard::ContentLine line =
      orva_vcard::splitContentLine("item1.X-A;P=\"a:b;c\";Q=\"\";R=\":\":v:w\"");
  EXPECT_EQ(line.group, "item1");
  EXPECT_EQ(line.name, "X-A");
  EXPECT_EQ(line.parameters, ";P=\"a:b;c\";Q=\"\";R=\":\"");
  EXPECT_EQ(line.value, "v:w\"");
  // A '.' after the name's end belongs to what follows.
  const orva_vcard::ContentLine dotted = orva_vcard::splitContentLine("TEL;X=a.b:1.2");
  EXPECT_EQ(dotted.group, "");
  EXPECT_EQ(dotted.groupedName, "TEL");
  EXPECT_EQ(dotted.value, "1.2");
}

}  // namespace
