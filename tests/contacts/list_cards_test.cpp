// list_cards and isMatch through the host's request and response, against
// the real contact store in a temporary appliance root.
#include <gtest/gtest.h>

#include <cstdio>
#include <locale>
#include <string>

#include "platform/contact_store.h"
#include "tests/support/handler_call.h"
#include "tests/support/temp_root.h"

namespace {

using orva_test::parseJson;

// A card the store takes: with an FN line when the given lines hold none.
std::string card(const std::string& uid, std::initializer_list<std::string> lines) {
  std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\n";
  bool hasFn = false;
  for (const std::string& line : lines) {
    text += line + "\r\n";
    hasFn = hasFn || line.rfind("FN:", 0) == 0;
  }
  return text + (hasFn ? "" : "FN:" + uid + "\r\n") + "END:VCARD\r\n";
}

class ListCards : public ::testing::Test {
 protected:
  void store(const std::string& user, const std::string& name, const std::string& text) {
    DBHandler db;
    if (db.GetGUID(user).empty()) db.SetupUserBasicInfo(user);
    ASSERT_TRUE(db.AddCard(db.GetGUID(user), name, text)) << text;
  }

  void SetUp() override {
    store("alice", "b-smith",
          card("b-smith", {"N:Smith;John;;;", "FN:John Smith", "ORG:Acme;", "TITLE:Sales Lead",
                           "item1.EMAIL;type=INTERNET:john@acme.example", "item1.X-ABLabel:Gym",
                           "EMAIL;type=HOME:js@home.example", "TEL;type=CELL:+1 555 0100",
                           "ADR;type=HOME:;;7 Elm St;Oakton", "NOTE:likes tea",
                           "URL;type=WORK:http://zebra.example"}));
    store("alice", "a-roe",
          card("a-roe", {"N:Roe;Jane;;;", "TEL;type=HOME:111", "TEL;type=WORK:222",
                         "TEL;type=CELL:+44 333", "item1.EMAIL;type=INTERNET:jane@roe.example"}));
    store("alice", "c-kim", card("c-kim", {"N:Kim;Alex;;;", "ORG:Smithfield Ltd"}));
    store("bob", "b-smith", card("bob-1", {"N:Bobson;Bob;;;"}));
  }

  // Ids of the cards that list_cards answers for alice with this search key.
  std::string idsFor(const Json::Value& key) {
    Json::Value params;
    params["user"] = "alice";
    params["search_key"] = key;
    const ORVA::APIResponse response =
        orva_test::callHandler(&ContactAndCalendarHandler::listCards, params);
    EXPECT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
    std::string ids;
    for (const Json::Value& record : response.Data()["cards"]) {
      ids += (ids.empty() ? "" : " ") + record["id"].asString();
    }
    return ids;
  }

  std::string log() { return orva_test::readFile(root_.at("/var/log/webapi.log")); }

  orva_test::TempRoot root_{true};
};

TEST_F(ListCards, AnswersEveryRecordInStoreOrderWithItsId) {
  const ORVA::APIResponse response = orva_test::callHandler(&ContactAndCalendarHandler::listCards,
                                                            parseJson(R"({"user":"alice"})"));
  ASSERT_TRUE(response.IsSuccess());
  const Json::Value& data = response.Data();
  EXPECT_EQ(data.getMemberNames(), Json::Value::Members{"cards"});
  ASSERT_EQ(data["cards"].size(), 3u);
  // Each record carries the version of its stored bytes.
  Json::Value ids(Json::arrayValue);
  Json::Value texts(Json::arrayValue);
  DBHandler db;
  ASSERT_EQ(db.GetCards(ids, texts, db.GetGUID("alice")), 3);
  for (Json::ArrayIndex i = 0; i < 3; ++i) {
    EXPECT_EQ(data["cards"][i]["etag"], DBHandler::VersionOf(texts[i].asString()));
    EXPECT_EQ(data["cards"][i]["etag"].asString().size(), 32u);
  }
  EXPECT_NE(data["cards"][0]["etag"], data["cards"][1]["etag"]);
  Json::Value first = data["cards"][0];
  first.removeMember("etag");
  EXPECT_EQ(first, parseJson(R"({"id":"a-roe",
      "name":{"family_name":"Roe","given_name":"Jane","additional_name":"",
              "formatted_name":"a-roe"},
      "company":{"org":"","title":""}, "note":"",
      "tel":[{"key":"TEL","cust_name":"TEL","type":["HOME"],"data":"111"},
             {"key":"TEL","cust_name":"TEL","type":["WORK"],"data":"222"},
             {"key":"TEL","cust_name":"TEL","type":["CELL"],"data":"+44 333"}],
      "mail":[{"key":"item1.EMAIL","cust_name":null,"type":["INTERNET"],
               "data":"jane@roe.example"}],
      "other":"BEGIN:VCARD\r\nVERSION:3.0\r\nUID:a-roe\r\n"})"));
  // The label of b-smith's item1 is its own: a-roe, read before, has none
  // and c-kim, read after, does not inherit it.
  EXPECT_EQ(data["cards"][1]["mail"][0]["cust_name"], "Gym");
  EXPECT_EQ(data["cards"][1]["id"], "b-smith");
  EXPECT_EQ(data["cards"][2]["id"], "c-kim");
}

TEST_F(ListCards, LabelOfOneCardNeverShowsOnAnother) {
  store("carol", "1", card("1", {"item1.EMAIL;type=INTERNET:a@x", "item1.X-ABLabel:Gym"}));
  store("carol", "2", card("2", {"item1.EMAIL;type=INTERNET:b@x"}));
  const ORVA::APIResponse response = orva_test::callHandler(&ContactAndCalendarHandler::listCards,
                                                            parseJson(R"({"user":"carol"})"));
  EXPECT_EQ(response.Data()["cards"][0]["mail"][0]["cust_name"], "Gym");
  EXPECT_TRUE(response.Data()["cards"][1]["mail"][0]["cust_name"].isNull());
}

TEST_F(ListCards, SearchKeyAbsentNullOrEmptyListsAll) {
  const ORVA::APIResponse response = orva_test::callHandler(&ContactAndCalendarHandler::listCards,
                                                            parseJson(R"({"user":"alice"})"));
  EXPECT_EQ(response.Data()["cards"].size(), 3u);
  EXPECT_EQ(idsFor(Json::Value()), "a-roe b-smith c-kim");
  EXPECT_EQ(idsFor(""), "a-roe b-smith c-kim");
}

TEST_F(ListCards, SearchIsCaseBlindSubstringOverSixFields) {
  EXPECT_EQ(idsFor("SMITH"), "b-smith c-kim");  // family name; org Smithfield
  EXPECT_EQ(idsFor("mit"), "b-smith c-kim");
  EXPECT_EQ(idsFor("jane"), "a-roe");            // given name
  EXPECT_EQ(idsFor("lead"), "b-smith");          // title
  EXPECT_EQ(idsFor("HOME.EXAMPLE"), "b-smith");  // second e-mail
  EXPECT_EQ(idsFor("+44"), "a-roe");             // third phone
  EXPECT_EQ(idsFor(555), "b-smith");             // a number key reads as jsoncpp spells it
}

TEST_F(ListCards, NotesAndAddressesMatchUrlsLabelsAndJoinedTextDoNot) {
  EXPECT_EQ(idsFor("elm st"), "b-smith");  // address
  EXPECT_EQ(idsFor("tea"), "b-smith");     // note
  EXPECT_EQ(idsFor("zebra"), "");          // url
  EXPECT_EQ(idsFor("gym"), "");            // label
  EXPECT_EQ(idsFor("Smith Acme"), "");     // name and organisation are searched apart
  EXPECT_EQ(idsFor("smith "), "");         // the key is not trimmed
  EXPECT_EQ(idsFor("bob"), "");            // another user's card
}

TEST_F(ListCards, UnknownUserIsSetUpAndGetsEmptyList) {
  const ORVA::APIResponse response = orva_test::callHandler(&ContactAndCalendarHandler::listCards,
                                                            parseJson(R"({"user":"newcomer"})"));
  ASSERT_TRUE(response.IsSuccess());
  EXPECT_EQ(response.Data(), parseJson(R"({"cards":[]})"));
  EXPECT_FALSE(DBHandler().GetGUID("newcomer").empty());
}

TEST_F(ListCards, MissingUserIs900) {
  const ORVA::APIResponse response = orva_test::callHandler(&ContactAndCalendarHandler::listCards,
                                                            parseJson(R"({"search_key":"x"})"));
  EXPECT_EQ(response.ErrorCode(), 900);
  EXPECT_EQ(response.ErrorDetail(), "Request lost parameters");
  EXPECT_NE(log().find("level=1 Request lost parameters"), std::string::npos);
}

TEST_F(ListCards, UnconvertibleParametersAre901AndTouchNoStore) {
  for (const char* params :
       {R"({"user":["eve"]})", R"({"user":{"n":"eve"}})", R"({"user":"eve","search_key":["x"]})"}) {
    const ORVA::APIResponse response =
        orva_test::callHandler(&ContactAndCalendarHandler::listCards, parseJson(params));
    EXPECT_EQ(response.ErrorCode(), 901) << params;
    EXPECT_EQ(response.ErrorDetail(), "Incorrect parameter: Need ");
  }
  EXPECT_NE(log().find("check type of user(string)"), std::string::npos);
  EXPECT_NE(log().find("check type of search_key(string)"), std::string::npos);
  EXPECT_TRUE(DBHandler().GetGUID("eve").empty());
}

TEST(IsMatch, ToleratesRecordsOfAnyShape) {
  ORVA::APIRequest request;
  ORVA::APIResponse response;
  ContactAndCalendarHandler handler(&request, &response, "test");
  EXPECT_FALSE(handler.isMatch(Json::Value(), "a"));
  EXPECT_TRUE(handler.isMatch(Json::Value(), ""));
  EXPECT_FALSE(handler.isMatch(parseJson(R"({"name":"Smith","mail":{"data":"smith"},
                                             "tel":[5,{"data":[1]}]})"),
                               "smith"));
  EXPECT_TRUE(handler.isMatch(parseJson(R"({"tel":[{},{"data":"Smith"}]})"), "SMI"));
  // Letters beyond ASCII fold too (the search's own table, not the locale).
  EXPECT_TRUE(
      handler.isMatch(parseJson(R"({"name":{"family_name":"\u00c9mile"}})"), "\xc3\xa9mile"));
}

TEST_F(ListCards, ThroughTheHostProgram) {
  const std::string command = std::string(ORVA_BIN_DIR) + "/orva-webapi --root " + root_.path() +
                              " call ORVA.ContactAndCalendar.Contacts list_cards user=alice " +
                              "search_key=ROE 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
  EXPECT_EQ(::pclose(pipe), 0) << out;
  const Json::Value answer = parseJson(out);
  EXPECT_EQ(answer["success"], true) << out;
  ASSERT_EQ(answer["data"]["cards"].size(), 1u) << out;
  EXPECT_EQ(answer["data"]["cards"][0]["id"], "a-roe");
}

}  // namespace

// A ctype that folds one byte more than the classic one: Latin-1 É to é.
class LatinCaseFolding : public std::ctype<char> {
 protected:
  char do_tolower(char c) const override {
    return c == '\xc9' ? '\xe9' : std::ctype<char>::do_tolower(c);
  }
  const char* do_tolower(char* begin, const char* end) const override {
    for (char* p = begin; p != end; ++p) *p = do_tolower(*p);
    return end;
  }
};

// The search folds case as the process's global locale says, byte by byte.
TEST(IsMatch, FoldsCaseByTheGlobalLocale) {
  const std::locale previous =
      std::locale::global(std::locale(std::locale::classic(), new LatinCaseFolding));
  ORVA::APIRequest request;
  ORVA::APIResponse response;
  ContactAndCalendarHandler handler(&request, &response, "test");
  Json::Value record;
  record["name"]["family_name"] = "\xc9mile";  // Latin-1 text, passed through as bytes
  EXPECT_TRUE(handler.isMatch(record, "\xe9MILE"));
  EXPECT_TRUE(handler.isMatch(record, "\xc9m"));
  EXPECT_FALSE(handler.isMatch(record, "emile"));
  std::locale::global(previous);
  EXPECT_FALSE(handler.isMatch(record, "\xe9MILE"));
}
