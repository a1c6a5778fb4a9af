// The package's real server (nginx in front of Radicale) on a fresh root and
// free ports, driven through the host's command line and the start/stop
// script, and spoken to with curl as a CardDAV client would.
#pragma once

#include <gtest/gtest.h>
#include <json/value.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "tests/support/temp_root.h"

namespace server_test {

constexpr const char* kPlist = "/var/packages/Tessaro/target/etc/orva_caldavd.plist";
constexpr const char* kScript = "/var/packages/Tessaro/target/tools/calendarserver_start_stop.sh";
constexpr const char* kRunDir = "/var/run/calendarserver";
constexpr const char* kBook =
    "/var/packages/Tessaro/var/collections/collection-root/alice/contacts";

struct Result {
  int status = -1;  // exit status, -1 when it did not exit
  std::string out;
  std::string err;
};

// Shell-quotes one argument.
inline std::string quote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A port that nobody listens on now (bound once, then let go).
inline int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  socklen_t length = sizeof address;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

// Holds a port as another program would: bound and listening on every address.
class PortHolder {
 public:
  explicit PortHolder(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    listening_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 ::listen(fd_, 4) == 0;
  }
  ~PortHolder() { ::close(fd_); }
  PortHolder(const PortHolder&) = delete;
  PortHolder& operator=(const PortHolder&) = delete;
  bool listening() const { return listening_; }

 private:
  int fd_;
  bool listening_ = false;
};

// True when something accepts connections on the local port.
inline bool answers(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// An HTTP answer as curl saw it.
struct Answer {
  int code = 0;
  std::string headers;  // the last response's header block
  std::string body;
  bool has(const std::string& text) const { return body.find(text) != std::string::npos; }
  bool header(const std::string& text) const { return headers.find(text) != std::string::npos; }
};

class ServerTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root{true};

  void SetUp() override {
    // Other test programs run the settings without the server's processes.
    ::setenv("ORVA_SERVER_PROCESSES", "on", 1);
    // Cost 4: the test's sign-ins need no strong hashes.
    ASSERT_EQ(run("{ htpasswd -bBC 4 -c " + quote(root.at(htpasswdPath())) + " alice alice-pw && " +
                  "htpasswd -bBC 4 " + quote(root.at(htpasswdPath())) + " bob bob-pw; }")
                  .status,
              0);
    // Both users and their address books, as the administration page makes them.
    ASSERT_EQ(contacts("list_cards", "user=alice")["success"], true);
    ASSERT_EQ(contacts("list_cards", "user=bob")["success"], true);
  }

  void TearDown() override {
    const Result stopped = script("stop");
    EXPECT_EQ(stopped.status, 0) << stopped.err;
    EXPECT_TRUE(serverProcesses().empty());
  }

  static const char* htpasswdPath() { return "/var/packages/Tessaro/target/etc/users.htpasswd"; }

  Result run(const std::string& command) const {
    const std::string out = root.at("/.out"), err = root.at("/.err");
    const int status = std::system((command + " >" + out + " 2>" + err).c_str());
    Result result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = orva_test::readFile(out);
    result.err = orva_test::readFile(err);
    return result;
  }

  // The host's "call", as a user runs it; the answer's JSON.
  Json::Value call(const std::string& api, const std::string& method,
                   const std::string& params) const {
    const Result result = run(std::string(ORVA_BIN_DIR) + "/orva-webapi --root " + root.path() +
                              " call " + api + " " + method + " " + params);
    return orva_test::parseJson(result.out);
  }

  // The answer of "set"; a failure is shown with the server's log.
  Json::Value set(bool ssl, bool redirect, int http, int https) const {
    const Json::Value answer =
        call("ORVA.ContactAndCalendar.Common", "set",
             std::string("EnableSSL:=") + (ssl ? "true" : "false") +
                 " RedirectHTTPToHTTPS:=" + (redirect ? "true" : "false") +
                 " HTTPPort:=" + std::to_string(http) + " SSLPort:=" + std::to_string(https));
    if (answer["success"] != true) {
      std::cerr << orva_test::toJson(answer) << "\n"
                << orva_test::readFile(root.at("/var/log/server.log"));
    }
    return answer;
  }

  Json::Value contacts(const std::string& method, const std::string& params) const {
    return call("ORVA.ContactAndCalendar.Contacts", method, params);
  }

  Result script(const std::string& action) const {
    return run("ORVA_ROOT=" + root.path() + " " + root.at(kScript) + " " + action);
  }

  // One request with curl; options are curl's own (-u, -X, -H, --data ...).
  Answer request(const std::string& url, const std::string& options = "") const {
    const std::string headers = root.at("/.headers"), body = root.at("/.body");
    const Result result = run("curl -sk --max-time 60 -D " + headers + " -o " + body +
                              " -w '%{http_code}' " + options + " " + quote(url));
    Answer answer;
    answer.code = std::atoi(result.out.c_str());
    answer.headers = orva_test::readFile(headers);
    answer.body = orva_test::readFile(body);
    return answer;
  }

  // A CardDAV REPORT of the whole address book, with address data.
  Answer report(const std::string& base, const std::string& user = "alice",
                const std::string& password = "alice-pw") const {
    return request(base + "/" + user + "/contacts/",
                   "-u " + user + ":" + password +
                       " -X REPORT -H 'Depth: 1' -H 'Content-Type: application/xml' --data " +
                       quote("<?xml version=\"1.0\"?><C:addressbook-query xmlns:D=\"DAV:\" "
                             "xmlns:C=\"urn:ietf:params:xml:ns:carddav\"><D:prop><D:getetag/>"
                             "<C:address-data/></D:prop></C:addressbook-query>"));
  }

  std::string pidOf(const std::string& name) const {
    const std::string text = orva_test::readFile(root.at(std::string(kRunDir) + "/" + name));
    return text.substr(0, text.find('\n'));
  }

  // This root's server process whose command line holds part ("" when none):
  // "radicale --config ", "supervisord -c ", "orva_server_guard.py watch ".
  std::string processWith(const std::string& part) const {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
      std::string line = orva_test::readFile(entry.path().string() + "/cmdline");
      std::replace(line.begin(), line.end(), '\0', ' ');
      if (line.find(part + root.at(kRunDir) + "/") != std::string::npos) {
        return entry.path().filename().string();
      }
    }
    return "";
  }
  std::string radicalePid() const { return processWith("radicale --config "); }

  // The pids of every process that runs with this root's run folder.
  std::vector<std::string> serverProcesses() const {
    const std::string mark = root.at(kRunDir) + "/";
    std::vector<std::string> pids;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
      const std::string pid = entry.path().filename().string();
      if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
      if (orva_test::readFile("/proc/" + pid + "/cmdline").find(mark) != std::string::npos) {
        pids.push_back(pid);
      }
    }
    return pids;
  }
};

inline std::string httpBase(int port) { return "http://127.0.0.1:" + std::to_string(port); }
inline std::string httpsBase(int port) { return "https://127.0.0.1:" + std::to_string(port); }

}  // namespace server_test
