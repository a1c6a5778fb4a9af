// "set" drives the real server: what a CardDAV client sees on the ports after
// each setting, and the cards that the module and a client share.
#include "tests/appliance/server/server_fixture.h"

namespace server_test {
namespace {

const char kCard[] =
    R"('card:={"name":{"family_name":"Doe","given_name":"Jane","additional_name":""},"note":"first note"}')";

TEST_F(ServerTest, SslWithRedirectServesTheModulesCardsOverHttps) {
  const int http = freePort(), https = freePort();
  const Json::Value answer = set(true, true, http, https);
  ASSERT_EQ(answer["success"], true) << orva_test::toJson(answer);
  EXPECT_EQ(answer["data"]["common"]["HTTPPort"], http);

  // HTTP: a browser gets a permanent redirect to the same path on the HTTPS
  // port; a CardDAV client (which would drop its password on the way) is
  // told the HTTPS address instead.
  const Answer get = request(httpBase(http) + "/alice/contacts/?x=1");
  EXPECT_EQ(get.code, 301);
  EXPECT_TRUE(get.header("Location: https://127.0.0.1:" + std::to_string(https) +
                         "/alice/contacts/?x=1\r\n"))
      << get.headers;
  for (const char* method : {"PROPFIND", "REPORT", "PUT", "OPTIONS"}) {
    const Answer dav = request(httpBase(http) + "/alice/", std::string("-X ") + method);
    EXPECT_EQ(dav.code, 403) << method;
    EXPECT_TRUE(dav.has("Use https://127.0.0.1:" + std::to_string(https) + "/alice/ ")) << dav.body;
  }

  ASSERT_EQ(contacts("add_card", "user=alice " + std::string(kCard))["success"], true);
  Json::Value card = contacts("list_cards", "user=alice")["data"]["cards"][0];
  const std::string id = card["id"].asString();
  ASSERT_FALSE(id.empty());
  Answer seen = report(httpsBase(https));
  ASSERT_EQ(seen.code, 207) << seen.body;
  EXPECT_TRUE(seen.has("/alice/contacts/" + id + "</href>")) << seen.body;
  EXPECT_TRUE(seen.has("NOTE:first note"));

  // An edit through the module (the listed record sent back, as the page
  // does) is what the next REPORT returns.
  card["resource_name"] = id;
  card["note"] = "second note";
  ASSERT_EQ(
      contacts("edit_card", "user=alice " + quote("card:=" + orva_test::toJson(card)))["success"],
      true);
  seen = report(httpsBase(https));
  EXPECT_TRUE(seen.has("NOTE:second note")) << seen.body;
  EXPECT_FALSE(seen.has("first note"));

  // A card PUT by the client is one of the module's cards.
  const Answer put =
      request(httpsBase(https) + "/alice/contacts/from-client.vcf",
              "-u alice:alice-pw -X PUT -H 'Content-Type: text/vcard' --data-binary " +
                  quote("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:from-client\r\nFN:Max Client\r\n"
                        "N:Client;Max;;;\r\nTEL;TYPE=CELL:+1 555 0199\r\nEND:VCARD\r\n"));
  EXPECT_EQ(put.code, 201) << put.body;
  const Json::Value cards = contacts("list_cards", "user=alice search_key=client");
  ASSERT_EQ(cards["data"]["cards"].size(), 1u) << orva_test::toJson(cards);
  EXPECT_EQ(cards["data"]["cards"][0]["id"], "from-client.vcf");
  EXPECT_EQ(cards["data"]["cards"][0]["tel"][0]["data"], "+1 555 0199");
  // Radicale's own cache beside the cards is not a card.
  EXPECT_EQ(contacts("list_cards", "user=alice")["data"]["cards"].size(), 2u);

  // Discovery of the server root: a path, whatever Host the client sent.
  const Answer wellKnown =
      request(httpsBase(https) + "/.well-known/carddav", "-H 'Host: evil.example'");
  EXPECT_EQ(wellKnown.code, 301);
  EXPECT_TRUE(wellKnown.header("Location: /\r\n")) << wellKnown.headers;
  EXPECT_EQ(request(httpsBase(https) + "/.well-known/caldav").code, 301);

  // TLS: ECDHE with AES-GCM or ChaCha20-Poly1305 only, on TLS 1.2 and 1.3.
  const auto handshake = [&](const std::string& options) {
    return run("openssl s_client -connect 127.0.0.1:" + std::to_string(https) + " " + options +
               " </dev/null")
               .status == 0;
  };
  EXPECT_TRUE(handshake("-tls1_3"));
  EXPECT_TRUE(handshake("-tls1_2 -cipher ECDHE-ECDSA-AES128-GCM-SHA256"));
  EXPECT_TRUE(handshake("-tls1_2 -cipher ECDHE-ECDSA-CHACHA20-POLY1305"));
  for (const char* refused :
       {"-tls1_2 -cipher ECDHE-ECDSA-AES128-SHA", "-tls1_2 -cipher ECDHE-ECDSA-AES256-SHA384",
        "-tls1_2 -cipher ECDHE-ECDSA-AES128-CCM8", "-tls1_2 -cipher ECDHE-ECDSA-ARIA128-GCM-SHA256",
        "-tls1_2 -cipher ECDHE-ECDSA-CAMELLIA128-SHA256",
        "-tls1_3 -ciphersuites TLS_AES_128_CCM_SHA256", "-tls1_1 -cipher ALL@SECLEVEL=0"}) {
    EXPECT_FALSE(handshake(refused)) << refused;
  }
}

TEST_F(ServerTest, SignInIsByPasswordAndEachUserSeesOnlyTheirOwnBook) {
  const int http = freePort(), https = freePort();
  ASSERT_EQ(set(false, false, http, https)["success"], true);
  ASSERT_EQ(contacts("add_card", "user=alice " + std::string(kCard))["success"], true);
  ASSERT_EQ(contacts("add_card", "user=bob " + std::string(kCard))["success"], true);

  const Answer anonymous = request(httpBase(http) + "/alice/contacts/", "-X PROPFIND");
  EXPECT_EQ(anonymous.code, 401);
  EXPECT_TRUE(anonymous.header("WWW-Authenticate: Basic realm=\"Tessaro Calendar Server\""))
      << anonymous.headers;
  EXPECT_EQ(report(httpBase(http), "alice", "wrong").code, 401);
  EXPECT_EQ(report(httpBase(http), "alice", "bob-pw").code, 401);
  EXPECT_EQ(report(httpBase(http), "alice").code, 207);
  // bob signed in, asking for alice's address book.
  const Answer foreign =
      request(httpBase(http) + "/alice/contacts/", "-u bob:bob-pw -X PROPFIND -H 'Depth: 1'");
  EXPECT_EQ(foreign.code, 403) << foreign.body;
  EXPECT_FALSE(foreign.has("first note"));
}

TEST_F(ServerTest, AConfiguredRealmIsTheOneClientsAreAskedFor) {
  // A realm with a blank and a letter beyond ASCII that Latin-1 holds: the
  // header carries it as the Latin-1 byte.
  const std::string conf = root.at("/var/packages/Tessaro/target/etc/calendar_server_json.conf");
  Json::Value stored = orva_test::parseJson(orva_test::readFile(conf));
  stored["general_setting"]["realmName"] = "B\xc3\xbcro Kalender";
  ASSERT_TRUE(orva_test::writeFile(conf, orva_test::toJson(stored)));
  const int http = freePort(), https = freePort();
  const Json::Value answer = set(false, false, http, https);
  ASSERT_EQ(answer["success"], true) << orva_test::toJson(answer);
  EXPECT_EQ(answer["data"]["common"]["realmName"], "B\xc3\xbcro Kalender");

  const Answer anonymous = request(httpBase(http) + "/alice/contacts/", "-X PROPFIND");
  EXPECT_EQ(anonymous.code, 401);
  EXPECT_TRUE(anonymous.header("WWW-Authenticate: Basic realm=\"B\xfcro Kalender\"\r\n"))
      << anonymous.headers;
  EXPECT_EQ(report(httpBase(http)).code, 207);
}

TEST_F(ServerTest, EachSettingOpensExactlyItsPorts) {
  const int http = freePort(), https = freePort();
  // SSL off: only the HTTP port, and it serves.
  ASSERT_EQ(set(false, true, http, https)["success"], true);
  EXPECT_EQ(report(httpBase(http)).code, 207);
  EXPECT_FALSE(answers(https));

  // SSL on without the redirect: both ports serve.
  ASSERT_EQ(set(true, false, http, https)["success"], true);
  EXPECT_EQ(report(httpBase(http)).code, 207);
  EXPECT_EQ(report(httpsBase(https)).code, 207);

  // New ports: the old ones close, the new ones answer.
  const int http2 = freePort(), https2 = freePort();
  const auto before = std::chrono::steady_clock::now();
  ASSERT_EQ(set(true, true, http2, https2)["success"], true);
  const Answer moved = report(httpsBase(https2));
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_EQ(moved.code, 207);
  EXPECT_EQ(request(httpBase(http2)).code, 301);
  EXPECT_FALSE(answers(http));
  EXPECT_FALSE(answers(https));
  RecordProperty(
      "set_to_new_ports_ms",
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

TEST_F(ServerTest, APortHeldByAnotherProgramFailsTheSetAndKeepsEverythingAsItWas) {
  const int http = freePort(), https = freePort();
  ASSERT_EQ(set(true, false, http, https)["success"], true);
  const std::string nginx = pidOf("nginx.pid"), radicale = radicalePid();
  const std::vector<std::string> files = {
      "/var/packages/Tessaro/target/etc/calendar_server_json.conf", kPlist,
      "/usr/local/etc/services.d/Tessaro.sc", "/var/lib/firewall/rules"};
  std::vector<std::string> before;
  for (const std::string& file : files) before.push_back(orva_test::readFile(root.at(file)));

  const int taken = freePort();
  PortHolder holder(taken);
  ASSERT_TRUE(holder.listening());
  const Json::Value answer = set(true, false, taken, https);
  EXPECT_EQ(answer["error"]["code"], 1007);
  // The reason, with the program that holds the port (this test).
  EXPECT_EQ(answer["error"]["detail"].asString(),
            "Fail to restart calendar server: port " + std::to_string(taken) +
                " is in use by another program (" +
                orva_test::readLines("/proc/self/comm").front() + ", pid " +
                std::to_string(::getpid()) + ")");
  // Every file as it was, and "get" shows what runs.
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(orva_test::readFile(root.at(files[i])), before[i]) << files[i];
  }
  EXPECT_EQ(call("ORVA.ContactAndCalendar.Common", "get", "")["data"]["common"]["HTTPPort"], http);
  // The same processes still serve on the old ports.
  EXPECT_EQ(report(httpBase(http)).code, 207);
  EXPECT_EQ(report(httpsBase(https)).code, 207);
  EXPECT_EQ(pidOf("nginx.pid"), nginx);
  EXPECT_EQ(radicalePid(), radicale);
  const std::vector<std::string> log = orva_test::readLines(root.at("/var/log/server.log"));
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().find("port " + std::to_string(taken) + " is in use by another program"),
            std::string::npos)
      << log.back();
}

// A start/stop script that hangs costs one time limit, not two: the answer
// is 1007, and the settings are put back without running it again.
TEST_F(ServerTest, AHungStartStopScriptAnswers1007WithinAboutOneTimeLimit) {
  const int http = freePort(), https = freePort();
  const std::string script = quote(root.at(kScript));
  ASSERT_EQ(run("cp " + script + " " + script +
                ".kept && printf '#!/bin/sh\\nexec sleep 600\\n' >" + script)
                .status,
            0);
  const auto before = std::chrono::steady_clock::now();
  const Result result = run("ORVA_EXEC_TIMEOUT=8 " + std::string(ORVA_BIN_DIR) +
                            "/orva-webapi --root " + root.path() +
                            " call ORVA.ContactAndCalendar.Common set EnableSSL:=false "
                            "RedirectHTTPToHTTPS:=false HTTPPort:=" +
                            std::to_string(http) + " SSLPort:=" + std::to_string(https));
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
  EXPECT_EQ(orva_test::parseJson(result.out)["error"]["code"], 1007) << result.out;
  EXPECT_LT(took, 15.0);  // two limits would be 16 s
  EXPECT_NE(call("ORVA.ContactAndCalendar.Common", "get", "")["data"]["common"]["HTTPPort"], http);
  ASSERT_EQ(run("mv -f " + script + ".kept " + script).status, 0);
}

}  // namespace
}  // namespace server_test
