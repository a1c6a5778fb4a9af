// The Connect routes through the running host: the addresses phones are given
// for each setting (never http:// while HTTP redirects, never loopback), the
// host phones use remembered, profiles that do not replace each other, and
// the certificate authority as a file.
#include <gtest/gtest.h>

#include <string>

#include "tests/appliance/host/serve_process.h"
#include "tests/support/temp_root.h"

namespace {

using host_test::clientFor;
using host_test::ServerProcess;

class ClientSetupRoutes : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>(root_.path());
    ASSERT_GT(server_->port(), 0) << server_->banner();
    token_ = host_test::serverToken(root_);
    client_ = clientFor(server_->port());
  }

  httplib::Result raw(const std::string& route, const std::string& body) {
    return client_->Post(("/webapi/" + route).c_str(), {{"Authorization", "Bearer " + token_}},
                         body, "application/json");
  }

  Json::Value post(const std::string& route, const std::string& body) {
    auto res = raw(route, body);
    return res ? orva_test::parseJson(res->body) : Json::Value();
  }

  void set(bool ssl, bool redirect) {
    const std::string params = std::string("{\"EnableSSL\":") + (ssl ? "true" : "false") +
                               ",\"RedirectHTTPToHTTPS\":" + (redirect ? "true" : "false") +
                               ",\"HTTPPort\":18008,\"SSLPort\":18443}";
    auto res = client_->Post("/webapi", {{"Authorization", "Bearer " + token_}},
                             "{\"api\":\"ORVA.ContactAndCalendar.Common\",\"version\":1,"
                             "\"method\":\"set\",\"params\":" +
                                 params + "}",
                             "application/json");
    ASSERT_TRUE(res);
    ASSERT_EQ(orva_test::parseJson(res->body)["success"], true) << res->body;
  }

  orva_test::TempRoot root_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<httplib::Client> client_;
  std::string token_;
};

TEST_F(ClientSetupRoutes, AddressesFollowTheSettingsAndNeverLoopback) {
  struct Row {
    bool ssl, redirect;
    std::vector<std::string> schemes;
  };
  const Row rows[] = {
      {false, false, {"http://"}},
      {false, true, {"http://"}},  // no redirect without SSL
      {true, false, {"https://", "http://"}},
      {true, true, {"https://"}},  // HTTP redirects: never handed out
  };
  for (const Row& row : rows) {
    set(row.ssl, row.redirect);
    const Json::Value data = post("connection", R"({"user":"alice"})")["data"];
    const std::string host = data["host"].asString();
    ASSERT_FALSE(host.empty());
    EXPECT_EQ(host.rfind("127.", 0), std::string::npos) << host;
    EXPECT_NE(host, "localhost");
    for (const Json::Value& choice : data["hosts"]) {
      EXPECT_EQ(choice["host"].asString().rfind("127.", 0), std::string::npos);
      EXPECT_NE(choice["host"].asString(), "::1");
    }
    for (const char* list : {"server", "carddav", "caldav"}) {
      ASSERT_EQ(data[list].size(), row.schemes.size()) << list << " ssl " << row.ssl;
      for (Json::ArrayIndex i = 0; i < data[list].size(); ++i) {
        EXPECT_EQ(data[list][i].asString().rfind(row.schemes[i], 0), 0u)
            << data[list][i].asString();
      }
    }
  }
}

TEST_F(ClientSetupRoutes, TheHostForPhonesIsRememberedAndProfilesStayApart) {
  set(true, false);
  EXPECT_EQ(raw("connection/host", R"({"host":"bad host"})")->status, 400);
  ASSERT_EQ(post("connection/host", R"({"host":"phones.example"})")["success"], true);
  const Json::Value data = post("connection", R"({"user":"alice"})")["data"];
  EXPECT_EQ(data["host"], "phones.example");
  EXPECT_EQ(data["carddav"][0], "https://phones.example:18443/alice/contacts/");
  EXPECT_EQ(post("connection", R"({"user":"alice","host":"10.1.2.3"})")["data"]["host"],
            "10.1.2.3");

  // Names that differ only beyond ASCII: each its own identifier, the same
  // at every download, and a file name of plain characters.
  auto profile = [&](const std::string& user) {
    return raw("connection/profile", "{\"user\":\"" + user + "\"}");
  };
  auto identifier = [](const std::string& text) {
    const size_t at = text.rfind("<key>PayloadIdentifier</key>\n\t<string>");
    return text.substr(at, text.find("</string>", at) - at);
  };
  const auto first = profile("j\xc3\xb6rg"), second = profile("j\xc3\xbcrg"),
             again = profile("j\xc3\xb6rg");
  ASSERT_TRUE(first && second && again);
  EXPECT_NE(identifier(first->body), identifier(second->body));
  EXPECT_EQ(first->body, again->body);
  EXPECT_NE(first->body.find("<string>phones.example</string>"), std::string::npos);
  const std::string disposition = first->get_header_value("Content-Disposition");
  const std::string plain = disposition.substr(0, disposition.find(';', 12));
  EXPECT_EQ(plain, "attachment; filename=\"j__rg-phones.example.mobileconfig\"") << disposition;
  // (the client library shows the exact name's escapes decoded)
  EXPECT_NE(disposition.find("; filename*=UTF-8''j"), std::string::npos) << disposition;

  // No authority yet (made when the server starts with SSL).
  EXPECT_EQ(raw("connection/authority", "{}")->status, 404);

  // What the page shows of the server: the start/stop script's status.
  const Json::Value state = post("server/status", "{}")["data"];
  EXPECT_EQ(state["state"], "started");
  EXPECT_EQ(state["lines"][0], "started (without processes)");
}

}  // namespace
