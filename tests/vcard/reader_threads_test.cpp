// Several threads reading at once must get exactly what one thread gets:
// the reader keeps its scanning state in each call (run under the sanitizers).
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/vcard/reader_helpers.h"

namespace {

std::string numberedCard(int i) {
  const std::string n = std::to_string(i);
  return reader_test::card({"BEGIN:VCARD", "VERSION:3.0", ("N:Family" + n + ";Given;;;").c_str(),
                            ("item1.EMAIL;type=INTERNET:user" + n + "@example.com").c_str(),
                            ("item1.X-ABLabel:Label" + n).c_str(),
                            ("TEL;type=CELL:+1 555 " + n).c_str(),
                            ("ADR;type=HOME:;;" + n + " Main St").c_str(), "Apt 1",
                            ("NOTE:note " + n).c_str(), "more", "END:VCARD"});
}

TEST(ReaderThreads, ConcurrentReadersAgreeWithOneReader) {
  std::vector<std::string> cards;
  std::vector<Json::Value> expected;
  for (int i = 0; i < 400; ++i) {
    cards.push_back(numberedCard(i));
    expected.push_back(reader_test::read(cards.back()));
  }
  ASSERT_EQ(expected[7]["mail"][0]["cust_name"], "Label7");

  constexpr int kThreads = 4;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ORVA::APIRequest request;
      ORVA::APIResponse response;
      ContactAndCalendarHandler handler(&request, &response, "test");
      for (int round = 0; round < 5; ++round) {
        for (std::size_t i = 0; i < cards.size(); ++i) {
          if (reader_test::read(handler, cards[i]) != expected[i]) ++mismatches[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
