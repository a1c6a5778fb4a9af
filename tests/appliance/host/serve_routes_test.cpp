// The routes the administration page uses, against the real server: its
// files, the upload for import, the export download, and what the host
// refuses on the way.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/appliance/host/serve_process.h"
#include "tests/support/temp_root.h"

namespace {

using host_test::clientFor;
using host_test::ServerProcess;

const char* const kContacts = "ORVA.ContactAndCalendar.Contacts";
const char* const kTwoCards =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann Lee\r\nN:Lee;Ann;;;\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob Ray\r\nN:Ray;Bob;;;\r\nEND:VCARD\r\n";

std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

class ServeRoutes : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_ = root_.path() + "/ui";
    ASSERT_EQ(::mkdir(ui_.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((ui_ + "/js").c_str(), 0755), 0);
    ASSERT_TRUE(orva_test::writeFile(ui_ + "/index.html", "<!doctype html><title>t</title>"));
    ASSERT_TRUE(orva_test::writeFile(ui_ + "/js/app.js", "export const a = 1;\n"));
    ASSERT_TRUE(orva_test::writeFile(ui_ + "/style.css", "body{}\n"));
    ASSERT_TRUE(orva_test::writeFile(ui_ + "/.secret", "hidden\n"));
    ASSERT_TRUE(orva_test::writeFile(root_.path() + "/outside.txt", "outside\n"));
    ASSERT_EQ(::symlink((root_.path() + "/outside.txt").c_str(), (ui_ + "/out.txt").c_str()), 0);

    server_ = std::make_unique<ServerProcess>(root_.path(), std::vector<std::string>{"--ui", ui_});
    ASSERT_GT(server_->port(), 0) << server_->banner();
    token_ = host_test::serverToken(root_);
    client_ = clientFor(server_->port());
    // Listing sets the user up in the store; import needs a known user.
    ASSERT_TRUE(aliceIds().empty());
  }

  httplib::Headers auth() const { return {{"Authorization", "Bearer " + token_}}; }

  Json::Value call(const std::string& method, const Json::Value& params) {
    Json::Value request;
    request["api"] = kContacts;
    request["version"] = 1;
    request["method"] = method;
    request["params"] = params;
    auto res = client_->Post("/webapi", auth(), orva_test::toJson(request), "application/json");
    return res ? orva_test::parseJson(res->body) : Json::Value();
  }

  httplib::Result upload(const std::string& method, const std::string& params,
                         const std::string& content, const std::string& filename = "book.vcf") {
    httplib::MultipartFormDataItems items = {
        {"api", kContacts, "", ""},
        {"version", "1", "", ""},
        {"method", method, "", ""},
        {"params", params, "", ""},
        {"file", content, filename, "text/vcard"},
    };
    return client_->Post("/webapi", auth(), items);
  }

  // The ids of alice's cards, in the order the listing gives them.
  std::vector<std::string> aliceIds() {
    Json::Value params;
    params["user"] = "alice";
    std::vector<std::string> ids;
    const Json::Value listed = call("list_cards", params);
    for (const Json::Value& card : listed["data"]["cards"]) {
      ids.push_back(card["id"].asString());
    }
    return ids;
  }

  httplib::Result exportCards(const std::string& body) {
    return client_->Post("/webapi/export", auth(), body, "application/json");
  }

  std::string uploadFolder() const { return root_.at("/var/tmp/orva-webapi"); }

  orva_test::TempRoot root_;
  std::string ui_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<httplib::Client> client_;
  std::string token_;
};

TEST_F(ServeRoutes, PageFilesWithoutTokenAndNothingElse) {
  auto index = client_->Get("/");
  ASSERT_TRUE(index);
  EXPECT_EQ(index->status, 200);
  EXPECT_EQ(index->body, "<!doctype html><title>t</title>");
  EXPECT_EQ(index->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(index->get_header_value("Cache-Control"), "no-store");
  EXPECT_NE(index->get_header_value("Content-Security-Policy").find("default-src 'self'"),
            std::string::npos);

  auto script = client_->Get("/js/app.js");
  ASSERT_TRUE(script);
  EXPECT_EQ(script->status, 200);
  EXPECT_EQ(script->get_header_value("Content-Type").rfind("text/javascript", 0), 0u);
  auto style = client_->Get("/style.css");
  ASSERT_TRUE(style);
  EXPECT_EQ(style->get_header_value("Content-Type").rfind("text/css", 0), 0u);

  for (const std::string path :
       {"/.secret", "/out.txt", "/js", "/js/", "/missing.html", "/../outside.txt",
        "/js/../../outside.txt", "/%2e%2e/outside.txt", "/js/%2E%2E/%2E%2E/outside.txt",
        "/index.html%00.js", "//etc/passwd"}) {
    auto res = client_->Get(path.c_str());
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 404) << path;
    EXPECT_EQ(res->body.find("outside"), std::string::npos) << path;
  }
}

TEST_F(ServeRoutes, SignInLinkCarriesTheTokenInTheFragment) {
  const std::string link =
      "http://127.0.0.1:" + std::to_string(server_->port()) + "/#token=" + token_ + "\n";
  EXPECT_NE(server_->banner().find(link), std::string::npos) << server_->banner();
  EXPECT_EQ(server_->banner().find("?token"), std::string::npos);
}

TEST_F(ServeRoutes, UploadImportsThroughAPrivateFileThatIsRemoved) {
  auto res = upload("import_cards", "{\"user\":\"alice\"}", kTwoCards);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body,
            "{\"success\":true,\"data\":{\"duplicates\":0,\"skipped\":0,\"stored\":2}}\n");
  EXPECT_EQ(aliceIds().size(), 2u);

  struct stat st {};
  ASSERT_EQ(::stat(uploadFolder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(folderEntries(uploadFolder()).empty());

  // A failed import removes its file as well; the module's answer comes back.
  auto refused = upload("import_cards", "{\"user\":\"alice\"}", "not a card\r\n");
  ASSERT_TRUE(refused);
  EXPECT_EQ(orva_test::parseJson(refused->body)["error"]["code"].asInt(), 1011);
  EXPECT_TRUE(folderEntries(uploadFolder()).empty());
  // Without a token nothing is kept or imported.
  httplib::MultipartFormDataItems items = {{"api", kContacts, "", ""},
                                           {"method", "import_cards", "", ""},
                                           {"params", "{\"user\":\"alice\"}", "", ""},
                                           {"file", kTwoCards, "b.vcf", "text/vcard"}};
  auto anonymous = client_->Post("/webapi", items);
  ASSERT_TRUE(anonymous);
  EXPECT_EQ(anonymous->status, 401);
  EXPECT_EQ(aliceIds().size(), 2u);
}

TEST_F(ServeRoutes, UploadOverTheLimitGets413AndLeavesNoFile) {
  auto res = upload("import_cards", "{\"user\":\"alice\"}", std::string(17u << 20, 'x'));
  ASSERT_TRUE(res) << httplib::to_string(res.error());
  EXPECT_EQ(res->status, 413);
  EXPECT_EQ(orva_test::parseJson(res->body)["error"]["code"].asInt(), 106);
  EXPECT_TRUE(folderEntries(uploadFolder()).empty());
  EXPECT_TRUE(aliceIds().empty());
}

TEST_F(ServeRoutes, AFileTmpTheHostDidNotMakeIsRefused) {
  ASSERT_TRUE(orva_test::writeFile(root_.path() + "/planted.vcf", kTwoCards));
  Json::Value params;
  params["user"] = "alice";
  params["file"] = "planted.vcf";
  params["file_tmp"] = root_.path() + "/planted.vcf";
  const Json::Value json = call("import_cards", params);
  EXPECT_EQ(json["error"]["code"].asInt(), 108) << orva_test::toJson(json);
  // Named in an upload's params as well: the host's own file is the only one.
  auto form = upload("import_cards", orva_test::toJson(params), kTwoCards);
  ASSERT_TRUE(form);
  EXPECT_EQ(form->status, 400);
  EXPECT_EQ(orva_test::parseJson(form->body)["error"]["code"].asInt(), 108);
  EXPECT_TRUE(aliceIds().empty());
}

TEST_F(ServeRoutes, ExportDownloadsTheCardsAskedForInOrder) {
  ASSERT_TRUE(upload("import_cards", "{\"user\":\"alice\"}", kTwoCards));
  const std::vector<std::string> ids = aliceIds();
  ASSERT_EQ(ids.size(), 2u);
  auto res = exportCards("{\"user\":\"alice\",\"id\":[\"" + ids[1] + "\",\"" + ids[0] + "\"]}");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/vcard; charset=utf-8");
  EXPECT_EQ(res->get_header_value("Content-Disposition"), "attachment; filename=\"contacts.vcf\"");
  const size_t second = res->body.find("UID:" + ids[1]);
  const size_t first = res->body.find("UID:" + ids[0]);
  ASSERT_NE(second, std::string::npos) << res->body;
  ASSERT_NE(first, std::string::npos) << res->body;
  EXPECT_LT(second, first);
  EXPECT_EQ(res->body.rfind("BEGIN:VCARD\r\n", 0), 0u);

  // A card of another user: the module's refusal, as JSON.
  auto other = exportCards("{\"user\":\"bob\",\"id\":[\"" + ids[0] + "\"]}");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->get_header_value("Content-Type"), "application/json");
  EXPECT_FALSE(orva_test::parseJson(other->body)["success"].asBool());
}

TEST_F(ServeRoutes, ExportOfAWholeBookLeavesOutTheCardsExcepted) {
  ASSERT_TRUE(upload("import_cards", "{\"user\":\"alice\"}", kTwoCards));
  const std::vector<std::string> ids = aliceIds();
  ASSERT_EQ(ids.size(), 2u);
  // {request, the cards downloaded}
  const std::vector<std::pair<std::string, std::vector<std::string>>> table = {
      {"{\"user\":\"alice\",\"all\":true}", ids},
      {"{\"user\":\"alice\",\"all\":true,\"except\":[\"" + ids[0] + "\"]}", {ids[1]}},
      {"{\"user\":\"alice\",\"all\":true,\"search_key\":\"no such text\"}", {}},
  };
  for (const auto& [body, expected] : table) {
    auto res = exportCards(body);
    ASSERT_TRUE(res) << body;
    EXPECT_EQ(res->status, 200) << body;
    std::vector<std::string> got;
    for (const std::string& id : ids) {
      if (res->body.find("UID:" + id + "\r\n") != std::string::npos) got.push_back(id);
    }
    EXPECT_EQ(got, expected) << body;
  }
  // "all" takes no "id", and an "id" list no "except".
  for (const std::string& body : {"{\"user\":\"alice\",\"all\":true,\"id\":[]}",
                                  "{\"user\":\"alice\",\"id\":[],\"except\":[]}"}) {
    auto res = exportCards(body);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400) << body;
  }
}

TEST_F(ServeRoutes, ExportRefusesPathsOutOfTheUsersFolder) {
  ASSERT_TRUE(upload("import_cards", "{\"user\":\"alice\"}", kTwoCards));
  const std::string id = aliceIds().at(0);
  const std::vector<std::string> bad = {
      "{\"user\":\"../alice\",\"id\":[\"" + id + "\"]}",
      "{\"user\":\"alice/..\",\"id\":[\"" + id + "\"]}",
      "{\"user\":\"\",\"id\":[\"" + id + "\"]}",
      "{\"user\":\"alice\",\"id\":[\"../bob/" + id + "\"]}",
      "{\"user\":\"alice\",\"id\":[\"..\"]}",
      "{\"user\":\"alice\",\"id\":[\"a\\u0000b\"]}",
      "{\"user\":\"alice\",\"id\":[\"a\\nb\"]}",
  };
  for (const std::string& body : bad) {
    auto res = exportCards(body);
    ASSERT_TRUE(res) << body;
    EXPECT_EQ(res->status, 400) << body;
    EXPECT_EQ(orva_test::parseJson(res->body)["error"]["code"].asInt(), 109) << body;
  }
  for (const std::string body : {"[]", "{\"user\":\"alice\"}", "{\"user\":1,\"id\":[]}"}) {
    auto res = exportCards(body);
    ASSERT_TRUE(res) << body;
    EXPECT_EQ(res->status, 400) << body;
  }
  auto anonymous =
      client_->Post("/webapi/export", "{\"user\":\"alice\",\"id\":[]}", "application/json");
  ASSERT_TRUE(anonymous);
  EXPECT_EQ(anonymous->status, 401);

  // The user's export folder replaced by a link elsewhere: nothing is read
  // through it.
  auto good = exportCards("{\"user\":\"alice\",\"id\":[\"" + id + "\"]}");
  ASSERT_TRUE(good);
  ASSERT_EQ(good->status, 200);
  const std::string exportRoot = root_.at("/var/packages/Tessaro/var/export");
  const std::string elsewhere = root_.path() + "/elsewhere";
  ASSERT_EQ(::mkdir(elsewhere.c_str(), 0755), 0);
  ASSERT_EQ(::rename((exportRoot + "/alice").c_str(), (elsewhere + "/alice").c_str()), 0);
  ASSERT_EQ(::symlink((elsewhere + "/alice").c_str(), (exportRoot + "/alice").c_str()), 0);
  auto linked = exportCards("{\"user\":\"alice\",\"id\":[\"" + id + "\"]}");
  ASSERT_TRUE(linked);
  // The store refuses to export through the link (1009); were it to, the
  // route would refuse to read (110).
  const int code = orva_test::parseJson(linked->body)["error"]["code"].asInt();
  EXPECT_TRUE(code == 1009 || code == 110) << linked->body;
  EXPECT_EQ(linked->body.find("BEGIN:VCARD"), std::string::npos);
}

TEST_F(ServeRoutes, AFifoInThePageFolderHoldsNoWorker) {
  ASSERT_EQ(::mkfifo((ui_ + "/pipe.html").c_str(), 0644), 0);
  // More requests for it than there are workers: each is answered.
  std::vector<std::unique_ptr<httplib::Client>> clients;
  for (int i = 0; i < 12; ++i) {
    clients.push_back(clientFor(server_->port()));
    auto res = clients.back()->Get("/pipe.html");
    ASSERT_TRUE(res) << i;
    EXPECT_EQ(res->status, 404);
  }
  auto index = client_->Get("/");
  ASSERT_TRUE(index);
  EXPECT_EQ(index->status, 200);
}

TEST_F(ServeRoutes, NamesOfInvalidUtf8ComeBackInValidJson) {
  // A form field is raw bytes: an API name that is not UTF-8 is quoted with
  // its stray bytes replaced.
  httplib::MultipartFormDataItems items = {
      {"api", "Bad\xff\xfeName", "", ""},
      {"method", "m\xc0\xaf", "", ""},
      {"params", "{}", "", ""},
  };
  auto res = client_->Post("/webapi", auth(), items);
  ASSERT_TRUE(res);
  const Json::Value answer = orva_test::parseJson(res->body);
  EXPECT_EQ(answer["error"]["code"], 101) << res->body;
  EXPECT_EQ(answer["error"]["detail"], "Unknown API: Bad\xef\xbf\xbd\xef\xbf\xbdName") << res->body;
}

TEST(ServeExportLink, ACardFileSwappedForALinkAfterTheExportIsNotSent) {
  // The real module, with each exported file replaced by a link to a file
  // outside the export folder once export_cards is done: the route reads
  // no link, whatever the module left there.
  orva_test::TempRoot root;
  ASSERT_TRUE(orva_test::writeFile(root.path() + "/outside.vcf", "SECRET OUTSIDE THE FOLDER\n"));
  ServerProcess server(root.path(), {}, {"--module", ORVA_EXPORT_LINK_MODULE});
  ASSERT_GT(server.port(), 0) << server.banner() << server.errorOutput();
  auto client = clientFor(server.port());
  const httplib::Headers auth = {{"Authorization", "Bearer " + host_test::serverToken(root)}};
  auto added = client->Post("/webapi", auth,
                            R"({"api":"ORVA.ContactAndCalendar.Contacts","method":"add_card",)"
                            R"("params":{"user":"alice","card":{"name":{"family_name":"Lee",)"
                            R"("given_name":"Ann","additional_name":""}}}})",
                            "application/json");
  ASSERT_TRUE(added);
  ASSERT_NE(added->body.find("\"success\":true"), std::string::npos) << added->body;
  auto listed = client->Post(
      "/webapi", auth,
      R"({"api":"ORVA.ContactAndCalendar.Contacts","method":"list_cards","params":{"user":"alice"}})",
      "application/json");
  ASSERT_TRUE(listed);
  const std::string id = orva_test::parseJson(listed->body)["data"]["cards"][0]["id"].asString();
  ASSERT_FALSE(id.empty()) << listed->body;

  auto res = client->Post("/webapi/export", auth, "{\"user\":\"alice\",\"id\":[\"" + id + "\"]}",
                          "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404) << res->body;
  EXPECT_EQ(orva_test::parseJson(res->body)["error"]["code"], 110) << res->body;
  EXPECT_EQ(res->body.find("SECRET"), std::string::npos) << res->body;
  // The module did export, and the link is what the route found.
  struct stat st {};
  ASSERT_EQ(::lstat(root.at("/var/packages/Tessaro/var/export/alice/" + id + ".vcf").c_str(), &st),
            0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(ServeUploadFolder, LeftoversOfAStoppedServerAreRemovedAtStart) {
  orva_test::TempRoot root;
  const std::string folder = root.at("/var/tmp/orva-webapi");
  ASSERT_EQ(::mkdir(root.at("/var").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(root.at("/var/tmp").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  ASSERT_TRUE(orva_test::writeFile(folder + "/upload-abc123", "stale"));
  ServerProcess server(root.path());
  ASSERT_GT(server.port(), 0);
  EXPECT_TRUE(folderEntries(folder).empty());
}

}  // namespace
