// Anonymous clients looping wrong names and wrong passwords do not stop a
// signed-in user: with 200 users of bcrypt cost 10, every one of alice's
// requests during the flood is answered, and in time. The long figures are
// scripts/signin-flood.py's.
#include <chrono>

#include "tests/appliance/server/server_fixture.h"

namespace server_test {
namespace {

constexpr int kUsers = 200;
constexpr int kAttackers = 5;
constexpr int kSeconds = 15;

class SigninFloodTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    // One hash of the page's cost for every user: made once, not 200 times.
    const Result made = run("htpasswd -nbBC 10 x user-pw");
    ASSERT_EQ(made.status, 0);
    const std::string hash = made.out.substr(2, made.out.find('\n') - 2);
    // alice and bob last: a sign-in that scans the file pays for every user.
    std::string users;
    for (int i = 0; i < kUsers; ++i) users += "user" + std::to_string(i) + ":" + hash + "\n";
    users += orva_test::readFile(root.at(htpasswdPath()));
    ASSERT_TRUE(orva_test::writeFile(root.at(htpasswdPath()), users));
    http_ = freePort();
    ASSERT_EQ(set(false, false, http_, freePort())["success"], true);
  }

  // Background loops, each from its own loopback address, until the time is up.
  void startFlood() {
    std::string loops;
    for (int i = 0; i < kAttackers; ++i) {
      const std::string curl = "curl -s -o /dev/null --max-time 120 --interface 127.0.0." +
                               std::to_string(2 + i) + " -X PROPFIND ";
      loops += "( while [ $SECONDS -lt " + std::to_string(kSeconds) + " ]; do " + curl +
               "-u mallory$RANDOM:guess " + httpBase(http_) + "/; " + curl + "-u user$((RANDOM % " +
               std::to_string(kUsers) + ")):guess " + httpBase(http_) +
               "/; done ) >/dev/null 2>&1 & echo $! >>" + root.at("/.flood") + "; ";
    }
    ASSERT_EQ(run("bash -c " + quote(loops)).status, 0);
  }

  int http_ = 0;
};

TEST_F(SigninFloodTest, SignedInClientIsAnsweredDuringFlood) {
  // Signed in before the flood, as a phone that syncs.
  ASSERT_EQ(
      request(httpBase(http_) + "/alice/", "-u alice:alice-pw -X PROPFIND -H 'Depth: 1'").code,
      207);
  startFlood();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kSeconds);
  int answered = 0;
  while (std::chrono::steady_clock::now() < end) {
    const auto start = std::chrono::steady_clock::now();
    const Answer answer =
        request(httpBase(http_) + "/alice/", "-u alice:alice-pw -X PROPFIND -H 'Depth: 1'");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(answer.code, 207) << answer.body;
    // Generous for a loaded machine: before, a flood kept requests for 60 s.
    EXPECT_LT(seconds, 10.0);
    ++answered;
  }
  EXPECT_GT(answered, 0);
  // The loops end with the time; wait for the last request of each.
  run("for p in $(cat " + root.at("/.flood") +
      "); do while kill -0 $p 2>/dev/null; do sleep 0.5; done; done");
  // The anonymous clients were limited: refused at once, no hash spent.
  const std::string log = orva_test::readFile(root.at("/var/log/radicale.log"));
  EXPECT_NE(log.find("Sign-ins from 127.0.0.2 are refused for a while"), std::string::npos);
  EXPECT_NE(log.find("Access to '/' denied for anonymous user"), std::string::npos);
}

}  // namespace
}  // namespace server_test
