// The label pass and how grouped entries are named with its labels.
#include <gtest/gtest.h>

#include "tests/vcard/reader_helpers.h"

namespace {

using reader_test::card;
using reader_test::read;

TEST(ReaderLabels, GroupedEmailTakesItsGroupsLabel) {
  const Json::Value record =
      read(card({"item1.EMAIL;type=INTERNET:gym@example.com", "item1.X-ABLabel:Gym"}));
  ASSERT_EQ(record["mail"].size(), 1u);
  EXPECT_EQ(record["mail"][0]["key"], "item1.EMAIL");
  EXPECT_EQ(record["mail"][0]["cust_name"], "Gym");
  EXPECT_EQ(record["mail"][0]["type"][0], "INTERNET");
  // The label line itself stays in "other" for writing back.
  EXPECT_EQ(record["other"], "item1.X-ABLabel:Gym\r\n");
}

TEST(ReaderLabels, UnlabelledGroupHasNullName) {
  const Json::Value record = read("item1.EMAIL;type=INTERNET:gym@example.com");
  ASSERT_TRUE(record["mail"][0].isMember("cust_name"));
  EXPECT_TRUE(record["mail"][0]["cust_name"].isNull());
}

TEST(ReaderLabels, WordBetweenAngleBracketsIsTaken) {
  const Json::Value record = read(card({
      "item1.TEL;type=CELL:1", "item1.X-ABLabel:_$!<Mobile>!$_",  // Apple's own label
      "item2.TEL;type=CELL:2", "item2.X-ABLabel:a<b",             // no '>': unchanged
      "item3.TEL;type=CELL:3", "item3.X-ABLabel:x>y<z",           // cut at '>' first
      "item4.TEL;type=CELL:4", "item4.X-ABLabel:",                // empty label
  }));
  EXPECT_EQ(record["tel"][0]["cust_name"], "Mobile");
  EXPECT_EQ(record["tel"][1]["cust_name"], "a<b");
  EXPECT_EQ(record["tel"][2]["cust_name"], "x");
  EXPECT_EQ(record["tel"][3]["cust_name"], "");
}

TEST(ReaderLabels, LaterLabelLineOfTheGroupWins) {
  EXPECT_EQ(read(card({"item1.ADR;type=HOME:;;Main", "item1.X-ABLabel:Home",
                       "item1.X-ABADR:us"}))["adr"][0]["cust_name"],
            "us");
  EXPECT_EQ(read(card({"item1.X-ABADR:us", "item1.ADR;type=HOME:;;Main",
                       "item1.X-ABLabel:Home"}))["adr"][0]["cust_name"],
            "Home");
}

TEST(ReaderLabels, LabelNameInAnyCaseButOnlyWithAGroup) {
  // CardDAV servers write the label property in upper case.
  const Json::Value record =
      read(card({"item1.URL;type=pref:http://a", "item1.X-ABLABEL:Yes", "item2.URL:http://b",
                 "X-ABLabel:No", "item2X-ABLabel:No", "item2.X-ABLabelX:No"}));
  EXPECT_EQ(record["url"][0]["cust_name"], "Yes");
  EXPECT_TRUE(record["url"][1]["cust_name"].isNull());
}

TEST(ReaderLabels, GroupIsTextBeforeTheDotAndLabelTheWholeValue) {
  // Labels are read from the whole text, lines after END included, and from
  // folded lines once joined.
  const Json::Value record = read(card(
      {"item7.TEL;type=WORK:5", "item8.TEL:6", "item9.TEL:7", "END:VCARD", "item7.X-ABLabel:Desk:2",
       "item8.X-ABLabel;X-A=\"p:q\":Front", "item9.X-AB", " Label:Fol", " ded"}));
  EXPECT_EQ(record["tel"][0]["cust_name"], "Desk:2");
  EXPECT_EQ(record["tel"][1]["cust_name"], "Front");
  EXPECT_EQ(record["tel"][2]["cust_name"], "Folded");
}

TEST(ReaderLabels, AdjacentLabelLinesSplitByAnyLineBreak) {
  for (const char* end : {"\r", "\n", "\r\n"}) {
    const Json::Value record = read(
        card({"item1.X-ABLabel:A", "item2.X-ABLabel:B", "item1.TEL;type=x:1", "item2.TEL;type=x:2"},
             end));
    EXPECT_EQ(record["tel"][0]["cust_name"], "A");
    EXPECT_EQ(record["tel"][1]["cust_name"], "B");
  }
}

TEST(ReaderLabels, TableKeepsLabelsAcrossCardsOfOneHandler) {
  // The reader only adds to the table; list_cards empties it between cards.
  ORVA::APIRequest request;
  ORVA::APIResponse response;
  ContactAndCalendarHandler handler(&request, &response, "test");
  reader_test::read(handler, "item1.X-ABLabel:Gym\r\n");
  const Json::Value record = reader_test::read(handler, "item1.EMAIL;type=home:a@b\r\n");
  EXPECT_EQ(record["mail"][0]["cust_name"], "Gym");
}

}  // namespace
