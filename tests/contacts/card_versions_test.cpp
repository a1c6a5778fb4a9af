// Versions of listed cards: an edit or a delete made from an old listing
// never silently overwrites what another client stored since.
#include <gtest/gtest.h>
#include <json/value.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "module/webapi-ContactAndCalendar.h"
#include "platform/contact_store.h"
#include "tests/appliance/host/child_process.h"
#include "tests/support/handler_call.h"
#include "tests/support/temp_root.h"

namespace {

using orva_test::callHandler;

std::string card(const std::string& uid, const std::string& lines) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:Ann Lee\r\nN:Lee;Ann;;;\r\n" + lines +
         "END:VCARD\r\n";
}

class CardVersions : public ::testing::Test {
 protected:
  void SetUp() override {
    DBHandler db;
    db.SetupUserBasicInfo("alice");
    guid_ = db.GetGUID("alice");
    ASSERT_TRUE(db.AddCard(guid_, "c1", card("c1", "TITLE:Clerk\r\n")));
    ASSERT_TRUE(db.AddCard(guid_, "c2", card("c2", "")));
  }

  std::map<std::string, Json::Value> listed() {
    Json::Value params(Json::objectValue);
    params["user"] = "alice";
    std::map<std::string, Json::Value> records;
    const ORVA::APIResponse response = callHandler(&ContactAndCalendarHandler::listCards, params);
    EXPECT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
    for (const Json::Value& record : response.Data()["cards"]) {
      records[record["id"].asString()] = record;
    }
    return records;
  }

  ORVA::APIResponse edit(Json::Value record) {
    Json::Value params(Json::objectValue);
    params["user"] = "alice";
    record["resource_name"] = record["id"];
    params["card"] = record;
    return callHandler(&ContactAndCalendarHandler::editCard, params);
  }

  std::string stored(const std::string& name) {
    DBHandler db;
    std::string text;
    std::string version;
    return db.GetCard(guid_, name, text, version) ? text : "";
  }

  // A CardDAV client's upload: the stored card replaced behind the page's back.
  void clientWrites(const std::string& name, const std::string& text) {
    DBHandler db;
    ASSERT_TRUE(db.UpdateCard(guid_, name, text));
  }

  orva_test::TempRoot root_;
  std::string guid_;
};

TEST_F(CardVersions, AnEditFromTheCurrentListingIsStored) {
  Json::Value record = listed().at("c1");
  record["company"]["title"] = "Head of Sales, EMEA";
  const ORVA::APIResponse response = edit(record);
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  EXPECT_NE(stored("c1").find("\r\nTITLE:Head of Sales\\, EMEA\r\n"), std::string::npos);
  // The listing now carries the new version.
  EXPECT_NE(listed().at("c1")["etag"], record["etag"]);
  EXPECT_EQ(listed().at("c1")["etag"], DBHandler::VersionOf(stored("c1")));
}

// The story of a phone that syncs while the page has the card open.
TEST_F(CardVersions, AClientsChangeSinceTheListingIsNeverOverwritten) {
  Json::Value record = listed().at("c1");
  const std::string phone =
      card("c1",
           "TITLE:Clerk\r\nNICKNAME:Annie\r\nitem1.EMAIL;TYPE=INTERNET:ann@phone.example\r\n"
           "item1.X-ABLabel:Gym\r\n");
  clientWrites("c1", phone);
  record["company"]["title"] = "Manager";
  const ORVA::APIResponse response = edit(record);
  ASSERT_FALSE(response.IsSuccess());
  EXPECT_EQ(response.ErrorCode(), 1012);
  EXPECT_EQ(response.ErrorDetail(),
            "Card changed since it was listed: " + DBHandler::VersionOf(phone));
  EXPECT_EQ(stored("c1"), phone);

  // With the version now listed, the edit goes through and keeps the phone's lines.
  Json::Value fresh = listed().at("c1");
  fresh["company"]["title"] = "Manager";
  ASSERT_TRUE(edit(fresh).IsSuccess());
  const std::string now = stored("c1");
  EXPECT_NE(now.find("NICKNAME:Annie\r\n"), std::string::npos);
  EXPECT_NE(now.find("item1.EMAIL;type=INTERNET:ann@phone.example\r\n"), std::string::npos);
  EXPECT_NE(now.find("item1.X-ABLabel:Gym\r\n"), std::string::npos);
  EXPECT_NE(now.find("TITLE:Manager\r\n"), std::string::npos);
}

TEST_F(CardVersions, DeletedOrBadlyTypedVersionsChangeNothing) {
  Json::Value record = listed().at("c1");
  DBHandler db;
  ASSERT_TRUE(db.DelCard(guid_, "c1"));
  ORVA::APIResponse response = edit(record);
  EXPECT_EQ(response.ErrorCode(), 1012);
  EXPECT_EQ(response.ErrorDetail(), "Card changed since it was listed: deleted");
  EXPECT_EQ(stored("c1"), "");

  Json::Value other = listed().at("c2");
  const std::string before = stored("c2");
  other["etag"] = 7;
  other["note"] = "changed";
  EXPECT_EQ(edit(other).ErrorCode(), 901);
  other["etag"] = "0123456789abcdef0123456789abcdef";
  EXPECT_EQ(edit(other).ErrorCode(), 1012);
  EXPECT_EQ(stored("c2"), before);
  // Without a version, an edit replaces the card as it always did.
  other.removeMember("etag");
  EXPECT_TRUE(edit(other).IsSuccess());
  EXPECT_NE(stored("c2").find("NOTE:changed\r\n"), std::string::npos);
}

TEST_F(CardVersions, ANoOpEditKeepsTheStoredBytes) {
  // As a CardDAV client wrote it: no NOTE, FN not made of N, params on BDAY.
  const std::string client =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//x//y//EN\r\nUID:c3\r\nN:Mustermann;Max;Peter;;\r\n"
      "FN:Max Mustermann\r\nORG:Acme\\, Inc.;Sales\r\nBDAY;VALUE=date:1970-01-02\r\n"
      "TEL;TYPE=CELL:+49 1\r\nEND:VCARD\r\n";
  DBHandler db;
  ASSERT_TRUE(db.AddCard(guid_, "c3", client));
  for (const char* name : {"c1", "c3"}) {
    ASSERT_TRUE(edit(listed().at(name)).IsSuccess()) << name;
    Json::Value unversioned = listed().at(name);
    unversioned.removeMember("etag");
    ASSERT_TRUE(edit(unversioned).IsSuccess()) << name;
  }
  EXPECT_EQ(stored("c3"), client);
  EXPECT_EQ(stored("c1"), card("c1", "TITLE:Clerk\r\n"));
}

TEST_F(CardVersions, DeleteLeavesCardsChangedSinceTheListing) {
  const auto records = listed();
  clientWrites("c2", card("c2", "NOTE:from the phone\r\n"));
  Json::Value params(Json::objectValue);
  params["user"] = "alice";
  params["id"].append("c1");
  params["id"].append("c2");
  params["etag"].append(records.at("c1")["etag"]);
  params["etag"].append(records.at("c2")["etag"]);
  const ORVA::APIResponse response = callHandler(&ContactAndCalendarHandler::deleteCards, params);
  EXPECT_EQ(response.ErrorCode(), 1012);
  EXPECT_EQ(response.ErrorDetail(), "Card changed since it was listed: c2");
  EXPECT_EQ(stored("c1"), "");
  EXPECT_NE(stored("c2"), "");

  // Versions that do not pair with the ids are refused before anything is done.
  params["id"] = Json::Value(Json::arrayValue);
  params["id"].append("c2");
  params["etag"] = Json::Value(Json::arrayValue);
  EXPECT_EQ(callHandler(&ContactAndCalendarHandler::deleteCards, params).ErrorCode(), 901);
  params["etag"] = "x";
  EXPECT_EQ(callHandler(&ContactAndCalendarHandler::deleteCards, params).ErrorCode(), 901);
  EXPECT_NE(stored("c2"), "");
}

TEST_F(CardVersions, TooManyIdsInOneRequestAreRefusedWhole) {
  Json::Value params(Json::objectValue);
  params["user"] = "alice";
  params["id"] = Json::Value(Json::arrayValue);
  params["id"].append("c1");
  for (int i = 0; i < 10000; ++i) params["id"].append("missing-" + std::to_string(i));
  for (auto method :
       {&ContactAndCalendarHandler::deleteCards, &ContactAndCalendarHandler::exportCards}) {
    const ORVA::APIResponse response = callHandler(method, params);
    EXPECT_EQ(response.ErrorCode(), 1013);
    EXPECT_EQ(response.ErrorDetail(), "Too many cards in one request: at most 10000");
  }
  EXPECT_NE(stored("c1"), "");
}

// Two writers edit one card from their own listings, round after round:
// every write lands on the version it read or is refused, so every stored
// change is still there at the end.
TEST_F(CardVersions, RacingWritersNeverLoseAChange) {
  std::vector<std::vector<std::string>> landed(2);
  const auto writer = [&](int who) {
    for (int round = 0; round < 150; ++round) {
      Json::Value params(Json::objectValue);
      params["user"] = "alice";
      Json::Value record;
      const ORVA::APIResponse listing = callHandler(&ContactAndCalendarHandler::listCards, params);
      for (const Json::Value& listedRecord : listing.Data()["cards"]) {
        if (listedRecord["id"] == "c1") record = listedRecord;
      }
      const std::string mark = "w" + std::to_string(who) + "r" + std::to_string(round);
      record["note"] = record["note"].asString() + " " + mark;
      if (edit(record).IsSuccess()) landed[who].push_back(mark);
    }
  };
  std::thread first(writer, 0);
  std::thread second(writer, 1);
  first.join();
  second.join();
  const std::string note = listed().at("c1")["note"].asString();
  size_t count = 0;
  for (const auto& marks : landed) {
    for (const std::string& mark : marks) {
      EXPECT_NE(note.find(" " + mark), std::string::npos) << mark << " was overwritten";
      ++count;
    }
  }
  EXPECT_GE(count, 150u);
}

// The versioned write itself: a stale version never writes, however close
// the race, so a check made outside the lock would be caught here.
TEST_F(CardVersions, TheStoreChecksTheVersionUnderItsLock) {
  std::string text;
  std::string version;
  DBHandler db;
  ASSERT_TRUE(db.GetCard(guid_, "c2", text, version));
  int stored = 0;
  int round = 0;
  const auto writer = [&](int who) {
    DBHandler mine;
    std::string current;
    const std::string mark =
        card("c2", "NOTE:" + std::to_string(round) + "-" + std::to_string(who) + "\r\n");
    if (mine.UpdateCardIfVersion(guid_, "c2", mark, version, current) ==
        DBHandler::Outcome::kDone) {
      __atomic_add_fetch(&stored, 1, __ATOMIC_SEQ_CST);
    }
  };
  for (; round < 100; ++round) {
    ASSERT_TRUE(db.GetCard(guid_, "c2", text, version));
    stored = 0;
    std::vector<std::thread> writers;
    for (int who = 0; who < 4; ++who) writers.emplace_back(writer, who);
    for (std::thread& w : writers) w.join();
    ASSERT_EQ(stored, 1) << "round " << round;
  }
}

// As the page reaches the module: the host program and the method table.
TEST_F(CardVersions, ThroughTheHostProgram) {
  const auto call = [&](const char* method, std::vector<std::string> args) {
    args.insert(args.begin(),
                {"--root", root_.path(), "call", "ORVA.ContactAndCalendar.Contacts", method});
    return host_test::runHost(args);
  };
  const auto list = call("list_cards", {"user=alice"});
  ASSERT_EQ(list.status, 0) << list.err;
  Json::Value record = orva_test::parseJson(list.out)["data"]["cards"][0];
  ASSERT_EQ(record["id"], "c1");
  clientWrites("c1", card("c1", "TITLE:Changed\r\n"));
  record["resource_name"] = "c1";
  record["note"] = "mine";
  const auto answer = call("edit_card", {"user=alice", "card:=" + orva_test::toJson(record)});
  EXPECT_EQ(answer.status, 1);
  EXPECT_EQ(orva_test::parseJson(answer.out)["error"]["code"], 1012);
  EXPECT_EQ(stored("c1"), card("c1", "TITLE:Changed\r\n"));
}

}  // namespace
