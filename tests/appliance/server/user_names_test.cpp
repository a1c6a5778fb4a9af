// User names through the whole road: the page's add, a client's sign-in at
// the real server (as typed and as a look-alike spelling), the client
// profile, removal and the users file. A name that hides a line break must
// not smuggle in a second sign-in.
#include <cctype>
#include <csignal>
#include <cstring>
#include <map>
#include <thread>

#include "tests/appliance/server/server_fixture.h"

namespace server_test {
namespace {

// Every byte but the plain ones as %XX, for an address path.
std::string pathOf(const std::string& name) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string path;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || std::strchr(".-_~@+", c) != nullptr) {
      path += c;
    } else {
      path += std::string("%") + kHex[byte >> 4] + kHex[byte & 15];
    }
  }
  return "/" + path + "/";
}

class UserNamesTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    http_ = freePort();
    ASSERT_EQ(set(false, false, http_, freePort())["success"], true);
    serve_ = freePort();
    const Result started = run("(exec " + std::string(ORVA_BIN_DIR) + "/orva-webapi --root " +
                               root.path() + " serve --listen 127.0.0.1:" + std::to_string(serve_) +
                               " </dev/null >/dev/null 2>&1) & echo $!");
    servePid_ = std::atoi(started.out.c_str());
    ASSERT_GT(servePid_, 0);
    for (int i = 0; i < 200 && !answers(serve_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    token_ = orva_test::readFile(root.at("/etc/orva-webapi/token"));
    while (!token_.empty() && token_.back() == '\n') token_.pop_back();
  }

  void TearDown() override {
    if (servePid_ > 0) ::kill(servePid_, SIGTERM);
    ServerTest::TearDown();
  }

  Json::Value route(const std::string& name, const std::string& body) const {
    const Answer answer =
        request("http://127.0.0.1:" + std::to_string(serve_) + "/webapi/" + name,
                "-H " + quote("Authorization: Bearer " + token_) +
                    " -H 'Content-Type: application/json' --data-binary " + quote(body));
    return orva_test::parseJson(answer.body);
  }

  // A client's sign-in: the HTTP status of PROPFIND on the stored user's home.
  int signIn(const std::string& user, const std::string& password, const std::string& home) const {
    return request(httpBase(http_) + pathOf(home),
                   "-u " + quote(user + ":" + password) + " -X PROPFIND -H 'Depth: 0'")
        .code;
  }

  std::string usersFile() const { return orva_test::readFile(root.at(htpasswdPath())); }

  int http_ = 0;
  int serve_ = 0;
  pid_t servePid_ = -1;
  std::string token_;
};

// 401, or 403 once the address has spent its failed sign-ins.
bool refused(int status) { return status == 401 || status == 403; }

struct NameRow {
  const char* json;     // the name as the page sends it (JSON text)
  const char* stored;   // what the users file holds, "" when refused
  const char* another;  // another spelling that signs in as it, or ""
  const char* refusal;  // what the refusal names
};

const NameRow kNames[] = {
    {"zz\\u2028bob", "", "", "U+2028 LINE SEPARATOR"},
    {"zz\\u2029bob", "", "", "U+2029 PARAGRAPH SEPARATOR"},
    {"zz\\u0085bob", "", "", "U+0085"},
    {"alice\\u200b", "", "", "U+200B ZERO WIDTH SPACE"},
    {"#bob", "", "", "U+0023 NUMBER SIGN may not begin"},
    {".bob", "", "", "U+002E FULL STOP may not begin"},
    {"a:b", "", "", "U+003A COLON"},
    {"a/b", "", "", "U+002F SOLIDUS"},
    {"bob\\uffff", "", "", "U+FFFF"},
    {"bob\\ufdd0", "", "", "U+FDD0"},
    {"\\udc00bob", "", "", "U+DC00 is a lone surrogate"},
    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "", "", "longer than 64"},
    {"Jos\\u00e9", "Jos\xc3\xa9", "JOSE\xcc\x81", ""},
    {"Zoe\\u0308", "Zo\xc3\xab", "zo\xc3\xab", ""},
    {"Bj\\u00f8rn.\\u00c5s", "Bj\xc3\xb8rn.\xc3\x85s", "BJ\xc3\x98RN.\xc3\x85S", ""},
    {"anna+work@example.com", "anna+work@example.com", "ANNA+WORK@EXAMPLE.COM", ""},
    {"user42", "user42", "", ""},
};

TEST_F(UserNamesTest, NamesThroughAddSignInProfileRemoveAndFile) {
  for (const NameRow& row : kNames) {
    SCOPED_TRACE(row.json);
    const std::string before = usersFile();
    const Json::Value added =
        route("users/add", std::string("{\"user\":\"") + row.json + "\",\"password\":\"pw-1\"}");
    if (*row.stored == '\0') {
      EXPECT_EQ(added["error"]["code"], 112) << orva_test::toJson(added);
      EXPECT_NE(added["error"]["detail"].asString().find(row.refusal), std::string::npos)
          << added["error"]["detail"].asString();
      EXPECT_EQ(usersFile(), before);
      continue;
    }
    ASSERT_EQ(added["success"], true) << orva_test::toJson(added);
    EXPECT_EQ(added["data"]["user"], row.stored);
    EXPECT_NE(usersFile().find(std::string("\n") + row.stored + ":$2b$"), std::string::npos);
    EXPECT_EQ(signIn(row.stored, "pw-1", row.stored), 207);
    // Another spelling signs in as the stored user; adding it is refused,
    // naming the first.
    if (*row.another != '\0') {
      EXPECT_EQ(signIn(row.another, "pw-1", row.stored), 207);
      const Json::Value twice = route(
          "users/add", "{\"user\":" + orva_test::toJson(row.another) + ",\"password\":\"x\"}");
      EXPECT_EQ(twice["error"]["code"], 113) << orva_test::toJson(twice);
      EXPECT_NE(twice["error"]["detail"].asString().find(row.stored), std::string::npos);
    }
    const std::string profileFile = root.at("/.profile");
    orva_test::writeFile(
        profileFile,
        request(
            "http://127.0.0.1:" + std::to_string(serve_) + "/webapi/connection/profile",
            "-H " + quote("Authorization: Bearer " + token_) + " --data-binary " +
                quote("{\"user\":" + orva_test::toJson(row.stored) + ",\"host\":\"example.lan\"}"))
            .body);
    EXPECT_EQ(
        run("/usr/bin/python3 -c 'import plistlib,sys; plistlib.load(open(sys.argv[1],\"rb\"))' " +
            quote(profileFile))
            .status,
        0);
    const std::string spelling = *row.another != '\0' ? row.another : row.stored;
    const Json::Value removed =
        route("users/remove", "{\"user\":" + orva_test::toJson(spelling) + "}");
    EXPECT_EQ(removed["data"]["user"], row.stored) << orva_test::toJson(removed);
    EXPECT_EQ(usersFile(), before);
    EXPECT_TRUE(refused(signIn(row.stored, "pw-1", row.stored)));
  }
  // Nothing above smuggled in a sign-in of its own.
  EXPECT_TRUE(refused(signIn("bob", "pw-1", "bob")));
}

TEST_F(UserNamesTest, NamesStoredBeforeTheRulesKeepWorkingAndAreListedWithAWarning) {
  const Result hash = run("htpasswd -nbBC 4 x old-pw");
  const std::string stored = hash.out.substr(2, hash.out.find('\n') - 2);
  const Result injected = run("htpasswd -nbBC 4 x injected");
  ASSERT_TRUE(orva_test::writeFile(
      root.at(htpasswdPath()),
      usersFile() + "zz\u2028bob:" + injected.out.substr(2) + "Jose\xcc\x81:" + stored + "\n"));
  // Read by line feeds only: the separator is part of the name, not a line end.
  EXPECT_EQ(signIn("zz\u2028bob", "injected", "zz\u2028bob"), 207);
  EXPECT_TRUE(refused(signIn("bob", "injected", "bob")));
  EXPECT_EQ(signIn("Jos\xc3\xa9", "old-pw", "Jose\xcc\x81"), 207);

  const Json::Value users = route("users/list", "{}")["data"]["users"];
  std::map<std::string, std::string> warnings;
  for (const Json::Value& user : users) {
    warnings[user["name"].asString()] = user.get("name_warning", "").asString();
  }
  EXPECT_NE(warnings["zz\u2028bob"].find("U+2028 LINE SEPARATOR"), std::string::npos);
  EXPECT_NE(warnings["Jose\xcc\x81"].find("NFC"), std::string::npos);
  EXPECT_EQ(warnings["alice"], "");
  // And they can be removed, by the name as listed.
  EXPECT_EQ(route("users/remove", "{\"user\":\"zz\\u2028bob\"}")["success"], true);
  EXPECT_TRUE(refused(signIn("zz\u2028bob", "injected", "zz\u2028bob")));
}

TEST_F(UserNamesTest, CalendarNamesThatAreNotUtf8AreRefused) {
  const Json::Value made =
      route("calendars/create", R"({"user":"alice","name":"work","display_name":"\udc00"})");
  EXPECT_EQ(made["error"]["code"], 112) << orva_test::toJson(made);
  EXPECT_EQ(
      request(httpBase(http_) + "/alice/", "-u alice:alice-pw -X PROPFIND -H 'Depth: 1'").code,
      207);
}

}  // namespace
}  // namespace server_test
