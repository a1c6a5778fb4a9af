// The appliance's own routes (users, calendars, client set-up) through the
// real serve program, and the rules of names and password hashes they keep.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "appliance/host/accounts/password_file.cpp"
#include "appliance/host/accounts/user_name.cpp"
#include "tests/appliance/host/serve_process.h"
#include "tests/support/temp_root.h"

namespace {

using host_test::clientFor;
using host_test::ServerProcess;

const char* const kUsersFile = "/var/packages/Tessaro/target/etc/users.htpasswd";
const char* const kHomes = "/var/packages/Tessaro/var/collections/collection-root";

// Standard output of a shell command.
std::string shell(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  ::pclose(pipe);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// The hash part of htpasswd's own line for a password, in its format flag.
std::string htpasswdHash(const std::string& flag) {
  const std::string line = shell("htpasswd -nb" + flag + " u secret-pw 2>/dev/null");
  return line.substr(line.find(':') + 1);
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(UserNames, PlainNamesOnly) {
  orva_test::TempRoot root;
  for (const char* good : {"alice", "Zoë", "a.b", "mary-jane", "o'neil", "x y"}) {
    EXPECT_TRUE(orva_host::isPlainUserName(good)) << good;
  }
  for (const std::string& bad : std::vector<std::string>{
           "", "a/b", "..", "a..b", " a", "a ", "a:b", "a\tb", "a\nb", ".a", "a~", "a\\b", "\xff",
           std::string(101, 'a'), std::string("a\0b", 3)}) {
    EXPECT_FALSE(orva_host::isPlainUserName(bad)) << bad;
  }
}

TEST(PasswordHashes, OnlyBcryptIsCheckableAndEachOtherKindIsNamed) {
  EXPECT_TRUE(orva_host::isCheckableHash(htpasswdHash("B")));
  EXPECT_EQ(orva_host::hashKind(htpasswdHash("m")), "MD5 (htpasswd -m)");
  EXPECT_EQ(orva_host::hashKind(htpasswdHash("s")), "SHA-1 (htpasswd -s)");
  EXPECT_EQ(orva_host::hashKind(htpasswdHash("d")), "DES crypt (htpasswd -d)");
  EXPECT_EQ(orva_host::hashKind(htpasswdHash("p")), "plain text or unknown");
  const std::string bcrypt = htpasswdHash("B");
  EXPECT_EQ(orva_host::hashKind(bcrypt.substr(0, 59)), "damaged bcrypt");
  EXPECT_FALSE(orva_host::isCheckableHash("$2b$03$" + bcrypt.substr(7)));  // cost below 4
}

TEST(PasswordHashes, MadeHashesAreCheckedByTheServersLibrary) {
  std::string hash, reason;
  ASSERT_TRUE(orva_host::bcryptHash("p\xc3\xa4ss: word", hash, reason)) << reason;
  EXPECT_TRUE(orva_host::isCheckableHash(hash));
  // As Radicale checks it (passlib's bcrypt).
  const std::string check =
      "/usr/bin/python3 -c \"import sys; from passlib.hash import bcrypt; "
      "print(bcrypt.verify(sys.argv[1], sys.argv[2]))\" ";
  EXPECT_EQ(shell(check + "'p\xc3\xa4ss: word' '" + hash + "'"), "True");
  EXPECT_EQ(shell(check + "'pass: word' '" + hash + "'"), "False");
  EXPECT_FALSE(orva_host::bcryptHash("", hash, reason));
  EXPECT_FALSE(orva_host::bcryptHash(std::string(73, 'a'), hash, reason));
  EXPECT_NE(reason.find("72 bytes"), std::string::npos);
}

// Writers of hashes made beforehand spend all their time inside the
// writers' lock, so without it they overlap there: every one must be kept.
TEST(PasswordFile, ConcurrentWritersOfFixedHashesAreAllKept) {
  orva_test::TempRoot root;
  const std::string hash = htpasswdHash("B");
  constexpr int kWriters = 8;
  constexpr int kEach = 25;
  std::atomic<int> ready{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      ++ready;
      while (ready < kWriters) std::this_thread::yield();
      for (int i = 0; i < kEach; ++i) {
        const std::string user = "u" + std::to_string(w) + "-" + std::to_string(i);
        EXPECT_EQ(orva_host::addPasswordEntry(root.path(), user, hash),
                  orva_host::PasswordChange::kDone);
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(orva_host::readPasswordFile(root.path()).size(), size_t{kWriters * kEach});
}

TEST(UserNames, NewNamesAreOneSpellingOfOnePerson) {
  struct Row {
    std::string given, stored, refusal;
  };
  const std::vector<Row> rows = {
      {"Jose\xcc\x81", "Jos\xc3\xa9", ""},
      {"a@b.c-42", "a@b.c-42", ""},
      {"zz\xe2\x80\xa8"
       "bob",
       "", "U+2028 LINE SEPARATOR"},
      {"a\xc2\x85", "", "U+0085"},
      {"a\xef\xbf\xbe", "", "U+FFFE"},
      {"a\xed\xb0\x80", "", "U+DC00 is a lone surrogate"},
      {"a\xff", "", "not UTF-8"},
      {"#a", "", "U+0023 NUMBER SIGN may not begin"},
      {std::string(64, 'a'), std::string(64, 'a'), ""},
      {std::string(65, 'a'), "", "longer than 64"},
  };
  for (const Row& row : rows) {
    std::string nfc, reason;
    EXPECT_EQ(orva_host::acceptNewUserName(row.given, nfc, reason), row.refusal.empty())
        << row.given;
    EXPECT_EQ(row.refusal.empty() ? nfc : std::string(), row.stored);
    EXPECT_NE(reason.find(row.refusal), std::string::npos) << reason;
  }
  EXPECT_EQ(orva_host::userNameKey("BJ\xc3\x98RN.\xc3\x85S"),
            orva_host::userNameKey("Bj\xc3\xb8rn.\xc3\x85s"));
  EXPECT_EQ(orva_host::userNameKey("Jose\xcc\x81"), orva_host::userNameKey("JOS\xc3\x89"));
  EXPECT_NE(orva_host::userNameKey("\xd0\xb0lice"), orva_host::userNameKey("alice"));
}

class UserRoutes : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>(root_.path());
    ASSERT_GT(server_->port(), 0) << server_->banner();
    token_ = host_test::serverToken(root_);
    client_ = clientFor(server_->port());
  }

  // {"status": HTTP status, "answer": the envelope}
  Json::Value post(const std::string& route, const std::string& body) {
    auto res = client_->Post(("/webapi/" + route).c_str(), {{"Authorization", "Bearer " + token_}},
                             body, "application/json");
    Json::Value out;
    out["status"] = res ? res->status : 0;
    out["answer"] = res ? orva_test::parseJson(res->body) : Json::Value();
    out["body"] = res ? res->body : "";
    return out;
  }

  int code(const Json::Value& result) { return result["answer"]["error"]["code"].asInt(); }

  std::string usersFile() { return orva_test::readFile(root_.at(kUsersFile)); }

  orva_test::TempRoot root_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<httplib::Client> client_;
  std::string token_;
};

TEST_F(UserRoutes, AddSetsUpBookCalendarAndBcryptSignIn) {
  const Json::Value added = post("users/add", R"({"user":"alice","password":"pw-1"})");
  ASSERT_EQ(added["status"], 200) << added["body"].asString();
  EXPECT_EQ(usersFile().rfind("alice:$2b$10$", 0), 0u) << usersFile();
  struct stat st {};
  ASSERT_EQ(::stat(root_.at(kUsersFile).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string home = root_.at(kHomes) + "/alice";
  EXPECT_NE(orva_test::readFile(home + "/contacts/.Radicale.props").find("VADDRESSBOOK"),
            std::string::npos);
  EXPECT_NE(orva_test::readFile(home + "/calendar/.Radicale.props").find("VCALENDAR"),
            std::string::npos);
  // The store knows the user (as the module's own set-up makes it).
  EXPECT_FALSE(
      orva_test::readFile(root_.at("/var/packages/Tessaro/var/users/by-name/alice")).empty());

  const Json::Value listed = post("users/list", "{}");
  ASSERT_EQ(listed["answer"]["data"]["users"].size(), 1u);
  const Json::Value& alice = listed["answer"]["data"]["users"][0];
  EXPECT_EQ(alice["name"], "alice");
  EXPECT_EQ(alice["sign_in"], true);
  EXPECT_EQ(alice["password_checkable"], true);
  EXPECT_EQ(alice["calendars"], 1);

  const Json::Value again = post("users/add", R"({"user":"alice","password":"pw-2"})");
  EXPECT_EQ(again["status"], 409);
  EXPECT_EQ(code(again), 113);
}

TEST_F(UserRoutes, RefusalsChangeNothing) {
  const std::string md5 = htpasswdHash("m");
  const Json::Value refusedHash = post("users/add", R"({"user":"bob","hash":")" + md5 + "\"}");
  EXPECT_EQ(code(refusedHash), 115);
  EXPECT_NE(refusedHash["answer"]["error"]["detail"].asString().find("MD5"), std::string::npos);
  EXPECT_EQ(code(post("users/add", R"({"user":"../x","password":"pw"})")), 112);
  EXPECT_EQ(code(post("users/add", R"({"user":"bob","password":""})")), 115);
  EXPECT_EQ(code(post("users/add", R"({"user":"bob"})")), 100);
  EXPECT_EQ(code(post("users/add", R"({"user":"bob","password":"a","extra":1})")), 100);
  EXPECT_EQ(code(post("users/password", R"({"user":"nobody","password":"pw"})")), 114);
  EXPECT_EQ(code(post("users/remove", R"({"user":"nobody"})")), 114);
  EXPECT_EQ(usersFile(), "");
  EXPECT_FALSE(isFolder(root_.at(kHomes) + "/bob"));

  // A bcrypt hash made elsewhere is taken as it is.
  const std::string bcrypt = htpasswdHash("B");
  EXPECT_EQ(post("users/add", R"({"user":"bob","hash":")" + bcrypt + "\"}")["status"], 200);
  EXPECT_EQ(usersFile(), "bob:" + bcrypt + "\n");

  auto noToken = client_->Post("/webapi/users/list", "{}", "application/json");
  ASSERT_TRUE(noToken);
  EXPECT_EQ(noToken->status, 401);
}

TEST_F(UserRoutes, ConcurrentChangesAreAllKept) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([this, i] {
      auto client = clientFor(server_->port());
      client->Post("/webapi/users/add", {{"Authorization", "Bearer " + token_}},
                   "{\"user\":\"user" + std::to_string(i) + "\",\"password\":\"pw\"}",
                   "application/json");
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::vector<orva_host::PasswordEntry> entries = orva_host::readPasswordFile(root_.path());
  EXPECT_EQ(entries.size(), 8u) << usersFile();
}

TEST_F(UserRoutes, UnusableStoredHashesAreReportedAndReplaced) {
  ASSERT_TRUE(orva_test::writeFile(root_.at(kUsersFile),
                                   "# admin's note\nold:" + htpasswdHash("m") + "\n"));
  const Json::Value listed = post("users/list", "{}");
  const Json::Value& old = listed["answer"]["data"]["users"][0];
  EXPECT_EQ(old["password_checkable"], false);
  EXPECT_EQ(old["password"], "MD5 (htpasswd -m)");
  ASSERT_EQ(post("users/password", R"({"user":"old","password":"new-pw"})")["status"], 200);
  EXPECT_EQ(usersFile().rfind("# admin's note\nold:$2b$", 0), 0u) << usersFile();
  // Made by hand, so set up now: a book and a calendar for discovery.
  EXPECT_TRUE(isFolder(root_.at(kHomes) + "/old/contacts"));
  EXPECT_TRUE(isFolder(root_.at(kHomes) + "/old/calendar"));
}

TEST_F(UserRoutes, RemoveKeepsDataUnlessAsked) {
  ASSERT_EQ(post("users/add", R"({"user":"carol","password":"pw"})")["status"], 200);
  const std::string book = root_.at(kHomes) + "/carol/contacts";
  ASSERT_TRUE(orva_test::writeFile(book + "/c1.vcf", "BEGIN:VCARD\r\nEND:VCARD\r\n"));
  const Json::Value kept = post("users/remove", R"({"user":"carol"})");
  EXPECT_EQ(kept["answer"]["data"]["kept_cards"], 1);
  EXPECT_EQ(usersFile(), "");
  EXPECT_TRUE(isFolder(book));

  // Without a sign-in, the data is still listed, and removed only on request.
  const Json::Value listed = post("users/list", "{}");
  EXPECT_EQ(listed["answer"]["data"]["users"][0]["sign_in"], false);
  EXPECT_EQ(listed["answer"]["data"]["users"][0]["cards"], 1);
  EXPECT_EQ(code(post("users/remove", R"({"user":"carol","delete_data":"yes"})")), 100);
  const Json::Value deleted = post("users/remove", R"({"user":"carol","delete_data":true})");
  EXPECT_EQ(deleted["answer"]["data"]["deleted_cards"], 1);
  EXPECT_FALSE(isFolder(root_.at(kHomes) + "/carol"));
  EXPECT_EQ(orva_test::readFile(root_.at("/var/packages/Tessaro/var/users/by-name/carol")), "");
  EXPECT_EQ(post("users/list", "{}")["answer"]["data"]["users"].size(), 0u);
}

TEST_F(UserRoutes, CalendarsAreMadeAndDeletedButBooksStay) {
  ASSERT_EQ(post("users/add", R"({"user":"dan","password":"pw"})")["status"], 200);
  const Json::Value made =
      post("calendars/create", R"({"user":"dan","name":"work","display_name":"Work: shifts"})");
  ASSERT_EQ(made["status"], 200) << made["body"].asString();
  EXPECT_EQ(made["answer"]["data"]["collections"].size(), 3u);
  EXPECT_NE(
      orva_test::readFile(root_.at(kHomes) + "/dan/work/.Radicale.props").find("Work: shifts"),
      std::string::npos);
  EXPECT_EQ(code(post("calendars/create", R"({"user":"dan","name":"work"})")), 113);
  EXPECT_EQ(code(post("calendars/create", R"({"user":"dan","name":".hidden"})")), 112);
  EXPECT_EQ(code(post("calendars/create", R"({"user":"dan","name":"a/b"})")), 112);
  EXPECT_EQ(code(post("calendars/delete", R"({"user":"dan","name":"contacts"})")), 117);
  EXPECT_TRUE(isFolder(root_.at(kHomes) + "/dan/contacts"));
  EXPECT_EQ(post("calendars/delete", R"({"user":"dan","name":"work"})")["status"], 200);
  EXPECT_FALSE(isFolder(root_.at(kHomes) + "/dan/work"));
  EXPECT_EQ(code(post("calendars/delete", R"({"user":"dan","name":"work"})")), 114);
}

TEST_F(UserRoutes, ConnectionAddressesFollowTheSettings) {
  const Json::Value plain = post("connection", R"({"user":"eve","host":"example.lan"})");
  ASSERT_EQ(plain["status"], 200) << plain["body"].asString();
  const Json::Value& data = plain["answer"]["data"];
  EXPECT_EQ(data["carddav"][0], "http://example.lan:8008/eve/contacts/");
  EXPECT_EQ(data["caldav"][0], "http://example.lan:8008/eve/calendar/");
  EXPECT_EQ(data["carddav"].size(), 1u);
  EXPECT_TRUE(data["certificate"].isNull());
  EXPECT_EQ(post("connection", R"({"user":"eve","host":"::1"})")["answer"]["data"]["server"][0],
            "http://[::1]:8008/");
  EXPECT_EQ(code(post("connection", R"({"user":"eve","host":"a/b"})")), 100);
  EXPECT_EQ(code(post("connection", R"({"user":"e:ve"})")), 112);

  const Json::Value qr = post("connection/qr", R"({"text":"https://example.lan:8443/eve/"})");
  const Json::Value& rows = qr["answer"]["data"]["rows"];
  ASSERT_GT(rows.size(), 20u);
  for (const Json::Value& row : rows) EXPECT_EQ(row.asString().size(), rows.size());
  EXPECT_EQ(code(post("connection/qr", R"({"text":""})")), 100);

  auto profile =
      client_->Post("/webapi/connection/profile", {{"Authorization", "Bearer " + token_}},
                    R"({"user":"eve","host":"example.lan"})", "application/json");
  ASSERT_TRUE(profile);
  EXPECT_EQ(profile->get_header_value("Content-Type"), "application/x-apple-aspen-config");
  const std::string file = root_.path() + "/eve.mobileconfig";
  ASSERT_TRUE(orva_test::writeFile(file, profile->body));
  EXPECT_EQ(
      shell("/usr/bin/python3 -c \"import plistlib,sys; p=plistlib.load(open(sys.argv[1],'rb'));"
            " print(' '.join(x['PayloadType'] for x in p['PayloadContent']))\" " +
            file),
      "com.apple.carddav.account com.apple.caldav.account");
}

}  // namespace
