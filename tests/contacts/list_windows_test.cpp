// list_cards in windows: "offset" and "limit" after the search, in the
// store's order, with the number of matching cards as "total".
#include <gtest/gtest.h>
#include <json/value.h>

#include <string>

#include "module/webapi-ContactAndCalendar.h"
#include "platform/contact_store.h"
#include "tests/support/handler_call.h"
#include "tests/support/temp_root.h"

namespace {

using orva_test::callHandler;

class ListWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    DBHandler db;
    db.SetupUserBasicInfo("alice");
    // 2,100 cards: more than one chunk of a search. Every third is a Smith.
    for (int i = 0; i < 2100; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "c%05d", i);
      const std::string family = i % 3 == 0 ? "Smith" : "Jones";
      ASSERT_TRUE(db.AddCard(db.GetGUID("alice"), name,
                             "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + std::string(name) + "\r\nFN:" +
                                 name + "\r\nN:" + family + ";" + name + ";;;\r\nEND:VCARD\r\n"));
    }
  }

  ORVA::APIResponse list(const std::string& paramsJson) {
    Json::Value params = orva_test::parseJson(paramsJson);
    params["user"] = "alice";
    return callHandler(&ContactAndCalendarHandler::listCards, params);
  }

  static std::string ids(const ORVA::APIResponse& response) {
    std::string out;
    for (const Json::Value& card : response.Data()["cards"]) {
      out += (out.empty() ? "" : " ") + card["id"].asString();
    }
    return out;
  }

  orva_test::TempRoot root_;
};

TEST_F(ListWindows, WindowsOfTheWholeBookInTheStoresOrder) {
  const ORVA::APIResponse first = list(R"({"offset":0,"limit":3})");
  ASSERT_TRUE(first.IsSuccess());
  EXPECT_EQ(ids(first), "c00000 c00001 c00002");
  EXPECT_EQ(first.Data()["total"], 2100);
  EXPECT_EQ(ids(list(R"({"offset":1000,"limit":2})")), "c01000 c01001");
  EXPECT_EQ(ids(list(R"({"offset":2098,"limit":5})")), "c02098 c02099");
  const ORVA::APIResponse past = list(R"({"offset":5000,"limit":5})");
  EXPECT_EQ(past.Data()["cards"].size(), 0u);
  EXPECT_EQ(past.Data()["total"], 2100);
  EXPECT_EQ(list(R"({"offset":2090})").Data()["cards"].size(), 10u);
  EXPECT_EQ(list(R"({"limit":0})").Data()["total"], 2100);
  // Records in a window are those of the whole listing, versions included.
  const ORVA::APIResponse whole = list("{}");
  EXPECT_FALSE(whole.Data().isMember("total"));
  EXPECT_EQ(list(R"({"offset":7,"limit":1})").Data()["cards"][0], whole.Data()["cards"][7]);
}

TEST_F(ListWindows, WindowsOfASearchCoverItsMatchesExactly) {
  const ORVA::APIResponse all = list(R"({"search_key":"smith"})");
  ASSERT_EQ(all.Data()["cards"].size(), 700u);
  std::string joined;
  for (std::size_t offset = 0; offset < 800; offset += 150) {
    const ORVA::APIResponse window =
        list(R"({"search_key":"smith","offset":)" + std::to_string(offset) + R"(,"limit":150})");
    EXPECT_EQ(window.Data()["total"], 700);
    const std::string part = ids(window);
    if (!part.empty()) joined += (joined.empty() ? "" : " ") + part;
    // The same window twice: the same cards.
    EXPECT_EQ(ids(list(R"({"search_key":"smith","offset":)" + std::to_string(offset) +
                       R"(,"limit":150})")),
              part);
  }
  EXPECT_EQ(joined, ids(all));
  const ORVA::APIResponse none = list(R"({"search_key":"nobody","offset":0,"limit":10})");
  EXPECT_EQ(none.Data()["total"], 0);
  EXPECT_EQ(none.Data()["cards"].size(), 0u);
}

TEST_F(ListWindows, BadWindowsAreRefusedWithNothingListed) {
  for (const char* params : {R"({"offset":-1})", R"({"limit":-5})", R"({"offset":"10"})",
                             R"({"limit":1.5})", R"({"limit":[1]})", R"({"offset":true})"}) {
    const ORVA::APIResponse response = list(params);
    EXPECT_EQ(response.ErrorCode(), 901) << params;
    EXPECT_EQ(response.ErrorDetail(), "Incorrect parameter: Need ") << params;
  }
  // Null reads as absent.
  EXPECT_EQ(list(R"({"offset":null,"limit":null})").Data().isMember("total"), false);
}

}  // namespace
