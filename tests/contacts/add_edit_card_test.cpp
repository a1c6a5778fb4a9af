// add_card and edit_card through the host's request and response, against the
// real contact store under a temporary appliance root.
#include <gtest/gtest.h>
#include <json/value.h>

#include <cctype>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "module/webapi-ContactAndCalendar.h"
#include "platform/contact_store.h"
#include "tests/appliance/host/child_process.h"
#include "tests/support/handler_call.h"
#include "tests/support/temp_root.h"

namespace {

using orva_test::callHandler;

const char kHeader[] = "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODUCTID:-//Orvanta//HOX//EN\r\n";

// The user's cards as the store hands them out: resource name to text.
std::map<std::string, std::string> storedCards(const std::string& user) {
  DBHandler store;
  std::map<std::string, std::string> cards;
  const std::string guid = store.GetGUID(user);
  if (guid.empty()) return cards;
  Json::Value ids(Json::arrayValue);
  Json::Value texts(Json::arrayValue);
  const int count = store.GetCards(ids, texts, guid);
  for (int i = 0; i < count; ++i) cards[ids[i].asString()] = texts[i].asString();
  return cards;
}

// Puts a card into the store directly, as another CardDAV client would.
void storeCard(const std::string& user, const std::string& name, const std::string& text) {
  DBHandler store;
  store.SetupUserBasicInfo(user);
  ASSERT_TRUE(store.AddCard(store.GetGUID(user), name, text)) << text;
}

Json::Value params(const std::string& user, const Json::Value& card) {
  Json::Value value(Json::objectValue);
  value["user"] = user;
  value["card"] = card;
  return value;
}

Json::Value entry(const std::string& data, std::initializer_list<const char*> types = {}) {
  Json::Value value(Json::objectValue);
  value["data"] = data;
  for (const char* type : types) value["type"].append(type);
  return value;
}

Json::Value pageRecord() {
  Json::Value record(Json::objectValue);
  record["id"] = "page-id";
  record["name"]["family_name"] = "Müller";
  record["name"]["given_name"] = "Jürgen";
  record["name"]["additional_name"] = "";
  record["company"]["org"] = "Acme";
  record["company"]["title"] = "";
  record["mail"].append(entry("jm@example.org", {"INTERNET", "HOME"}));
  record["tel"].append(entry("+49 170 1234567"));
  record["adr"].append(entry("  Hauptstr. 1\\2"));
  record["note"] = "first\nsecond";
  return record;
}

std::string pageRecordBody() {
  return "FN:Müller Jürgen\r\n"
         "N:Müller;Jürgen;;;\r\n"
         "ORG:Acme\r\n"
         "EMAIL;type=INTERNET;type=HOME:jm@example.org\r\n"
         "TEL:+49 170 1234567\r\n"
         "ADR:;;Hauptstr. 1\\\\2;;;;\r\n"
         "NOTE:first\\nsecond\r\n"
         "END:VCARD\r\n";
}

// "<stamp> <3> webapi-ContactAndCalendar:<line> Can't find [<user>]'s ID"
bool isUnknownUserLine(const std::string& line, const std::string& user) {
  const std::string head = " <3> webapi-ContactAndCalendar:";
  const std::string tail = " Can't find [" + user + "]'s ID";
  const size_t at = line.find(head);
  if (at == std::string::npos || line.size() < tail.size()) return false;
  const size_t digits = at + head.size();
  const size_t tailAt = line.size() - tail.size();
  if (tailAt <= digits || line.compare(tailAt, tail.size(), tail) != 0) return false;
  for (size_t i = digits; i < tailAt; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(line[i]))) return false;
  }
  return true;
}

class AddEditCardTest : public ::testing::Test {
 protected:
  std::string webapiLog() const { return orva_test::readFile(root.at("/var/log/webapi.log")); }
  std::string systemLog() const { return orva_test::readFile(root.at("/var/log/messages")); }

  orva_test::TempRoot root;
};

TEST_F(AddEditCardTest, AddSetsUpUserAndStoresWriterTextUnderFreshName) {
  const ORVA::APIResponse response =
      callHandler(&ContactAndCalendarHandler::addCard, params("alice", pageRecord()));
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  EXPECT_TRUE(response.Data().isNull());

  const auto cards = storedCards("alice");
  ASSERT_EQ(cards.size(), 1u);
  const std::string& name = cards.begin()->first;
  EXPECT_NE(name, "page-id");
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(cards.begin()->second, kHeader + ("UID:" + name + "\r\n") + pageRecordBody());
}

TEST_F(AddEditCardTest, AddTwiceGivesTwoCardsWithOwnUids) {
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(callHandler(&ContactAndCalendarHandler::addCard, params("alice", pageRecord()))
                    .IsSuccess());
  }
  const auto cards = storedCards("alice");
  ASSERT_EQ(cards.size(), 2u);
  for (const auto& [name, text] : cards) {
    EXPECT_NE(text.find("\r\nUID:" + name + "\r\n"), std::string::npos) << text;
  }
}

TEST_F(AddEditCardTest, MissingParametersAnswer900AndTouchNothing) {
  for (auto method : {&ContactAndCalendarHandler::addCard, &ContactAndCalendarHandler::editCard}) {
    Json::Value onlyUser(Json::objectValue);
    onlyUser["user"] = "alice";
    Json::Value onlyCard(Json::objectValue);
    onlyCard["card"] = pageRecord();
    for (const Json::Value& request : {onlyUser, onlyCard}) {
      const ORVA::APIResponse response = callHandler(method, request);
      EXPECT_EQ(response.ErrorCode(), 900);
      EXPECT_EQ(response.ErrorDetail(), Json::Value("Request lost parameters"));
    }
  }
  EXPECT_EQ(DBHandler().GetGUID("alice"), "");
  EXPECT_NE(webapiLog().find("webapi-ContactAndCalendar:"), std::string::npos);
  EXPECT_NE(webapiLog().find("Request lost parameters"), std::string::npos);
}

TEST_F(AddEditCardTest, CardThatIsNoObjectAnswers901AndStoresNothing) {
  storeCard("bob", "c1", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c1\r\nFN:Bob\r\nEND:VCARD\r\n");
  const auto before = storedCards("bob");
  Json::Value array(Json::arrayValue);
  array.append(pageRecord());
  for (auto method : {&ContactAndCalendarHandler::addCard, &ContactAndCalendarHandler::editCard}) {
    for (const Json::Value& card : {Json::Value(), Json::Value("text"), Json::Value(3), array}) {
      for (const char* user : {"alice", "bob"}) {
        const ORVA::APIResponse response = callHandler(method, params(user, card));
        EXPECT_EQ(response.ErrorCode(), 901) << orva_test::toJson(card);
        EXPECT_EQ(response.ErrorDetail(), Json::Value("Incorrect parameter: Need "));
      }
    }
  }
  EXPECT_EQ(DBHandler().GetGUID("alice"), "");
  EXPECT_EQ(storedCards("bob"), before);
  EXPECT_NE(webapiLog().find("level=1 check type of card(object)"), std::string::npos);
}

TEST_F(AddEditCardTest, UserOrResourceNameNotConvertibleAnswers901) {
  for (auto method : {&ContactAndCalendarHandler::addCard, &ContactAndCalendarHandler::editCard}) {
    for (const Json::Value& user :
         {Json::Value(Json::arrayValue), Json::Value(Json::objectValue)}) {
      Json::Value request = params("", pageRecord());
      request["user"] = user;
      const ORVA::APIResponse response = callHandler(method, request);
      EXPECT_EQ(response.ErrorCode(), 901);
      EXPECT_EQ(response.ErrorDetail(), Json::Value("Incorrect parameter: Need "));
    }
  }
  EXPECT_NE(webapiLog().find("check type of user(string)"), std::string::npos);

  const std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c1\r\nFN:Bob\r\nEND:VCARD\r\n";
  storeCard("bob", "c1", text);
  Json::Value card = pageRecord();
  card["resource_name"].append("c1");
  const ORVA::APIResponse response =
      callHandler(&ContactAndCalendarHandler::editCard, params("bob", card));
  EXPECT_EQ(response.ErrorCode(), 901);
  EXPECT_NE(webapiLog().find("check type of resource_name(string)"), std::string::npos);
  EXPECT_EQ(storedCards("bob").at("c1"), text);
}

TEST_F(AddEditCardTest, AddRefusedByStoreAnswers1011WithoutLog) {
  // A name the store never sets up, and a text that is not UTF-8.
  const ORVA::APIResponse badUser =
      callHandler(&ContactAndCalendarHandler::addCard, params("a/b", pageRecord()));
  EXPECT_EQ(badUser.ErrorCode(), 1011);
  EXPECT_EQ(badUser.ErrorDetail(), Json::Value("Fail to set card"));

  Json::Value record = pageRecord();
  record["note"] = "\xff\xfe";
  const ORVA::APIResponse badText =
      callHandler(&ContactAndCalendarHandler::addCard, params("alice", record));
  EXPECT_EQ(badText.ErrorCode(), 1011);
  EXPECT_EQ(badText.ErrorDetail(), Json::Value("Fail to set card"));
  // No rollback: the user set up on the way stays, without a card.
  EXPECT_NE(DBHandler().GetGUID("alice"), "");
  EXPECT_TRUE(storedCards("alice").empty());
  EXPECT_EQ(webapiLog().find("Fail to set card"), std::string::npos);
}

TEST_F(AddEditCardTest, EditReplacesTextWithOtherThenFields) {
  storeCard("bob", "c1", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c1\r\nFN:Old\r\nEND:VCARD\r\n");
  Json::Value record = pageRecord();
  record["id"] = "ignored";
  record["resource_name"] = "c1";
  record["other"] = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c1\r\nX-KEEP;x=y:z\r\n";
  const ORVA::APIResponse response =
      callHandler(&ContactAndCalendarHandler::editCard, params("bob", record));
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  EXPECT_TRUE(response.Data().isNull());
  const auto cards = storedCards("bob");
  ASSERT_EQ(cards.size(), 1u);
  EXPECT_EQ(cards.at("c1"),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c1\r\nX-KEEP;x=y:z\r\n" + pageRecordBody());
}

TEST_F(AddEditCardTest, EditForUnknownUserLogsToSyslogAndTouchesNothing) {
  storeCard("bob", "c1", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c1\r\nFN:Bob\r\nEND:VCARD\r\n");
  const auto before = storedCards("bob");
  Json::Value record = pageRecord();
  record["resource_name"] = "c1";
  const ORVA::APIResponse response =
      callHandler(&ContactAndCalendarHandler::editCard, params("carol", record));
  ASSERT_TRUE(response.IsSuccess());
  EXPECT_TRUE(response.Data().isNull());
  EXPECT_EQ(DBHandler().GetGUID("carol"), "");
  EXPECT_EQ(storedCards("bob"), before);

  const std::vector<std::string> lines = orva_test::readLines(root.at("/var/log/messages"));
  int matching = 0;
  for (const std::string& line : lines) matching += isUnknownUserLine(line, "carol") ? 1 : 0;
  EXPECT_EQ(matching, 1) << systemLog();
}

TEST_F(AddEditCardTest, EditRefusedByStoreAnswers1011AndKeepsCard) {
  const std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c1\r\nFN:Bob\r\nEND:VCARD\r\n";
  storeCard("bob", "c1", text);
  const std::string other = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c1\r\n";

  Json::Value noName = pageRecord();  // no "resource_name": the empty name
  noName["other"] = other;
  Json::Value missing = noName;
  missing["resource_name"] = "c2";
  Json::Value noOther = pageRecord();  // no header: not a loadable card
  noOther["resource_name"] = "c1";
  Json::Value endInOther = noOther;
  endInOther["other"] = other + "END:VCARD\r\nBEGIN:VCARD\r\nUID:x\r\n";

  for (const Json::Value& record : {noName, missing, noOther, endInOther}) {
    const ORVA::APIResponse response =
        callHandler(&ContactAndCalendarHandler::editCard, params("bob", record));
    EXPECT_EQ(response.ErrorCode(), 1011) << orva_test::toJson(record);
    EXPECT_EQ(response.ErrorDetail(), Json::Value("Fail to set card"));
  }
  EXPECT_EQ(storedCards("bob"), (std::map<std::string, std::string>{{"c1", text}}));
  EXPECT_EQ(webapiLog().find("Fail to set card"), std::string::npos);
}

// Whatever text values a page sends, the written card stays one card that a
// CardDAV server can load: line breaks cannot add lines or close it early.
TEST_F(AddEditCardTest, StoreAcceptsEveryWrittenCardWithHostileValues) {
  const std::vector<std::string> pieces = {
      "a", "Ü", "\r\n", "\r", "\n", "END:VCARD", "BEGIN:VCARD",      "\\",
      ";", ":", ",",    " ",  "\t", "UID:x",     "\r\nEND:VCARD\r\n"};
  std::mt19937 random(7);
  auto text = [&]() {
    std::string out;
    for (int n = random() % 6; n > 0; --n) out += pieces[random() % pieces.size()];
    return out;
  };
  for (int i = 0; i < 40; ++i) {
    Json::Value record(Json::objectValue);
    record["name"]["family_name"] = text();
    record["name"]["given_name"] = text();
    record["name"]["additional_name"] = text();
    record["company"]["org"] = text();
    record["company"]["title"] = text();
    for (const char* key : {"mail", "tel", "adr", "url"}) {
      record[key].append(entry(text(), {"HOME", i % 2 ? "W\r\nK" : "pref"}));
    }
    record["note"] = text();
    const ORVA::APIResponse response =
        callHandler(&ContactAndCalendarHandler::addCard, params("alice", record));
    ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(record);
  }
  EXPECT_EQ(storedCards("alice").size(), 40u);
}

// The entry functions as the host program reaches them through the table.
TEST_F(AddEditCardTest, ThroughTheHostProgram) {
  const auto call = [&](const char* method, std::vector<std::string> args) {
    args.insert(args.begin(),
                {"--root", root.path(), "call", "ORVA.ContactAndCalendar.Contacts", method});
    return host_test::runHost(args);
  };
  const auto added = call("add_card", {"user=alice", "card:=" + orva_test::toJson(pageRecord())});
  EXPECT_EQ(added.status, 0) << added.out << added.err;
  EXPECT_EQ(orva_test::parseJson(added.out),
            orva_test::parseJson(R"({"success":true,"data":null})"));
  const auto cards = storedCards("alice");
  ASSERT_EQ(cards.size(), 1u);
  EXPECT_EQ(cards.begin()->second,
            kHeader + ("UID:" + cards.begin()->first + "\r\n") + pageRecordBody());

  const auto wrongType = call("edit_card", {"user=alice", "card:=[1]"});
  EXPECT_EQ(wrongType.status, 1);
  EXPECT_EQ(orva_test::parseJson(wrongType.out),
            orva_test::parseJson(
                R"({"success":false,"error":{"code":901,"detail":"Incorrect parameter: Need "}})"));
  const auto unknown = call("edit_card", {"user=nobody", "card:={}"});
  EXPECT_EQ(unknown.status, 0) << unknown.out;
  EXPECT_NE(systemLog().find("Can't find [nobody]'s ID"), std::string::npos);
  EXPECT_EQ(storedCards("alice"), cards);
}

// The data and types of property entries, as a page that builds entries of
// its own sends them.
Json::Value valuesOf(const Json::Value& entries) {
  Json::Value values(Json::arrayValue);
  for (const Json::Value& one : entries) {
    Json::Value value(Json::objectValue);
    value["data"] = one["data"];
    value["type"] = one["type"];
    values.append(value);
  }
  return values;
}

// Round trip: list, edit one field, edit_card, list again, on cards shaped as
// exporters write them. Every line the reader kept in "other" survives.
class RoundTripTest : public AddEditCardTest {
 protected:
  // The listing's records by "id".
  std::map<std::string, Json::Value> list(const std::string& user) {
    Json::Value request(Json::objectValue);
    request["user"] = user;
    const ORVA::APIResponse response = callHandler(&ContactAndCalendarHandler::listCards, request);
    std::map<std::string, Json::Value> records;
    if (!response.IsSuccess()) {
      ADD_FAILURE() << orva_test::toJson(response.Envelope());
      return records;
    }
    for (const Json::Value& record : response.Data()["cards"]) {
      records[record["id"].asString()] = record;
    }
    return records;
  }

  void edit(const std::string& user, Json::Value record) {
    record["resource_name"] = record["id"];
    const ORVA::APIResponse response =
        callHandler(&ContactAndCalendarHandler::editCard, params(user, record));
    ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  }
};

const char kPhoneCard[] =
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "PRODID:-//Apple Inc.//iPhone OS 17.4//EN\r\n"
    "N:Appleseed;John;Q;;\r\n"
    "FN:John Q Appleseed\r\n"
    "ORG:Fruit Inc.;\r\n"
    "TITLE:Engineer\r\n"
    "item1.EMAIL;type=INTERNET;type=pref:john@example.com\r\n"
    "item1.X-ABLabel:_$!<Other>!$_\r\n"
    "TEL;type=CELL;type=VOICE;type=pref:+1 (555) 010-0100\r\n"
    "item2.TEL:+1 555 0199\r\n"
    "item2.X-ABLabel:Gym\r\n"
    "NOTE:Met at the conference\\nlikes coffee\r\n"
    "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/"
    "2wBDAAgGBgcGBQgHBwcJCQgKDBQNDAsLDBkS\r\n"
    " Ew8UHRofHh0aHBwgJC4nICIsIxwcKDcpLDAxNDQ0Hyc5PTgyPC4zNDL/2wBDAQkJCQwLDBgNDQ0y\r\n"
    " IRwhMjIyMjIyMjIyMjIy\r\n"
    "X-ABUID:5F4C0A9E-1C1B-4B1F-9B0E-2D6E7C2A1B00:ABPerson\r\n"
    "UID:5F4C0A9E-1C1B-4B1F-9B0E-2D6E7C2A1B00\r\n"
    "END:VCARD\r\n";

const char kServerCard[] =
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "PRODID:-//Sabre//Sabre VObject 4.5.4//EN\r\n"
    "UID:b2f1c3d4-0000-4000-8000-000000000001\r\n"
    "FN:Max Mustermann\r\n"
    "N:Mustermann;Max;;;\r\n"
    "EMAIL;TYPE=work:max@firma.example\r\n"
    "TEL;TYPE=cell:+49 170 1234567\r\n"
    "URL;TYPE=work:https://firma.example/team\r\n"
    "CATEGORIES:Kunden,Berlin\r\n"
    "NOTE:Erste Zeile\\nZweite Zeile – Grüße\r\n"
    "REV:20240101T120000Z\r\n"
    "X-CUSTOM-FIELD;X-PARAM=1:value: with colon\r\n"
    "END:VCARD\r\n";

const char kWebmailCard[] =
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "FN:Jane Doe\r\n"
    "N:Doe;Jane;;;\r\n"
    "EMAIL;TYPE=INTERNET;TYPE=HOME:jane@example.com\r\n"
    "EMAIL;TYPE=INTERNET;TYPE=WORK:jane.doe@work.example\r\n"
    "TEL;TYPE=CELL:+44 20 7946 0000\r\n"
    "BDAY:1990-05-01\r\n"
    "item1.URL:https\\://example.com\r\n"
    "item1.X-ABLabel:\r\n"
    "CATEGORIES:myContacts\r\n"
    "UID:google-0001\r\n"
    "END:VCARD\r\n";

TEST_F(RoundTripTest, EditedFieldShowsAndOtherLinesSurvive) {
  storeCard("alice", "phone", kPhoneCard);
  storeCard("alice", "server", kServerCard);
  storeCard("alice", "webmail", kWebmailCard);

  const auto first = list("alice");
  ASSERT_EQ(first.size(), 3u);
  for (const auto& [id, original] : first) {
    SCOPED_TRACE(id);
    const auto before = storedCards("alice");
    ASSERT_FALSE(original["other"].asString().empty());
    Json::Value changed = original;
    changed["company"]["title"] = "Changed " + id;
    edit("alice", changed);
    for (const auto& [name, text] : storedCards("alice")) {
      if (name != id) {
        EXPECT_EQ(text, before.at(name)) << name;
      }
    }

    const auto second = list("alice");
    ASSERT_EQ(second.size(), 3u);
    const Json::Value& after = second.at(id);
    EXPECT_EQ(after["company"]["title"], Json::Value("Changed " + id));
    EXPECT_EQ(after["other"], original["other"]);
    // Entries come back whole: group, label, types and parameters included.
    for (const char* key : {"name", "note", "bday", "mail", "tel", "adr", "url"}) {
      EXPECT_EQ(after[key], original[key]) << key;
    }
    EXPECT_EQ(after["company"]["org"], original["company"]["org"]);

    // The stored text holds every "other" line in its order, before the
    // fields; editing again without a change leaves it as it is, and no
    // other card is touched.
    auto stored = storedCards("alice");
    EXPECT_EQ(stored.at(id).rfind(original["other"].asString(), 0), 0u) << stored.at(id);
    edit("alice", after);
    EXPECT_EQ(storedCards("alice"), stored);
  }
}

TEST_F(RoundTripTest, AddedCardEditsInPlaceAndKeepsItsUid) {
  Json::Value page = pageRecord();
  page["tel"][0]["type"].append("CELL");
  page["adr"][0]["type"].append("HOME");
  ASSERT_TRUE(callHandler(&ContactAndCalendarHandler::addCard, params("alice", page)).IsSuccess());
  auto records = list("alice");
  ASSERT_EQ(records.size(), 1u);
  const std::string id = records.begin()->first;
  Json::Value record = records.begin()->second;
  EXPECT_EQ(record["other"].asString(), kHeader + ("UID:" + id + "\r\n"));
  EXPECT_EQ(record["note"], Json::Value("first\nsecond"));
  EXPECT_EQ(valuesOf(record["tel"]), valuesOf(page["tel"]));
  // The reader hands the address back in its structured form.
  EXPECT_EQ(record["adr"][0]["data"], Json::Value(";;Hauptstr. 1\\\\2;;;;"));

  record["tel"].append(entry("+1 555 0123", {"WORK"}));
  record["note"] = "changed\r\nnote";
  edit("alice", record);
  records = list("alice");
  ASSERT_EQ(records.size(), 1u);
  const Json::Value& after = records.at(id);
  ASSERT_EQ(after["tel"].size(), 2u);
  EXPECT_EQ(after["tel"][1]["data"], Json::Value("+1 555 0123"));
  EXPECT_EQ(after["note"], Json::Value("changed\nnote"));
  EXPECT_EQ(after["other"], record["other"]);
  EXPECT_EQ(after["name"], record["name"]);
  // The structured address comes back as it went: no padding, no doubling.
  EXPECT_EQ(after["adr"], record["adr"]);
  EXPECT_NE(storedCards("alice").at(id).find("\r\nADR;type=HOME:;;Hauptstr. 1\\\\2;;;;\r\n"),
            std::string::npos);
}

}  // namespace
