// The serve command, run as the real program on an ephemeral loopback port
// and spoken to with httplib's client.
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/appliance/host/raw_connection.h"
#include "tests/appliance/host/serve_process.h"
#include "tests/support/temp_root.h"

namespace {

using namespace std::chrono_literals;

const char* const kListCardsBody =
    "{\"api\":\"ORVA.ContactAndCalendar.Contacts\",\"version\":1,\"method\":\"list_cards\","
    "\"params\":{}}";

using host_test::clientFor;
using host_test::ServerProcess;

class Serve : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>(root_.path());
    ASSERT_GT(server_->port(), 0) << server_->banner();
    token_ = host_test::serverToken(root_);
    ASSERT_EQ(token_.size(), 64u);
    client_ = clientFor(server_->port());
  }

  httplib::Result post(const std::string& body, const std::string& authorization) {
    httplib::Headers headers;
    if (!authorization.empty()) headers.emplace("Authorization", authorization);
    return client_->Post("/webapi", headers, body, "application/json");
  }
  httplib::Result postWithToken(const std::string& body) { return post(body, "Bearer " + token_); }

  orva_test::TempRoot root_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<httplib::Client> client_;
  std::string token_;
};

TEST_F(Serve, BannerNamesAddressRootTokenAndAnExample) {
  const std::string& banner = server_->banner();
  EXPECT_NE(banner.find("root: " + root_.path()), std::string::npos) << banner;
  EXPECT_NE(banner.find(token_), std::string::npos) << banner;
  EXPECT_NE(banner.find("curl"), std::string::npos) << banner;
  EXPECT_NE(banner.find("\"list_cards\",\"params\":{\"user\":\"alice\"}"), std::string::npos);
}

TEST_F(Serve, TokenFileIsPrivateHexAndKeptAcrossStarts) {
  struct stat st {};
  ASSERT_EQ(::stat(root_.at("/etc/orva-webapi/token").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(token_.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(server_->stop(SIGTERM), 0);

  ServerProcess again(root_.path());
  ASSERT_GT(again.port(), 0);
  EXPECT_NE(again.banner().find("token: " + token_), std::string::npos) << again.banner();
  auto client = clientFor(again.port());
  auto res = client->Post("/webapi", {{"Authorization", "Bearer " + token_}}, kListCardsBody,
                          "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
}

TEST_F(Serve, NoAnswerWithoutTheRightToken) {
  std::string nearMiss = token_;
  nearMiss.back() = nearMiss.back() == '0' ? '1' : '0';
  const std::vector<std::string> refused = {
      "",
      "Bearer",
      "Bearer ",
      "Basic " + token_,
      "Bearer " + nearMiss,
      "Bearer " + token_.substr(0, 63),
      "Bearer " + token_ + "0",
      token_,
  };
  for (const std::string& authorization : refused) {
    auto res = post(kListCardsBody, authorization);
    ASSERT_TRUE(res) << authorization;
    EXPECT_EQ(res->status, 401) << authorization;
    EXPECT_EQ(res->body.find("success"), std::string::npos) << res->body;
  }
  // Other paths are guarded as well.
  auto other = client_->Post("/webapi/other", kListCardsBody, "application/json");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 401);
  // Nothing reached the module.
  EXPECT_EQ(orva_test::readFile(root_.at("/var/log/webapi.log")).find("Request lost"),
            std::string::npos);
}

TEST_F(Serve, TheEnvelopeWithTheToken) {
  auto res = postWithToken(kListCardsBody);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body,
            "{\"success\":false,\"error\":{\"code\":900,\"detail\":\"Request lost "
            "parameters\"}}\n");
  EXPECT_EQ(res->get_header_value("Content-Type"), "application/json");

  // The scheme's letter case does not matter; version and params may be left out.
  auto plain = post("{\"api\":\"ORVA.ContactAndCalendar.Contacts\",\"method\":\"list_cards\"}",
                    "bearer " + token_);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->body, res->body);

  auto ok = postWithToken(
      "{\"api\":\"ORVA.ContactAndCalendar.Contacts\",\"version\":1,\"method\":\"list_cards\","
      "\"params\":{\"user\":\"alice\"}}");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);
  EXPECT_EQ(ok->body.rfind("{\"success\":true,\"data\":", 0), 0u) << ok->body;

  auto unknown = postWithToken("{\"api\":\"ORVA.Nothing\",\"method\":\"get\"}");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 200);
  EXPECT_EQ(orva_test::parseJson(unknown->body)["error"]["code"].asInt(), 101);
}

TEST_F(Serve, BadBodiesGet400WithAnEnvelope) {
  const std::vector<std::string> bodies = {
      "",
      "{bad",
      "[1,2]",
      "\"text\"",
      "{\"api\":\"ORVA.ContactAndCalendar.Contacts\"}",
      "{\"api\":1,\"method\":\"list_cards\"}",
      "{\"api\":\"A\",\"method\":\"m\",\"version\":\"1\"}",
      "{\"api\":\"A\",\"method\":\"m\",\"version\":1.5}",
      "{\"api\":\"A\",\"method\":\"m\",\"params\":[]}",
      "{\"api\":\"A\",\"method\":\"m\",\"param\":{}}",
      "{\"api\":\"A\",\"method\":\"m\"} trailing",
      "{\"api\":\"A\",\"method\":\"m\",\"params\":{\"x\":" + std::string(20000, '[') + "}}",
  };
  for (const std::string& body : bodies) {
    auto res = postWithToken(body);
    ASSERT_TRUE(res) << body;
    EXPECT_EQ(res->status, 400) << body;
    const Json::Value envelope = orva_test::parseJson(res->body);
    EXPECT_FALSE(envelope["success"].asBool()) << res->body;
    EXPECT_EQ(envelope["error"]["code"].asInt(), 100) << res->body;
    EXPECT_TRUE(envelope["error"]["detail"].isString()) << res->body;
  }
}

TEST_F(Serve, OversizedBodyGets413) {
  const std::string body(17u * 1024u * 1024u, ' ');
  auto res = postWithToken(body);
  ASSERT_TRUE(res) << httplib::to_string(res.error());
  EXPECT_EQ(res->status, 413);
  EXPECT_NE(res->body.find("16 MiB"), std::string::npos) << res->body;
  // The server goes on serving.
  auto next = clientFor(server_->port())
                  ->Post("/webapi", {{"Authorization", "Bearer " + token_}}, kListCardsBody,
                         "application/json");
  ASSERT_TRUE(next);
  EXPECT_EQ(next->status, 200);
}

TEST_F(Serve, ConcurrentRequestsAllGetTheirAnswer) {
  constexpr int kThreads = 8;
  constexpr int kEach = 25;
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto client = clientFor(server_->port());
      for (int i = 0; i < kEach; ++i) {
        const std::string user = "user" + std::to_string(t);
        const std::string body = i % 2 == 0 ? std::string(kListCardsBody)
                                            : "{\"api\":\"ORVA.ContactAndCalendar.Contacts\","
                                              "\"method\":\"list_cards\",\"params\":{\"user\":\"" +
                                                  user + "\"}}";
        auto res = client->Post("/webapi", {{"Authorization", "Bearer " + token_}}, body,
                                "application/json");
        if (!res || res->status != 200) continue;
        const Json::Value envelope = orva_test::parseJson(res->body);
        const bool expected =
            i % 2 == 0 ? envelope["error"]["code"].asInt() == 900 : envelope["success"].asBool();
        if (expected) ++good;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good.load(), kThreads * kEach);
}

TEST_F(Serve, StopsCleanlyOnSigintAndSigterm) {
  EXPECT_EQ(server_->stop(SIGINT), 0);
  ServerProcess second(root_.path());
  ASSERT_GT(second.port(), 0);
  EXPECT_EQ(second.stop(SIGTERM), 0);
}

TEST_F(Serve, SigtermEndsServeWhileARequestWaitsForAProgram) {
  // A "set" whose start/stop script never ends on its own: the request holds
  // a worker and the settings lock; SIGTERM still ends the host at once.
  const std::string script =
      root_.at("/var/packages/Tessaro/target/tools/calendarserver_start_stop.sh");
  const std::string marker = root_.path() + "/script-runs";
  ASSERT_TRUE(orva_test::writeFile(script, "#!/bin/sh\necho $$ > '" + marker + ".tmp'\nmv '" +
                                               marker + ".tmp' '" + marker +
                                               "'\nexec sleep 120\n"));
  ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
  std::thread caller([this] {
    postWithToken(
        "{\"api\":\"ORVA.ContactAndCalendar.Common\",\"method\":\"set\",\"params\":{"
        "\"EnableSSL\":false,\"RedirectHTTPToHTTPS\":false,\"HTTPPort\":9008,"
        "\"SSLPort\":9443}}");
  });
  std::string pid;
  for (const auto until = std::chrono::steady_clock::now() + 20s;
       pid.empty() && std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(20ms)) {
    pid = orva_test::readFile(marker);
  }
  ASSERT_FALSE(pid.empty());
  const int port = server_->port();
  EXPECT_EQ(server_->stop(SIGTERM), 0);
  caller.join();
  // The script kept none of the host's sockets: the port is free.
  EXPECT_FALSE(host_test::RawConnection(port).connected());
  // The script's group was the host's to stop; the test stops it instead.
  ::kill(-std::stoi(pid), SIGKILL);
}

TEST_F(Serve, APortInUseIsAHostFailure) {
  const host_test::RunResult r = host_test::runHost(
      {"--root", root_.path(), "serve", "--listen", "127.0.0.1:" + std::to_string(server_->port())},
      {}, 20s);
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("cannot listen"), std::string::npos) << r.err;
}

}  // namespace
