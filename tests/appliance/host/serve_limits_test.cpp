// The server under load and abuse: slow and idle connections, oversized and
// chunked bodies, conflicting framing, pipelining, odd methods and a huge
// JSON array, each against the real program on a free port.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/appliance/host/raw_connection.h"
#include "tests/appliance/host/serve_process.h"
#include "tests/support/temp_root.h"

namespace {

using namespace std::chrono_literals;
using host_test::clientFor;
using host_test::kMemoryFiguresMean;
using host_test::memoryKb;
using host_test::RawConnection;
using host_test::ServerProcess;
using host_test::statusOf;
using Clock = std::chrono::steady_clock;

class ServeLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>(root_.path());
    ASSERT_GT(server_->port(), 0) << server_->banner();
    token_ = host_test::serverToken(root_);
  }

  std::string request(const std::string& body, const std::string& extraHeaders = "") const {
    return "POST /webapi HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + token_ +
           "\r\nContent-Type: application/json\r\n" + extraHeaders +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }

  std::string listBody(const std::string& user) const {
    return "{\"api\":\"ORVA.ContactAndCalendar.Contacts\",\"method\":\"list_cards\",\"params\":{" +
           (user.empty() ? std::string() : "\"user\":\"" + user + "\"") + "}}";
  }

  // A fresh client's request; fails the test unless it is answered well
  // before the head's deadline (10 s) that a held worker would wait for.
  void expectPromptAnswer(const std::string& when) {
    const auto start = Clock::now();
    auto client = clientFor(server_->port());
    client->set_read_timeout(8, 0);
    auto res = client->Post("/webapi", {{"Authorization", "Bearer " + token_}}, listBody("alice"),
                            "application/json");
    const auto took = Clock::now() - start;
    ASSERT_TRUE(res) << when << ": " << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 200) << when;
    EXPECT_LT(took, 5s) << when;
  }

  orva_test::TempRoot root_;
  std::unique_ptr<ServerProcess> server_;
  std::string token_;
};

TEST_F(ServeLimits, SlowAndIdleConnectionsDoNotDelayOthers) {
  std::vector<std::unique_ptr<RawConnection>> held;
  for (const size_t count : {8u, 100u}) {
    while (held.size() < count) {
      auto connection = std::make_unique<RawConnection>(server_->port());
      ASSERT_TRUE(connection->connected());
      switch (held.size() % 3) {
        case 0:  // connects and sends nothing
          break;
        case 1:  // a head that stops halfway
          ASSERT_TRUE(connection->send("POST /webapi HTTP/1.1\r\nHost: t\r\nX-Slow: 1\r\n"));
          break;
        default:  // one answered request, then idle on keep-alive
          ASSERT_TRUE(connection->send(request(listBody("alice"))));
          ASSERT_EQ(statusOf(connection->read(2s, "}}\n")), 200);
          break;
      }
      held.push_back(std::move(connection));
    }
    expectPromptAnswer(std::to_string(count) + " held connections");
  }
  // The slow ones keep trickling while others are served.
  for (size_t i = 1; i < held.size(); i += 3) ASSERT_TRUE(held[i]->send("X-More: 2\r\n"));
  expectPromptAnswer("trickling connections");
}

TEST_F(ServeLimits, AFullHouseMakesRoomForANewClient) {
  // More held connections than the server keeps (1,000): the ones that
  // waited longest make room, and a new client is still answered.
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_cur < 1200 && limit.rlim_max >= 1200) {
    limit.rlim_cur = 1200;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  }
  if (limit.rlim_cur < 1200) GTEST_SKIP() << "too few descriptors for the test";
  std::vector<std::unique_ptr<RawConnection>> held;
  for (int i = 0; i < 1050; ++i) {
    held.push_back(std::make_unique<RawConnection>(server_->port()));
    ASSERT_TRUE(held.back()->connected()) << i;
  }
  expectPromptAnswer("1,050 held connections");
  // The oldest went first.
  EXPECT_TRUE(held.front()->closedByServer(2s));
  EXPECT_FALSE(held.back()->closedByServer(10ms));
}

TEST_F(ServeLimits, AHeadThatTricklesIsCutOffAtItsDeadline) {
  RawConnection slow(server_->port());
  ASSERT_TRUE(slow.send("POST /webapi HTTP/1.1\r\n"));
  const auto start = Clock::now();
  int lines = 0;
  while (lines < 15 && slow.send("X-Line-" + std::to_string(lines) + ": 1\r\n") &&
         !slow.closedByServer(1s)) {
    ++lines;
  }
  EXPECT_TRUE(slow.closedByServer(0ms));
  // Cut at its 10 s deadline, whatever a loaded machine adds: a deadline
  // per line would let all fifteen through.
  EXPECT_LT(Clock::now() - start, 20s);
  EXPECT_LT(lines, 12);
}

TEST_F(ServeLimits, HeadersAreBoundedInSizeAndCount) {
  RawConnection large(server_->port());
  ASSERT_TRUE(large.send("GET / HTTP/1.1\r\nX-Large: " + std::string(20000, 'a') + "\r\n\r\n"));
  EXPECT_EQ(statusOf(large.read(2s)), 431);
  EXPECT_TRUE(large.closedByServer(3s));

  std::string many = "GET / HTTP/1.1\r\n";
  for (int i = 0; i < 150; ++i) many += "X-" + std::to_string(i) + ": a\r\n";
  RawConnection counted(server_->port());
  ASSERT_TRUE(counted.send(many + "\r\n"));
  EXPECT_EQ(statusOf(counted.read(2s)), 431);

  // Headers without end: refused long before the stream is; the server
  // neither keeps reading nor keeps the bytes.
  RawConnection endless(server_->port());
  ASSERT_TRUE(endless.send("GET / HTTP/1.1\r\n"));
  size_t sent = 0;
  while (sent < (64u << 20) && endless.send("X-Endless: " + std::string(4000, 'e') + "\r\n")) {
    sent += 4013;
  }
  EXPECT_LT(sent, 64u << 20);
  if (kMemoryFiguresMean) {
    EXPECT_LT(memoryKb(server_->pid(), "VmHWM"), 100 * 1024);
  }
  expectPromptAnswer("after the header floods");
}

TEST_F(ServeLimits, BodiesOverTheLimitInEveryFraming) {
  // Declared too large: refused before a byte of the body is sent.
  RawConnection declared(server_->port());
  ASSERT_TRUE(
      declared.send("POST /webapi HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + token_ +
                    "\r\nContent-Type: application/json\r\nContent-Length: 5000000\r\n\r\n"));
  const std::string early = declared.read(2s, "}\n");
  EXPECT_EQ(statusOf(early), 413) << early;
  EXPECT_NE(early.find("\"code\":106"), std::string::npos) << early;

  // Chunked: counted as it comes, refused once past the limit.
  RawConnection chunked(server_->port());
  ASSERT_TRUE(chunked.send("POST /webapi HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + token_ +
                           "\r\nTransfer-Encoding: chunked\r\n\r\n"));
  const std::string chunk = "100000\r\n" + std::string(1u << 20, ' ') + "\r\n";
  size_t chunks = 0;
  while (chunks < 64 && chunked.send(chunk)) ++chunks;
  const std::string late = chunked.read(3s);
  EXPECT_EQ(statusOf(late), 413) << late;
  EXPECT_LT(chunks, 64u);

  // Chunked within the limit is a request like any other.
  const std::string body = listBody("alice");
  RawConnection small(server_->port());
  char size[16];
  std::snprintf(size, sizeof size, "%zx", body.size());
  ASSERT_TRUE(small.send("POST /webapi HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + token_ +
                         "\r\nTransfer-Encoding: chunked\r\n\r\n" + size + "\r\n" + body +
                         "\r\n0\r\n\r\n"));
  const std::string answer = small.read(2s, "}}\n");
  EXPECT_EQ(statusOf(answer), 200) << answer;
  EXPECT_NE(answer.find("{\"success\":true"), std::string::npos) << answer;
}

// Sends a chunked body of exactly size bytes (a JSON request padded with
// blanks, or a multipart form) without its last chunk, so that the server
// has nothing more to read; returns what it answered.
std::string unfinishedChunkedBody(RawConnection& connection, const std::string& head,
                                  const std::string& start, size_t size) {
  std::string body = start;
  body.resize(size, ' ');
  const size_t chunkSize = 1u << 16;
  for (size_t at = 0; at < body.size(); at += chunkSize) {
    const size_t n = std::min(chunkSize, body.size() - at);
    char line[32];
    std::snprintf(line, sizeof line, "%zx\r\n", n);
    if (!connection.send((at == 0 ? head : std::string()) + line + body.substr(at, n) + "\r\n")) {
      break;
    }
  }
  return connection.read(10s, "}\n");
}

TEST_F(ServeLimits, ChunkedBodiesJustOverTheLimitAre413) {
  // One byte over: answered at once, with no byte beyond the limit to read
  // (the last chunk never comes).
  const std::string json = "POST /webapi HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + token_ +
                           "\r\nContent-Type: application/json\r\n"
                           "Transfer-Encoding: chunked\r\n\r\n";
  RawConnection overJson(server_->port());
  const std::string jsonAnswer =
      unfinishedChunkedBody(overJson, json, listBody("alice"), (4u << 20) + 1);
  EXPECT_EQ(statusOf(jsonAnswer), 413) << jsonAnswer.substr(0, 300);
  EXPECT_NE(jsonAnswer.find("\"code\":106"), std::string::npos) << jsonAnswer.substr(0, 300);

  const std::string form = "POST /webapi HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + token_ +
                           "\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
                           "Transfer-Encoding: chunked\r\n\r\n";
  RawConnection overUpload(server_->port());
  const std::string uploadAnswer = unfinishedChunkedBody(
      overUpload, form,
      "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.vcf\"\r\n\r\n",
      (16u << 20) + 1);
  EXPECT_EQ(statusOf(uploadAnswer), 413) << uploadAnswer.substr(0, 300);
  EXPECT_NE(uploadAnswer.find("16 MiB"), std::string::npos) << uploadAnswer.substr(0, 300);

  // Exactly at the limit, with its last chunk: read whole and served.
  RawConnection atLimit(server_->port());
  std::string body = listBody("alice");
  body.resize(4u << 20, ' ');
  ASSERT_TRUE(atLimit.send(json + "400000\r\n" + body + "\r\n0\r\n\r\n"));
  const std::string served = atLimit.read(10s, "}}\n");
  EXPECT_EQ(statusOf(served), 200) << served.substr(0, 300);
  EXPECT_NE(served.find("{\"success\":true"), std::string::npos) << served.substr(0, 300);
}

TEST_F(ServeLimits, ConflictingFramingHeadersGet400) {
  const std::string body = listBody("alice");
  const std::string length = "Content-Length: " + std::to_string(body.size()) + "\r\n";
  const std::vector<std::string> framings = {
      length,                            // twice the same
      "Content-Length: 3\r\n",           // two that differ
      "Transfer-Encoding: chunked\r\n",  // chunked and a length
      "Transfer-Encoding: gzip\r\n",     // a coding nobody can end
  };
  for (const std::string& extra : framings) {
    RawConnection connection(server_->port());
    ASSERT_TRUE(connection.send(request(body, extra)));
    const std::string answer = connection.read(2s);
    EXPECT_EQ(statusOf(answer), 400) << extra << answer;
    EXPECT_TRUE(connection.closedByServer(3s)) << extra;
  }
  // Only "chunked" itself is a coding taken: not a list that ends in it,
  // nor a value folded onto the next line.
  for (const std::string& coding : {std::string(" gzip, chunked"), std::string(" chunked, chunked"),
                                    std::string("\r\n chunked"), std::string(" x\r\n chunked")}) {
    RawConnection connection(server_->port());
    ASSERT_TRUE(connection.send("POST /webapi HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " +
                                token_ + "\r\nTransfer-Encoding:" + coding + "\r\n\r\n0\r\n\r\n"));
    const std::string answer = connection.read(2s);
    EXPECT_EQ(statusOf(answer), 400) << coding << answer;
  }
  RawConnection twoCodings(server_->port());
  ASSERT_TRUE(
      twoCodings.send("POST /webapi HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n"));
  EXPECT_EQ(statusOf(twoCodings.read(2s)), 400);
}

TEST_F(ServeLimits, PipelinedRequestsAreAllAnsweredInOrder) {
  RawConnection connection(server_->port());
  const auto start = Clock::now();
  ASSERT_TRUE(connection.send(request(listBody("alice")) +
                              "GET /nothing-here HTTP/1.1\r\nHost: t\r\n\r\n" +
                              request(listBody(""))));
  const std::string answers = connection.read(8s, "\"code\":900");
  EXPECT_LT(Clock::now() - start, 5s);
  const size_t first = answers.find("{\"success\":true");
  const size_t second = answers.find("HTTP/1.1 404");
  const size_t third = answers.find("\"code\":900");
  ASSERT_NE(first, std::string::npos) << answers;
  ASSERT_NE(second, std::string::npos) << answers;
  ASSERT_NE(third, std::string::npos) << answers;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
}

TEST_F(ServeLimits, OddMethodsAndVersionsAreAnsweredAtOnce) {
  for (const std::string& line :
       {std::string("FOO / HTTP/1.1"), std::string("PUT /webapi HTTP/1.1"),
        std::string("DELETE / HTTP/1.1")}) {
    RawConnection connection(server_->port());
    const auto start = Clock::now();
    ASSERT_TRUE(connection.send(line + "\r\nHost: t\r\n\r\n"));
    const std::string answer = connection.read(8s, "}\n");
    EXPECT_EQ(statusOf(answer), 405) << line << answer;
    EXPECT_LT(Clock::now() - start, 5s) << line;
  }
  RawConnection future(server_->port());
  ASSERT_TRUE(future.send("GET / HTTP/2.0\r\nHost: t\r\n\r\n"));
  EXPECT_EQ(statusOf(future.read(2s, "}\n")), 400);
  RawConnection garbage(server_->port());
  ASSERT_TRUE(garbage.send("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03 not http\r\n\r\n"));
  EXPECT_EQ(statusOf(garbage.read(2s, "}\n")), 400);
}

TEST_F(ServeLimits, AHugeArrayIsRefusedWithoutTakingItsMemory) {
  const long before = memoryKb(server_->pid(), "VmHWM");
  // 1.9 million elements in under 4 MiB: refused before parsing.
  std::string ids;
  ids.reserve(4u << 20);
  for (int i = 0; i < 1900000; ++i) ids += i == 0 ? "1" : ",1";
  const std::string huge =
      "{\"api\":\"ORVA.ContactAndCalendar.Contacts\",\"method\":\"delete_cards\",\"params\":{"
      "\"user\":\"nobody\",\"id\":[" +
      ids + "]}}";
  ASSERT_LT(huge.size(), 4u << 20);
  RawConnection connection(server_->port());
  const auto start = Clock::now();
  ASSERT_TRUE(connection.send(request(huge)));
  const std::string answer = connection.read(10s, "}\n");
  EXPECT_EQ(statusOf(answer), 413) << answer.substr(0, 300);
  EXPECT_NE(answer.find("JSON elements"), std::string::npos) << answer.substr(0, 300);
  EXPECT_LT(Clock::now() - start, 8s);

  // An array within the cap is served, and the memory goes back afterwards.
  std::string many = "\"x\"";
  for (int i = 1; i < 45000; ++i) many += ",\"id-" + std::to_string(i) + "\"";
  const std::string allowed =
      "{\"api\":\"ORVA.ContactAndCalendar.Contacts\",\"method\":\"delete_cards\",\"params\":{"
      "\"user\":\"nobody\",\"id\":[" +
      many + "]}}";
  RawConnection served(server_->port());
  ASSERT_TRUE(served.send(request(allowed)));
  const std::string done = served.read(10s, "}\n");
  EXPECT_EQ(statusOf(done), 200) << done.substr(0, 300);
  const long peak = memoryKb(server_->pid(), "VmHWM");
  // The worker releases the request's tree while the answer is on its way.
  long after = memoryKb(server_->pid(), "VmRSS");
  for (const auto until = Clock::now() + 3s; after >= before + 16 * 1024 && Clock::now() < until;
       after = memoryKb(server_->pid(), "VmRSS")) {
    std::this_thread::sleep_for(20ms);
  }
  if (kMemoryFiguresMean) {
    EXPECT_LT(peak - before, 100 * 1024) << "peak grew by " << (peak - before) << " kB";
    EXPECT_LT(after, before + 16 * 1024) << "kept " << (after - before) << " kB";
  }
}

TEST(ServeListen, WarnsWhenListeningBeyondTheLoopback) {
  orva_test::TempRoot root;
  ServerProcess loopback(root.path());
  ASSERT_GT(loopback.port(), 0);
  EXPECT_EQ(loopback.errorOutput(200ms).find("warning"), std::string::npos);
  ServerProcess wide(root.path(), {"--listen", "0.0.0.0:0"});
  ASSERT_GT(wide.port(), 0) << wide.banner();
  EXPECT_NE(wide.errorOutput().find("warning: listening on 0.0.0.0"), std::string::npos);
  // The sign-in link still names an address a browser can open.
  EXPECT_NE(wide.banner().find("http://127.0.0.1:" + std::to_string(wide.port()) + "/#token="),
            std::string::npos)
      << wide.banner();
}

}  // namespace
