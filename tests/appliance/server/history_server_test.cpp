// The histories with the real server: a phone's changes kept through the
// server's storage hook, the page's through the store, and the history
// routes of serve putting them back.
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/contact_store.h"
#include "tests/appliance/host/serve_process.h"
#include "tests/appliance/server/server_fixture.h"

namespace server_test {
namespace {

namespace fs = std::filesystem;
using Book = std::map<std::string, std::string>;

class HistoryServerTest : public ServerTest {
 protected:
  int http = 0;
  std::unique_ptr<host_test::ServerProcess> serve;
  std::unique_ptr<httplib::Client> client;
  std::string token;

  void SetUp() override {
    ServerTest::SetUp();
    http = freePort();
    const Json::Value started = set(false, false, http, freePort());
    ASSERT_EQ(started["success"], true) << orva_test::toJson(started);
    serve = std::make_unique<host_test::ServerProcess>(root.path());
    ASSERT_GT(serve->port(), 0) << serve->banner();
    token = host_test::serverToken(root);
    client = host_test::clientFor(serve->port());
  }

  // A history route's envelope, with the HTTP status under "status".
  Json::Value route(const std::string& name, const Json::Value& body) {
    auto res =
        client->Post(("/webapi/history/" + name).c_str(), {{"Authorization", "Bearer " + token}},
                     orva_test::toJson(body), "application/json");
    Json::Value out = res ? orva_test::parseJson(res->body) : Json::Value();
    out["status"] = res ? res->status : 0;
    return out;
  }

  Book book() const {
    Book cards;
    for (const auto& entry : fs::directory_iterator(root.at(kBook))) {
      const std::string name = entry.path().filename().string();
      if (name[0] != '.') cards[name] = orva_test::readFile(entry.path().string());
    }
    return cards;
  }

  // The phone: a plain CardDAV client with alice's password.
  Answer phone(const std::string& method, const std::string& name, const std::string& text = "") {
    std::string options = "-u alice:alice-pw -X " + method;
    if (!text.empty()) options += " -H 'Content-Type: text/vcard' --data-binary " + quote(text);
    return request(httpBase(http) + "/alice/contacts/" + name, options);
  }

  static std::int64_t now() {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return ms.count();
  }
};

std::string card(const std::string& uid, const std::string& note) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:Person " + uid + "\r\nNOTE:" + note +
         "\r\nEND:VCARD\r\n";
}

TEST_F(HistoryServerTest, APhoneEmptiesTheBookTheTrashBringsItBackUndoRemovesAnImport) {
  for (int i = 0; i < 3; ++i) {
    const std::string uid = "phone-" + std::to_string(i);
    ASSERT_EQ(phone("PUT", uid + ".vcf", card(uid, "from the phone\\, with ü")).code, 201);
  }
  const std::int64_t beforeImport = now();
  std::string file;
  for (int i = 0; i < 5; ++i) file += card("imported-" + std::to_string(i), "imported");
  const std::string path = root.path() + "/friends.vcf";
  ASSERT_TRUE(orva_test::writeFile(path, file));
  ASSERT_EQ(contacts("import_cards",
                     "user=alice " + quote("file_tmp=" + path) + " file=friends.vcf")["success"],
            true);
  const Book full = book();
  ASSERT_EQ(full.size(), 8u);

  // The phone deletes every card.
  for (const auto& [name, text] : full) ASSERT_EQ(phone("DELETE", name).code, 200) << name;
  ASSERT_TRUE(book().empty());

  Json::Value ask(Json::objectValue);
  ask["user"] = "alice";
  const Json::Value listed = route("trash", ask);
  ASSERT_EQ(listed["status"], 200) << orva_test::toJson(listed);
  const Json::Value& items = listed["data"]["items"];
  ASSERT_EQ(items.size(), 8u);
  Json::Value restore = ask;
  for (const Json::Value& item : items) {
    EXPECT_EQ(item["by"], "alice");
    restore["names"].append(item["name"]);
  }
  const Json::Value restored = route("restore", restore);
  ASSERT_EQ(restored["status"], 200) << orva_test::toJson(restored);
  EXPECT_EQ(book(), full);
  EXPECT_EQ(report(httpBase(http)).body.find("ü") != std::string::npos, true);

  // Undo changes to before the import: exactly the import's cards go.
  Json::Value undo = ask;
  undo["time"] = static_cast<Json::Int64>(beforeImport);
  const Json::Value preview = route("undo_preview", undo);
  ASSERT_EQ(preview["status"], 200) << orva_test::toJson(preview);
  EXPECT_EQ(preview["data"]["remove"], 5);
  EXPECT_EQ(preview["data"]["add"], 0);
  EXPECT_EQ(preview["data"]["change"], 0);
  undo["token"] = preview["data"]["token"];
  ASSERT_EQ(route("undo", undo)["status"], 200);
  Book phoneOnly = full;
  for (auto it = phoneOnly.begin(); it != phoneOnly.end();) {
    it = it->second.find("imported") != std::string::npos ? phoneOnly.erase(it) : std::next(it);
  }
  EXPECT_EQ(book(), phoneOnly);
  // The changes list names every maker.
  const Json::Value changes = route("changes", ask)["data"]["changes"];
  std::string makers;
  for (const Json::Value& change : changes) makers += change["by"].asString() + ";";
  EXPECT_NE(makers.find("import of friends.vcf;"), std::string::npos) << makers;
  EXPECT_NE(makers.find("administration page (undo changes);"), std::string::npos) << makers;
}

TEST_F(HistoryServerTest, PageThenPhoneThenDeleteShowsEveryMakerAndNoBlindRestore) {
  const Json::Value added =
      contacts("add_card",
               "user=alice " + quote(R"(card:={"name":{"family_name":"Lee","given_name":"Ann"}})"));
  ASSERT_EQ(added["success"], true) << orva_test::toJson(added);
  ASSERT_EQ(book().size(), 1u);
  const std::string name = book().begin()->first;
  Json::Value ask(Json::objectValue);
  ask["user"] = "alice";
  ask["name"] = name;
  std::string text = book().begin()->second;
  // The page's edit: a NOTE added.
  text.insert(text.rfind("END:VCARD"), "NOTE:by the page\r\n");
  {
    DBHandler store;
    ASSERT_TRUE(store.UpdateCard(store.GetGUID("alice"), name, text));
  }
  const std::string pageVersion = DBHandler::VersionOf(text);
  std::string byPhone = text;
  byPhone.insert(byPhone.rfind("END:VCARD"), "TEL:+41 79 555 00 00\r\n");
  const int put = phone("PUT", name, byPhone).code;
  ASSERT_TRUE(put == 201 || put == 204) << put;
  // As the server stored it (it writes cards out anew).
  const std::string phoneStored = book().begin()->second;

  // The first version over the phone's edit, with the page's version: refused.
  Json::Value first = ask;
  first["index"] = 0;
  first["current"] = pageVersion;
  const Json::Value refused = route("restore_version", first);
  EXPECT_EQ(refused["status"], 409) << orva_test::toJson(refused);
  EXPECT_EQ(book().begin()->second, phoneStored);

  ASSERT_EQ(phone("DELETE", name).code, 200);
  const Json::Value versions = route("versions", ask);
  ASSERT_EQ(versions["status"], 200) << orva_test::toJson(versions);
  const Json::Value& list = versions["data"]["versions"];
  ASSERT_EQ(list.size(), 4u);
  const char* makers[] = {"administration page", "administration page", "alice", "alice"};
  for (Json::ArrayIndex i = 0; i < 4; ++i) EXPECT_EQ(list[i]["by"], makers[i]) << i;
  EXPECT_EQ(list[1]["changed"][0], "NOTE");
  EXPECT_EQ(list[2]["changed"][0], "TEL");
  EXPECT_TRUE(list[3]["deleted"].asBool());
  // Knowing it is deleted, the page may put the first version back.
  first["current"] = "";
  EXPECT_EQ(route("restore_version", first)["status"], 200);
  EXPECT_EQ(phone("GET", name).code, 200);
}

}  // namespace
}  // namespace server_test
