// What a person types reaches every client exactly: cards added and edited
// through the module with commas, semicolons, backslashes, quotes, line
// breaks, accents and emoji, served by the real server and read back with
// python3-vobject field by field. And an edit from an old listing never
// overwrites what a phone uploaded meanwhile.
#include <map>

#include "tests/appliance/server/server_fixture.h"
#include "vcard/text_escape.h"

namespace server_test {
namespace {

const std::vector<std::string> kTyped = {
    "Acme, Inc.",   "Head of Sales, EMEA", "Call back, maybe Tuesday; bring the contract",
    "Smith; Jones", "C:\\Temp\\new",       "He said \"hi\": ok",
    "one\ntwo",     "Zoë Ørsted-Müller",   "🎉 party \\, done",
};

// A note as the page sends it: line breaks stay LF, the rest escaped.
std::string typedNote(const std::string& text) {
  std::string note;
  for (const char c : text) {
    if (c == '\\' || c == ',' || c == ';') note += '\\';
    note += c;
  }
  return note;
}

// A record with the typed text in every text field, as the page sends it.
Json::Value typedRecord(const std::string& text) {
  const std::string value = orva_vcard::escapedTyped(text);
  Json::Value record(Json::objectValue);
  for (const char* part : {"family_name", "given_name", "additional_name"}) {
    record["name"][part] = value;
  }
  record["name"]["formatted_name"] = value;
  record["company"]["org"] = value;
  record["company"]["title"] = value;
  record["bday"] = value;
  record["note"] = typedNote(text);
  return record;
}

class TypedTextTest : public ServerTest {
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

  std::map<std::string, Json::Value> listedByUid() {
    std::map<std::string, Json::Value> records;
    const Json::Value answer = contacts("list_cards", "user=alice");
    for (const Json::Value& record : answer["data"]["cards"]) {
      records[record["id"].asString()] = record;
    }
    return records;
  }

  // Every field the client shows holds text, exactly.
  static void expectFields(const Json::Value& seen, const std::string& text,
                           const std::string& title, const std::string& note) {
    EXPECT_EQ(seen["fn"], text);
    ASSERT_EQ(seen["n"].size(), 5u);
    for (Json::ArrayIndex i = 0; i < 3; ++i) EXPECT_EQ(seen["n"][i], text) << "N " << i;
    ASSERT_EQ(seen["org"].size(), 1u) << orva_test::toJson(seen["org"]);
    EXPECT_EQ(seen["org"][0], text);
    EXPECT_EQ(seen["title"], title);
    EXPECT_EQ(seen["note"], note);
    EXPECT_EQ(seen["bday"], text);
  }

  int http_ = 0;
};

TEST_F(TypedTextTest, EveryFieldReadsBackAsTypedAfterAddAndEdit) {
  for (const std::string& text : kTyped) {
    const Json::Value added = contacts(
        "add_card", "user=alice " + quote("card:=" + orva_test::toJson(typedRecord(text))));
    ASSERT_EQ(added["success"], true) << text << orva_test::toJson(added);
  }
  std::map<std::string, std::string> typedOf;  // uid -> text
  for (const auto& [uid, record] : listedByUid()) {
    for (const std::string& text : kTyped) {
      if (record["name"]["family_name"] == orva_vcard::escapedTyped(text)) typedOf[uid] = text;
    }
  }
  ASSERT_EQ(typedOf.size(), kTyped.size());
  Json::Value seen = readByClient();
  for (const auto& [uid, text] : typedOf) {
    SCOPED_TRACE(text);
    expectFields(seen[uid], text, text, text);
  }

  // An edit of title and note, as the page sends it (the record as listed,
  // the two fields changed), reads back as typed and leaves the rest.
  for (auto [uid, record] : listedByUid()) {
    const std::string text = typedOf[uid];
    record["company"]["title"] = orva_vcard::escapedTyped("Head of " + text);
    record["note"] = typedNote(text + "\n" + text);
    record["resource_name"] = uid;
    const Json::Value edited =
        contacts("edit_card", "user=alice " + quote("card:=" + orva_test::toJson(record)));
    ASSERT_EQ(edited["success"], true) << text << orva_test::toJson(edited);
  }
  seen = readByClient();
  for (const auto& [uid, text] : typedOf) {
    SCOPED_TRACE(text);
    expectFields(seen[uid], text, "Head of " + text, text + "\n" + text);
  }
}

// The book stays servable whatever is typed, unescaped texts included: the
// writer escapes what would split a value.
TEST_F(TypedTextTest, UnescapedTextsFromACallerKeepTheBookServable) {
  Json::Value record(Json::objectValue);
  record["name"]["family_name"] = "Smith; Jones";
  record["name"]["given_name"] = "Ann, Marie";
  record["company"]["org"] = "Ximian, Inc.";
  record["company"]["title"] = "Head of Sales, EMEA";
  record["note"] = "Call back, maybe Tuesday; bring the contract\nC:\\Temp\\new";
  ASSERT_EQ(
      contacts("add_card", "user=alice " + quote("card:=" + orva_test::toJson(record)))["success"],
      true);
  const Json::Value seen = readByClient();
  ASSERT_EQ(seen.size(), 1u);
  const Json::Value& card = seen[seen.getMemberNames()[0]];
  EXPECT_EQ(card["fn"], "Smith; Jones Ann, Marie");
  EXPECT_EQ(card["n"][0], "Smith; Jones");
  EXPECT_EQ(card["n"][1], "Ann, Marie");
  EXPECT_EQ(card["org"][0], "Ximian, Inc.");
  EXPECT_EQ(card["title"], "Head of Sales, EMEA");
  EXPECT_EQ(card["note"], "Call back, maybe Tuesday; bring the contract\nC:\\Temp\\new");
}

// The administrator lists the book; the phone adds an e-mail address and a
// nickname and uploads the card; the administrator saves a changed title.
TEST_F(TypedTextTest, APhonesUploadIsNeverOverwrittenByAnOldListing) {
  Json::Value record = typedRecord("Ann");
  record.removeMember("bday");
  ASSERT_EQ(
      contacts("add_card", "user=alice " + quote("card:=" + orva_test::toJson(record)))["success"],
      true);
  Json::Value listed = listedByUid().begin()->second;
  const std::string uid = listed["id"].asString();

  const std::string url = httpBase(http_) + "/alice/contacts/" + uid;
  const Answer got = request(url, "-u alice:alice-pw");
  ASSERT_EQ(got.code, 200) << got.body;
  const std::size_t etagAt = got.headers.find("ETag: ");
  ASSERT_NE(etagAt, std::string::npos) << got.headers;
  const std::string etag =
      got.headers.substr(etagAt + 6, got.headers.find("\r\n", etagAt) - etagAt - 6);
  std::string phone = got.body;
  phone.insert(phone.find("END:VCARD"),
               "EMAIL;TYPE=INTERNET:ann@phone.example\r\nNICKNAME:Annie\r\n");
  const Answer put =
      request(url, "-u alice:alice-pw -X PUT -H 'Content-Type: text/vcard' -H " +
                       quote("If-Match: " + etag) + " --data-binary " + quote(phone));
  ASSERT_EQ(put.code / 100, 2) << put.body;

  listed["company"]["title"] = "Manager";
  listed["resource_name"] = uid;
  const Json::Value stale =
      contacts("edit_card", "user=alice " + quote("card:=" + orva_test::toJson(listed)));
  EXPECT_EQ(stale["success"], false);
  EXPECT_EQ(stale["error"]["code"], 1012);
  Answer book = report(httpBase(http_));
  EXPECT_TRUE(book.has("ann@phone.example")) << book.body;
  EXPECT_TRUE(book.has("NICKNAME:Annie"));
  EXPECT_FALSE(book.has("TITLE:Manager"));

  // Saved again from a fresh listing, both changes are there.
  Json::Value fresh = listedByUid().at(uid);
  fresh["company"]["title"] = "Manager";
  fresh["resource_name"] = uid;
  EXPECT_EQ(
      contacts("edit_card", "user=alice " + quote("card:=" + orva_test::toJson(fresh)))["success"],
      true);
  book = report(httpBase(http_));
  EXPECT_TRUE(book.has("ann@phone.example")) << book.body;
  EXPECT_TRUE(book.has("NICKNAME:Annie"));
  EXPECT_TRUE(book.has("TITLE:Manager"));
}

}  // namespace
}  // namespace server_test
