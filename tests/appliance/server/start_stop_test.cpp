// The start/stop script on its own: processes, supervision, status, failures
// that leave the server as it was, concurrent callers, the certificate.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/appliance/server/server_fixture.h"

namespace server_test {
namespace {

class StartStopTest : public ServerTest {
 protected:
  int http = freePort();
  int https = freePort();

  // The property list of a setting, as "set" would leave it.
  void configure(bool ssl, bool redirect, const std::string& realm = "Home") {
    ASSERT_TRUE(orva_test::writeFile(
        root.at("/var/packages/Tessaro/target/etc/calendar_server_json.conf"),
        std::string("{\"general_setting\":{\"EnableSSL\":") + (ssl ? "true" : "false") +
            ",\"RedirectHTTPToHTTPS\":" + (redirect ? "true" : "false") +
            ",\"HTTPPort\":" + std::to_string(http) + ",\"SSLPort\":" + std::to_string(https) +
            ",\"realmName\":\"" + realm + "\"}}"));
    ASSERT_EQ(run("ORVA_ROOT=" + root.path() + " python3 " + root.path() +
                  "/var/packages/Tessaro/target/tools/orva_calendar_conf_dump.py --dump "
                  "/var/packages/Tessaro/target/etc/calendar_server_json.conf " +
                  kPlist)
                  .status,
              0);
  }
};

TEST_F(StartStopTest, StatusTellsTheTruthAndStopLeavesNothingBehind) {
  configure(true, false);
  Result status = script("status");
  EXPECT_EQ(status.status, 3);
  EXPECT_EQ(status.out, "stopped\n");

  ASSERT_EQ(script("start").status, 0);
  status = script("status");
  // supervisord calls its guard "starting" for its first seconds; a loaded
  // machine may still be in them.
  for (int i = 0; i < 120 && status.out.find("guard starting") != std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    status = script("status");
  }
  EXPECT_EQ(status.status, 0);
  const std::string ports = std::to_string(http) + ", " + std::to_string(https);
  EXPECT_EQ(status.out, "started\nHTTP port " + std::to_string(http) + "\nHTTPS port " +
                            std::to_string(https) + "\nRadicale answers (pid " + radicalePid() +
                            ")\nnginx answers on ports " + ports + " (pid " + pidOf("nginx.pid") +
                            ")\nsupervisord runs (pid " + pidOf("supervisord.pid") +
                            "), guard running\nrestarts: 0\n");
  const std::string nginx = pidOf("nginx.pid"), radicale = radicalePid();
  // A second start changes nothing.
  ASSERT_EQ(script("start").status, 0);
  EXPECT_EQ(pidOf("nginx.pid"), nginx);
  EXPECT_FALSE(serverProcesses().empty());

  // What does not answer is reported, not hidden (here with nothing left to
  // start it again: supervisord held still while its guard ends).
  const int supervisor = std::stoi(pidOf("supervisord.pid"));
  ASSERT_EQ(::kill(supervisor, SIGSTOP), 0);
  ASSERT_EQ(::kill(std::stoi(processWith("orva_server_guard.py watch ")), SIGKILL), 0);
  ASSERT_EQ(::kill(supervisor, SIGKILL), 0);
  ASSERT_EQ(::kill(std::stoi(radicale), SIGKILL), 0);
  for (int i = 0; i < 100 && ::kill(std::stoi(radicale), 0) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  status = script("status");
  EXPECT_EQ(status.status, 1);
  EXPECT_EQ(status.out.substr(0, status.out.find('\n')),
            "failed: supervisord does not answer; Radicale does not answer")
      << status.out;

  ASSERT_EQ(script("stop").status, 0);
  EXPECT_TRUE(serverProcesses().empty());
  EXPECT_FALSE(answers(http));
  EXPECT_FALSE(answers(https));
  EXPECT_EQ(script("status").out, "stopped\n");
  EXPECT_EQ(script("stop").status, 0);  // stopping a stopped server is no failure
  const std::vector<std::string> log = orva_test::readLines(root.at("/var/log/server.log"));
  ASSERT_GE(log.size(), 3u);
  EXPECT_NE(log[log.size() - 2].find("stop: stopped"), std::string::npos);
  EXPECT_NE(log.back().find("stop: was not running"), std::string::npos);
}

// Waits up to the given seconds for the condition.
template <typename Condition>
bool within(int seconds, Condition condition) {
  for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
       std::chrono::steady_clock::now() < until;
       std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
    if (condition()) return true;
  }
  return condition();
}

// The pids of the processes in group (from /proc/PID/stat).
std::vector<std::string> groupMembers(const std::string& group) {
  std::vector<std::string> pids;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = orva_test::readFile("/proc/" + pid + "/stat");
    const size_t end = stat.rfind(") ");
    if (end == std::string::npos) continue;
    std::istringstream fields(stat.substr(end + 2));
    std::string state, parent, pgrp;
    fields >> state >> parent >> pgrp;
    if (pgrp == group && state != "Z") pids.push_back(pid);
  }
  return pids;
}

// Each process of the server killed outright or stopped: the server answers
// again and is supervised again (the bounds are generous; the figures are
// printed by scripts/server-recovery.sh).
class RecoveryTest : public StartStopTest {
 protected:
  std::string pidOfProcess(const std::string& process) const {
    const std::string master = pidOf("nginx.pid");
    if (process == "radicale") return radicalePid();
    if (process == "nginx master") return master;
    if (process == "supervisord") return pidOf("supervisord.pid");
    if (process == "guard") return processWith("orva_server_guard.py watch ");
    for (const std::string& member : groupMembers(master)) {
      if (member != master) return member;  // a worker
    }
    return "";
  }

  void recovers(const std::string& process, int signal) {
    const std::string what = process + (signal == SIGKILL ? " -9" : " -STOP");
    std::string pid;
    ASSERT_TRUE(within(45, [&] { return !(pid = pidOfProcess(process)).empty(); })) << what;
    ASSERT_EQ(::kill(std::stoi(pid), signal), 0) << what;
    // What was stopped is ended, and everything answers again.
    EXPECT_TRUE(within(45, [&] {
      return orva_test::readFile("/proc/" + pid + "/stat").find(") T ") == std::string::npos;
    })) << what;
    EXPECT_TRUE(within(45,
                       [&] {
                         return script("status").status == 0 &&
                                report(httpBase(http)).code == 207 &&
                                report(httpsBase(https)).code == 207;
                       }))
        << what << ": " << script("status").out;
  }
};

TEST_F(RecoveryTest, EveryProcessKilledOutrightComesBack) {
  configure(true, false);
  ASSERT_EQ(script("start").status, 0);
  for (const char* process : {"radicale", "nginx master", "nginx worker", "supervisord", "guard"}) {
    recovers(process, SIGKILL);
  }
  EXPECT_NE(
      orva_test::readFile(root.at("/var/log/server.log")).find("guard: supervisord had ended"),
      std::string::npos);
  EXPECT_NE(script("status").out.find("restarts: "), std::string::npos);
}

TEST_F(RecoveryTest, EveryProcessStoppedIsEndedAndComesBack) {
  configure(true, false);
  ASSERT_EQ(script("start").status, 0);
  for (const char* process : {"radicale", "nginx master", "nginx worker", "supervisord"}) {
    recovers(process, SIGSTOP);
  }
  EXPECT_NE(orva_test::readFile(root.at("/var/log/server.log")).find("radicale (pid "),
            std::string::npos);
}

// supervisord's back-off: a Radicale that keeps ending within its first
// seconds is started again after 1, 2, 3 ... seconds, not at once.
TEST_F(StartStopTest, ARadicaleThatKeepsDyingIsStartedAgainLaterEachTime) {
  configure(false, false);
  ASSERT_EQ(script("start").status, 0);
  std::vector<double> waits;
  std::string pid = radicalePid();
  for (int kill = 0; kill < 4; ++kill) {
    ASSERT_EQ(::kill(std::stoi(pid), SIGKILL), 0);
    const auto killed = std::chrono::steady_clock::now();
    std::string next;
    for (int i = 0; i < 3000 && (next.empty() || next == pid); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      next = radicalePid();
    }
    ASSERT_FALSE(next.empty() || next == pid) << "not started again after kill " << kill + 1;
    waits.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count());
    pid = next;
  }
  // At once after the first (it had run a while), then 1, 2 and 3 s later.
  EXPECT_GE(waits[2], 1.5) << waits[0] << " " << waits[1] << " " << waits[2] << " " << waits[3];
  EXPECT_GE(waits[3], 2.5) << waits[3];
  EXPECT_GT(waits[3], waits[1]);
  EXPECT_TRUE(within(45, [&] { return report(httpBase(http)).code == 207; }));
}

TEST_F(StartStopTest, StopAndStartEndTheWorkersOfAMasterThatDied) {
  configure(false, false);
  ASSERT_EQ(script("start").status, 0);
  // Nothing left to start it again.
  const auto unsupervise = [&] {
    const int supervisor = std::stoi(pidOf("supervisord.pid"));
    ASSERT_EQ(::kill(supervisor, SIGSTOP), 0);
    ASSERT_EQ(::kill(std::stoi(processWith("orva_server_guard.py watch ")), SIGKILL), 0);
    ASSERT_EQ(::kill(supervisor, SIGKILL), 0);
  };
  unsupervise();
  std::string master = pidOf("nginx.pid");
  ASSERT_EQ(::kill(std::stoi(master), SIGKILL), 0);
  ASSERT_TRUE(answers(http));  // the orphaned worker
  // start: the orphan goes, the server comes back on its port.
  ASSERT_EQ(script("start").status, 0) << orva_test::readFile(root.at("/var/log/server.log"));
  EXPECT_TRUE(groupMembers(master).empty());
  EXPECT_EQ(report(httpBase(http)).code, 207);

  unsupervise();
  master = pidOf("nginx.pid");
  ASSERT_EQ(::kill(std::stoi(master), SIGKILL), 0);
  // stop: nothing of it is left.
  ASSERT_EQ(script("stop").status, 0);
  EXPECT_TRUE(groupMembers(master).empty());
  EXPECT_FALSE(answers(http));
}

TEST_F(StartStopTest, ARestartThatCannotGoAheadLeavesTheServerAsItWas) {
  configure(true, true);
  ASSERT_EQ(script("start").status, 0);
  const std::string nginx = pidOf("nginx.pid");

  ASSERT_TRUE(orva_test::writeFile(root.at(kPlist), "<plist>cut off"));
  Result restart = script("restart");
  EXPECT_EQ(restart.status, 1);
  EXPECT_NE(restart.err.find("restart failed: cannot read the property list"), std::string::npos)
      << restart.err;
  EXPECT_EQ(pidOf("nginx.pid"), nginx);
  EXPECT_EQ(script("status").status, 0);

  // Both ports the same with SSL on cannot be served.
  const int savedHttps = https;
  https = http;
  configure(true, false);
  restart = script("restart");
  EXPECT_EQ(restart.status, 1);
  EXPECT_NE(restart.err.find("HTTPPort and SSLPort are both"), std::string::npos) << restart.err;
  https = savedHttps;
  EXPECT_EQ(request(httpBase(http)).code, 301);

  // A certificate without its key is refused before anything stops.
  ASSERT_EQ(::unlink(root.at("/var/packages/Tessaro/target/etc/ssl/server.key").c_str()), 0);
  configure(true, false);
  restart = script("restart");
  EXPECT_EQ(restart.status, 1);
  EXPECT_NE(restart.err.find("only one of"), std::string::npos) << restart.err;
  EXPECT_EQ(pidOf("nginx.pid"), nginx);
  EXPECT_EQ(request(httpBase(http)).code, 301);
}

// Checks cannot see everything: here the new HTTP port is free for IPv4
// but taken for IPv6, so nginx itself fails on it.
TEST_F(StartStopTest, WhenTheNewServerDoesNotStartTheOldOneIsPutBack) {
  if (orva_test::readFile("/proc/net/if_inet6").empty()) GTEST_SKIP() << "no IPv6";
  configure(false, false);
  ASSERT_EQ(script("start").status, 0);
  const std::string radicale = radicalePid();
  const int oldHttp = http;

  http = freePort();
  const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
  const int on = 1;
  ASSERT_EQ(::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on), 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(static_cast<uint16_t>(http));
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  configure(false, false, "Another realm");  // Radicale must change too
  const Result restart = script("restart");
  ::close(fd);
  EXPECT_EQ(restart.status, 1);
  EXPECT_NE(restart.err.find("the server runs as before"), std::string::npos) << restart.err;
  EXPECT_EQ(radicalePid(), radicale);
  const Answer old = report(httpBase(oldHttp));
  EXPECT_EQ(old.code, 207);
  EXPECT_EQ(serverProcesses().size(), 4u);  // the new Radicale is gone again
  EXPECT_EQ(script("status").status, 0);
}

// A server whose root was deleted while it ran can be stopped by nobody; the
// next start of any root stops it and may use its ports.
TEST_F(StartStopTest, TheNextStartStopsAServerWhoseRootIsGone) {
  configure(false, false);
  ASSERT_EQ(script("start").status, 0);
  ASSERT_EQ(serverProcesses().size(), 4u);  // with supervisord and its guard
  std::filesystem::remove_all(root.at(kRunDir));

  orva_test::TempRoot other(true);
  const std::string conf = "/var/packages/Tessaro/target/etc/calendar_server_json.conf";
  ASSERT_TRUE(orva_test::writeFile(
      other.at(conf),
      "{\"general_setting\":{\"EnableSSL\":false,\"RedirectHTTPToHTTPS\":false,"
      "\"HTTPPort\":" +
          std::to_string(http) + ",\"SSLPort\":" + std::to_string(https) + "}}"));
  const std::string env = "ORVA_ROOT=" + other.path() + " ";
  ASSERT_EQ(run(env + other.at("/var/packages/Tessaro/target/tools/orva_calendar_conf_dump.py") +
                " --dump " + conf + " " + kPlist)
                .status,
            0);
  const Result started = run(env + other.at(kScript) + " start");
  EXPECT_EQ(started.status, 0) << started.err;
  EXPECT_TRUE(serverProcesses().empty());
  EXPECT_EQ(report(httpBase(http)).code, 401);  // the other root's server knows no users
  EXPECT_EQ(run(env + other.at(kScript) + " stop").status, 0);
}

TEST_F(StartStopTest, ConcurrentCallersEachSucceedAndOneServerRemains) {
  configure(false, false);
  std::vector<std::thread> callers;
  std::vector<int> statuses(4, -1);
  const char* actions[] = {"restart", "start", "restart", "restart"};
  for (size_t i = 0; i < statuses.size(); ++i) {
    callers.emplace_back([&, i] {
      const int status = std::system(("ORVA_ROOT=" + root.path() + " " + root.at(kScript) + " " +
                                      actions[i] + " >/dev/null 2>&1")
                                         .c_str());
      statuses[i] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    });
  }
  for (std::thread& caller : callers) caller.join();
  for (const int status : statuses) EXPECT_EQ(status, 0);
  EXPECT_EQ(script("status").status, 0);
  // One supervisord, nginx master, Radicale and guard (the worker's name
  // shows no path): nothing of the other runs is left.
  EXPECT_EQ(serverProcesses().size(), 4u);
  EXPECT_EQ(report(httpBase(http)).code, 207);
}

TEST_F(StartStopTest, MakesAPrivateKeyOnceAndUsesTheAdministratorsCertificate) {
  configure(true, false);
  ASSERT_EQ(script("start").status, 0);
  const std::string ssl = root.at("/var/packages/Tessaro/target/etc/ssl");
  struct stat st {};
  ASSERT_EQ(::stat((ssl + "/server.key").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string made = orva_test::readFile(ssl + "/server.crt");
  ASSERT_EQ(script("restart").status, 0);
  EXPECT_EQ(orva_test::readFile(ssl + "/server.crt"), made);

  ASSERT_EQ(run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                "-days 2 -subj /CN=admin-made -keyout " +
                ssl + "/server.key -out " + ssl + "/server.crt")
                .status,
            0);
  ASSERT_EQ(script("restart").status, 0);
  const Result shown = run("curl -skv -o /dev/null " + httpsBase(https) + "/");
  EXPECT_NE(shown.err.find("CN=admin-made"), std::string::npos) << shown.err;
}

}  // namespace
}  // namespace server_test
