// POST /webapi/restore, the undo of a merge: cards written back byte for
// byte under their own names, only with the token, and a request of any
// other shape (or a text the store refuses) changes nothing.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/appliance/host/serve_process.h"
#include "tests/support/temp_root.h"

namespace {

using host_test::clientFor;
using host_test::ServerProcess;

const char* const kContacts = "ORVA.ContactAndCalendar.Contacts";
const char* const kTwoCards =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann Lee\r\nN:Lee;Ann;;;\r\nNOTE:first\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob Ray\r\nN:Ray;Bob;;;\r\nEND:VCARD\r\n";

class ServeRestore : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>(root_.path());
    ASSERT_GT(server_->port(), 0) << server_->banner();
    token_ = host_test::serverToken(root_);
    client_ = clientFor(server_->port());
    ASSERT_TRUE(ids().empty());  // sets alice up
    httplib::MultipartFormDataItems items = {{"api", kContacts, "", ""},
                                             {"method", "import_cards", "", ""},
                                             {"params", "{\"user\":\"alice\"}", "", ""},
                                             {"file", kTwoCards, "two.vcf", "text/vcard"}};
    auto imported = client_->Post("/webapi", auth(), items);
    ASSERT_TRUE(imported);
    ASSERT_EQ(ids().size(), 2u) << imported->body;
  }

  httplib::Headers auth() const { return {{"Authorization", "Bearer " + token_}}; }

  Json::Value call(const std::string& method, const Json::Value& params) {
    Json::Value request;
    request["api"] = kContacts;
    request["method"] = method;
    request["params"] = params;
    auto res = client_->Post("/webapi", auth(), orva_test::toJson(request), "application/json");
    return res ? orva_test::parseJson(res->body) : Json::Value();
  }

  std::vector<std::string> ids() {
    Json::Value params;
    params["user"] = "alice";
    std::vector<std::string> found;
    const Json::Value listed = call("list_cards", params);
    for (const Json::Value& card : listed["data"]["cards"]) {
      found.push_back(card["id"].asString());
    }
    return found;
  }

  // Every card's stored bytes, by id, through the export download.
  std::map<std::string, std::string> book() {
    std::map<std::string, std::string> texts;
    for (const std::string& id : ids()) {
      auto res = client_->Post("/webapi/export", auth(),
                               "{\"user\":\"alice\",\"id\":[\"" + id + "\"]}", "application/json");
      texts[id] = res ? res->body : "";
    }
    return texts;
  }

  httplib::Result restore(const std::string& body, bool withToken = true) {
    return withToken ? client_->Post("/webapi/restore", auth(), body, "application/json")
                     : client_->Post("/webapi/restore", body, "application/json");
  }

  static std::string cardsBody(const std::map<std::string, std::string>& cards,
                               const std::string& user = "alice") {
    Json::Value body;
    body["user"] = user;
    body["cards"] = Json::Value(Json::arrayValue);
    for (const auto& [id, text] : cards) {
      Json::Value card;
      card["id"] = id;
      card["text"] = text;
      body["cards"].append(card);
    }
    return orva_test::toJson(body);
  }

  orva_test::TempRoot root_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<httplib::Client> client_;
  std::string token_;
};

TEST_F(ServeRestore, CardsComeBackByteForByteReplacedOrAdded) {
  const std::map<std::string, std::string> before = book();
  const std::string first = before.begin()->first;
  const std::string second = before.rbegin()->first;
  // A merge: the first card edited, the second deleted.
  Json::Value list;
  list["user"] = "alice";
  Json::Value edit;
  edit["user"] = "alice";
  const Json::Value listed = call("list_cards", list);
  for (const Json::Value& card : listed["data"]["cards"]) {
    if (card["id"].asString() == first) edit["card"] = card;
  }
  edit["card"]["resource_name"] = first;
  edit["card"]["note"] = "both";
  const Json::Value edited = call("edit_card", edit);
  ASSERT_TRUE(edited["success"].asBool()) << orva_test::toJson(edited);
  Json::Value del;
  del["user"] = "alice";
  del["id"].append(second);
  ASSERT_TRUE(call("delete_cards", del)["success"].asBool());
  ASSERT_NE(book(), before);

  auto res = restore(cardsBody(before));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, "{\"success\":true,\"data\":{\"restored\":2}}\n");
  EXPECT_EQ(book(), before);
}

TEST_F(ServeRestore, AVersionGivenMustStillBeTheStoredOne) {
  const std::map<std::string, std::string> before = book();
  const std::string first = before.begin()->first;
  const std::string second = before.rbegin()->first;
  Json::Value list;
  list["user"] = "alice";
  std::map<std::string, std::string> etags;
  const Json::Value listed = call("list_cards", list);
  for (const Json::Value& card : listed["data"]["cards"]) {
    etags[card["id"].asString()] = card["etag"].asString();
  }
  ASSERT_EQ(etags.size(), 2u);
  const auto text = [&](const std::string& id, const std::string& note) {
    const std::string& old = before.at(id);
    return old.substr(0, old.find("END:VCARD")) + "NOTE:" + note + "\r\nEND:VCARD\r\n";
  };
  const auto body = [&](const std::string& firstEtag) {
    Json::Value request;
    request["user"] = "alice";
    Json::Value card;
    card["id"] = second;
    card["text"] = text(second, "second");
    request["cards"].append(card);
    card["id"] = first;
    card["text"] = text(first, "first");
    card["etag"] = firstEtag;
    request["cards"].append(card);
    return orva_test::toJson(request);
  };
  // Another version than the stored one: 409, and the card written before
  // it is put back.
  auto stale = restore(body(std::string(32, '0')));
  ASSERT_TRUE(stale);
  EXPECT_EQ(stale->status, 409) << stale->body;
  EXPECT_NE(stale->body.find("changed since: " + etags[first]), std::string::npos) << stale->body;
  EXPECT_EQ(book(), before);

  auto current = restore(body(etags[first]));
  ASSERT_TRUE(current);
  EXPECT_EQ(current->status, 200) << current->body;
  const std::map<std::string, std::string> after = book();
  EXPECT_EQ(after.at(first), text(first, "first"));
  EXPECT_EQ(after.at(second), text(second, "second"));
}

TEST_F(ServeRestore, WithoutTheTokenNothingIsWritten) {
  const std::map<std::string, std::string> before = book();
  std::map<std::string, std::string> changed = before;
  for (auto& [id, text] : changed) text.replace(text.find("END:VCARD"), 0, "NOTE:changed\r\n");
  auto anonymous = restore(cardsBody(changed), false);
  ASSERT_TRUE(anonymous);
  EXPECT_EQ(anonymous->status, 401);
  auto wrong = client_->Post("/webapi/restore", {{"Authorization", "Bearer " + token_ + "0"}},
                             cardsBody(changed), "application/json");
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->status, 401);
  EXPECT_EQ(book(), before);
}

TEST_F(ServeRestore, BadInputIsRefusedWithNothingChanged) {
  const std::map<std::string, std::string> before = book();
  const std::string first = before.begin()->first;
  const std::string second = before.rbegin()->first;
  const std::string good = before.begin()->second;
  const auto withId = [&](const std::string& id) {
    return "{\"user\":\"alice\",\"cards\":[{\"id\":\"" + id + "\",\"text\":\"x\"}]}";
  };
  struct Case {
    const char* what;
    std::string body;
    int status;
    int code;
  };
  const std::vector<Case> cases = {
      {"not JSON", "{\"user\":", 400, 100},
      {"no cards", "{\"user\":\"alice\",\"cards\":[]}", 400, 100},
      {"cards not an array", "{\"user\":\"alice\",\"cards\":{}}", 400, 100},
      {"unknown key", "{\"user\":\"alice\",\"cards\":[{\"id\":\"a\",\"text\":\"x\"}],\"x\":1}", 400,
       100},
      {"card without text", "{\"user\":\"alice\",\"cards\":[{\"id\":\"a\"}]}", 400, 100},
      {"card with another key",
       "{\"user\":\"alice\",\"cards\":[{\"id\":\"a\",\"text\":\"x\",\"rev\":\"e\"}]}", 400, 100},
      {"text not a string", "{\"user\":\"alice\",\"cards\":[{\"id\":\"a\",\"text\":1}]}", 400, 100},
      {"etag not a string",
       "{\"user\":\"alice\",\"cards\":[{\"id\":\"a\",\"text\":\"x\",\"etag\":1}]}", 400, 100},
      {"a path as id", withId("../x"), 400, 109},
      {"a slash in the id", withId("a/b"), 400, 109},
      {"a path as user", "{\"user\":\"..\",\"cards\":[{\"id\":\"a\",\"text\":\"x\"}]}", 400, 109},
      {"unknown user", cardsBody(before, "nobody"), 400, 100},
      {"an id twice",
       "{\"user\":\"alice\",\"cards\":[{\"id\":\"a\",\"text\":\"x\"},{\"id\":\"a\",\"text\":\"y\"}]"
       "}",
       400, 100},
      // The first card would be written; the second is no card, so the first
      // is put back.
      {"a text the store refuses",
       cardsBody({{first, good.substr(0, good.find("END:VCARD")) + "NOTE:new\r\nEND:VCARD\r\n"},
                  {second, "not a card"}}),
       400, 100},
  };
  for (const Case& c : cases) {
    auto res = restore(c.body);
    ASSERT_TRUE(res) << c.what;
    EXPECT_EQ(res->status, c.status) << c.what << ": " << res->body;
    const Json::Value answer = orva_test::parseJson(res->body);
    EXPECT_FALSE(answer["success"].asBool()) << c.what;
    EXPECT_EQ(answer["error"]["code"].asInt(), c.code) << c.what << ": " << res->body;
    EXPECT_EQ(book(), before) << c.what;
  }
  // Only POST takes a body there.
  auto get = client_->Get("/webapi/restore", auth());
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 404);
}

}  // namespace
