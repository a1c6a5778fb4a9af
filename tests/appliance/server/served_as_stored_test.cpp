// What a client reads is what the store took: values with ',' in web
// addresses and phone numbers, imported lines the server would refuse or
// misread, and a card a client stored with two FN lines, read back from the
// real server with python3-vobject.
#include <map>

#include "tests/appliance/server/server_fixture.h"

namespace server_test {
namespace {

const std::string kPlace = "https://maps.example.com/place/@48.8584,2.2945,17z";
const std::string kPhone = "+1 555 0100,,1234#";

class ServedAsStoredTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    http_ = freePort();
    ASSERT_EQ(set(false, false, http_, freePort())["success"], true);
  }

  // The book as vobject reads it from the server, by UID.
  Json::Value readByClient() {
    const Answer answer = report(httpBase(http_));
    EXPECT_EQ(answer.code, 207) << answer.body;
    orva_test::writeFile(root.at("/.report"), answer.body);
    const Result read =
        run("/usr/bin/python3 " +
            quote(std::string(ORVA_SOURCE_DIR) + "/tests/appliance/server/fields_with_vobject.py") +
            " < " + quote(root.at("/.report")));
    EXPECT_EQ(read.status, 0) << read.err;
    return orva_test::parseJson(read.out);
  }

  Json::Value onlyCard() {
    const Json::Value seen = readByClient();
    EXPECT_EQ(seen.size(), 1u) << orva_test::toJson(seen);
    return seen.size() == 1 ? seen[seen.getMemberNames()[0]] : Json::Value();
  }

  Json::Value listedOnly() {
    const Json::Value cards = contacts("list_cards", "user=alice")["data"]["cards"];
    EXPECT_EQ(cards.size(), 1u);
    return cards[0];
  }

  bool call(const char* method, const Json::Value& record) {
    const Json::Value answer =
        contacts(method, "user=alice " + quote("card:=" + orva_test::toJson(record)));
    EXPECT_EQ(answer["success"], true) << orva_test::toJson(answer);
    return answer["success"] == true;
  }

  int http_ = 0;
};

Json::Value entry(const std::string& data) {
  Json::Value value(Json::objectValue);
  value["data"] = data;
  return value;
}

TEST_F(ServedAsStoredTest, AWebAddressAndAPhoneWithCommasReachClientsWhole) {
  Json::Value record(Json::objectValue);
  record["name"]["family_name"] = "Eiffel";
  record["url"].append(entry(kPlace));
  record["tel"].append(entry(kPhone));
  ASSERT_TRUE(call("add_card", record));
  Json::Value seen = onlyCard();
  EXPECT_EQ(seen["url"][0], kPlace);
  EXPECT_EQ(seen["tel"][0], kPhone);

  // Listed and saved with another title, as the page does; then a second
  // address typed in.
  Json::Value listed = listedOnly();
  listed["resource_name"] = listed["id"];
  listed["company"]["title"] = "Tower";
  ASSERT_TRUE(call("edit_card", listed));
  listed = listedOnly();
  listed["resource_name"] = listed["id"];
  listed["url"].append(entry(kPlace + "?a=1,2"));
  ASSERT_TRUE(call("edit_card", listed));
  seen = onlyCard();
  ASSERT_EQ(seen["url"].size(), 2u) << orva_test::toJson(seen);
  EXPECT_EQ(seen["url"][0], kPlace);
  EXPECT_EQ(seen["url"][1], kPlace + "?a=1,2");
  EXPECT_EQ(seen["tel"][0], kPhone);
  EXPECT_EQ(seen["title"], "Tower");
}

TEST_F(ServedAsStoredTest, ImportRepairsWhatTheServerWouldDropOrMisread) {
  const std::string file =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Kay Dee\r\n"
      "PHOTO;ENCODING=b;TYPE=png:data:image/png;base64,QUJD\r\n"
      "X-messaging/skype-All:kay.dee\r\nNOTE:see\\: here\r\nURL:" +
      kPlace + "\r\nEND:VCARD\r\n";
  const std::string path = root.path() + "/kay.vcf";
  ASSERT_TRUE(orva_test::writeFile(path, file));
  const Json::Value imported =
      contacts("import_cards", "user=alice " + quote("file_tmp=" + path) + " file=kay.vcf");
  ASSERT_EQ(imported["success"], true) << orva_test::toJson(imported);
  EXPECT_EQ(imported["data"]["repaired_lines"].asInt(), 3) << orva_test::toJson(imported);
  EXPECT_EQ(imported["data"]["repaired"][Json::ArrayIndex{0}]["name"], "Kay Dee");
  EXPECT_FALSE(imported["data"].isMember("dropped"));

  const Json::Value seen = onlyCard();
  EXPECT_EQ(seen["x-messaging-skype-all"][0], "kay.dee");
  EXPECT_EQ(seen["note"], "see: here");
  EXPECT_EQ(seen["url"][0], kPlace);
  EXPECT_TRUE(report(httpBase(http_)).has("PHOTO;ENCODING=b;TYPE=png:QUJD"));
}

// A client may store two FN lines (the server takes them): the card lists
// with the last, and can be edited and saved.
TEST_F(ServedAsStoredTest, ACardWithTwoFullNamesFromAClientCanBeEdited) {
  const std::string card =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:two-fn\r\nFN:First Name\r\nN:Name;First;;;\r\n"
      "TEL;TYPE=CELL:+1 555 0101\r\nFN:Last Name\r\nEND:VCARD\r\n";
  contacts("list_cards", "user=alice");  // the user's book exists
  const Answer put = request(httpBase(http_) + "/alice/contacts/two-fn.vcf",
                             "-u alice:alice-pw -X PUT -H 'Content-Type: text/vcard' "
                             "--data-binary " +
                                 quote(card));
  ASSERT_EQ(put.code / 100, 2) << put.body;

  Json::Value listed = listedOnly();
  EXPECT_EQ(listed["name"]["formatted_name"], "Last Name");
  listed["resource_name"] = listed["id"];
  listed["tel"][0]["data"] = "+1 555 0102";
  ASSERT_TRUE(call("edit_card", listed));
  const Json::Value seen = onlyCard();
  EXPECT_EQ(seen["fn"], "Last Name");
  EXPECT_EQ(seen["tel"], orva_test::parseJson("[\"+1 555 0102\"]"));
}

}  // namespace
}  // namespace server_test
