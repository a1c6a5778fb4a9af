// Clients without the token, and bodies that come slowly or in bulk: each is
// settled at its headers or cut off, and never holds others out. Short forms
// of the attacks that scripts/attack-figures.sh runs at full size.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/appliance/host/raw_connection.h"
#include "tests/appliance/host/serve_process.h"
#include "tests/support/temp_root.h"

namespace {

using namespace std::chrono_literals;
using host_test::Clock;
using host_test::kMemoryFiguresMean;
using host_test::memoryKb;
using host_test::RawConnection;
using host_test::ServerProcess;
using host_test::statusOf;

const char kList[] =
    "{\"api\":\"ORVA.ContactAndCalendar.Contacts\",\"method\":\"list_cards\",\"params\":{\"user\":"
    "\"alice\"}}";

class ServeAnonymous : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>(root_.path());
    ASSERT_GT(server_->port(), 0) << server_->banner();
    token_ = host_test::serverToken(root_);
  }

  // A head with the token for a JSON body of length bytes.
  std::string tokenHead(size_t length, const std::string& extra = "") const {
    return "POST /webapi HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + token_ +
           "\r\nContent-Type: application/json\r\n" + extra +
           "Content-Length: " + std::to_string(length) + "\r\n\r\n";
  }

  // The status of a small request with the token on a fresh connection.
  int tokenRequest() const {
    RawConnection connection(server_->port());
    if (!connection.send(tokenHead(sizeof kList - 1) + kList)) return -1;
    return statusOf(connection.read(5s, "}\n"));
  }

  orva_test::TempRoot root_;
  std::unique_ptr<ServerProcess> server_;
  std::string token_;
};

TEST_F(ServeAnonymous, BodiesAreRefusedAtTheirHeadsWhenNoRouteTakesThem) {
  struct Case {
    std::string head;
    int status;
  };
  const std::vector<Case> cases = {
      // No token: 401 before the body, however large it says it is.
      {"POST /webapi HTTP/1.1\r\nHost: t\r\nContent-Length: 4194288\r\n\r\n", 401},
      {"POST /webapi/export HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n", 401},
      // Paths that take no body.
      {"POST / HTTP/1.1\r\nHost: t\r\nContent-Length: 8192\r\n\r\n", 405},
      {"POST /index.html HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n", 405},
      {"GET / HTTP/1.1\r\nHost: t\r\nContent-Length: 10\r\n\r\n", 413},
      {"POST /webapi/other HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + token_ +
           "\r\nContent-Length: 10\r\n\r\n",
       405},
  };
  for (const Case& c : cases) {
    RawConnection connection(server_->port());
    ASSERT_TRUE(connection.send(c.head));
    const std::string answer = connection.read(5s);
    EXPECT_EQ(statusOf(answer), c.status) << c.head << answer;
    EXPECT_TRUE(connection.closedByServer(5s)) << c.head;
    // A client that keeps sending regardless is cut off after some hundred
    // KiB, not after what a client with the token may send.
    EXPECT_LT(connection.sendUntilCut(30s), 1024u * 1024u) << c.head;
  }
}

TEST_F(ServeAnonymous, ManyLargeAnonymousBodiesTakeNoMemory) {
  // 200 clients each announcing all but 16 bytes of 4 MiB and sending a
  // first part: each is answered at its head, and the host stays small.
  std::vector<std::unique_ptr<RawConnection>> clients;
  const std::string part(64 * 1024, 'x');
  for (int i = 0; i < 200; ++i) {
    clients.push_back(std::make_unique<RawConnection>(server_->port()));
    ASSERT_TRUE(clients.back()->connected());
    clients.back()->send("POST / HTTP/1.1\r\nHost: t\r\nContent-Length: 4194288\r\n\r\n" + part);
  }
  for (auto& client : clients) EXPECT_EQ(statusOf(client->read(5s, "}\n")), 405);
  if (kMemoryFiguresMean) {
    EXPECT_LT(memoryKb(server_->pid(), "VmHWM"), 100 * 1024);
  }
  EXPECT_EQ(tokenRequest(), 200);
}

TEST_F(ServeAnonymous, ABodyThatTricklesIsCutOff) {
  // Far below the minimum rate: closed at the end of its first window,
  // long before the 60 s the whole body may take.
  RawConnection slow(server_->port());
  ASSERT_TRUE(slow.send(tokenHead(100000)));
  size_t sent = 0;
  const auto start = Clock::now();
  while (Clock::now() - start < 30s && slow.send(std::string(100, ' ')) &&
         !slow.closedByServer(1s)) {
    sent += 100;
  }
  EXPECT_TRUE(slow.closedByServer(0ms));
  EXPECT_LT(sent, 10u * 1024u);
  EXPECT_EQ(tokenRequest(), 200);
}

TEST_F(ServeAnonymous, BodiesInFlightAreBoundedAndBeyondGet503) {
  // Twenty bodies of 4 MiB, all but their last byte sent: more than the
  // 64 MiB that all bodies may hold together. Those let in hold at least
  // 60 MiB, whichever were turned away.
  std::vector<std::unique_ptr<RawConnection>> holders;
  const std::string body((4u << 20) - 1, ' ');
  for (int i = 0; i < 20; ++i) {
    holders.push_back(std::make_unique<RawConnection>(server_->port()));
    ASSERT_TRUE(holders.back()->send(tokenHead(4u << 20) + body)) << i;
  }
  // Once the server has read them, a 5 MiB upload finds no room.
  const std::string form =
      "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a\"\r\n\r\n" +
      std::string(5u << 20, 'x') + "\r\n--b--\r\n";
  std::string busy;
  for (const auto until = Clock::now() + 10s; Clock::now() < until;) {
    RawConnection beyond(server_->port());
    ASSERT_TRUE(
        beyond.send("POST /webapi HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + token_ +
                    "\r\nContent-Type: multipart/form-data; boundary=b\r\nContent-Length: " +
                    std::to_string(form.size()) + "\r\n\r\n" + form));
    busy = beyond.read(5s, "}\n");
    if (statusOf(busy) == 503) break;
  }
  EXPECT_EQ(statusOf(busy), 503) << busy;
  EXPECT_NE(busy.find("Retry-After: "), std::string::npos) << busy;
  if (kMemoryFiguresMean) {
    EXPECT_LT(memoryKb(server_->pid(), "VmHWM"), 100 * 1024);
  }

  // The holders go: their shares come back.
  holders.clear();
  int status = 0;
  for (const auto until = Clock::now() + 10s; Clock::now() < until;
       std::this_thread::sleep_for(50ms)) {
    if ((status = tokenRequest()) == 200) break;
  }
  EXPECT_EQ(status, 200);
}

TEST_F(ServeAnonymous, ConnectionsReadingABodyMakeRoomForNewClients) {
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_cur < 1200 && limit.rlim_max >= 1200) {
    limit.rlim_cur = 1200;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  }
  if (limit.rlim_cur < 1200) GTEST_SKIP() << "too few descriptors for the test";
  // More connections than the server keeps, each in the middle of a body.
  std::vector<std::unique_ptr<RawConnection>> held;
  for (int i = 0; i < 1050; ++i) {
    held.push_back(std::make_unique<RawConnection>(server_->port()));
    ASSERT_TRUE(held.back()->connected()) << i;
    ASSERT_TRUE(held.back()->send(tokenHead(1000) + "{\"api\":"));
  }
  EXPECT_EQ(tokenRequest(), 200);
  // The oldest went first.
  EXPECT_TRUE(held.front()->closedByServer(5s));
  EXPECT_FALSE(held.back()->closedByServer(10ms));
}

}  // namespace
