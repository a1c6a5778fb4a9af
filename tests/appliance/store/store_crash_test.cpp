// kill -9 in the middle of writes: the store holds only whole cards, no
// temporary file is listed or breaks a listing, and the next writer clears
// what the killed one left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/value.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "appliance/store/card_check.h"
#include "platform/contact_store.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;
using std::string;

string card(const string& uid, const string& note) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:Person " + uid + "\r\nNOTE:" + note +
         "\r\nEND:VCARD\r\n";
}

void killAfter(pid_t pid, int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
}

class StoreCrashTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root_;
  string guid_;
  std::mt19937 random_{std::random_device{}()};

  void SetUp() override {
    DBHandler store;
    store.SetupUserBasicInfo("alice");
    guid_ = store.GetGUID("alice");
    ASSERT_FALSE(guid_.empty());
  }
  string book() const {
    return root_.at("/var/packages/Tessaro/var/collections/collection-root/alice/contacts");
  }
  int randomMs(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  // Every listed card passes the store's own gate, and the listing holds
  // exactly the book's card files: no temporary among them.
  int expectOnlyWholeCards() {
    DBHandler store;
    Json::Value ids(Json::arrayValue), texts(Json::arrayValue);
    const int count = store.GetCards(ids, texts, guid_);
    for (Json::ArrayIndex i = 0; i < texts.size(); ++i) {
      EXPECT_EQ(orva_store::cardTextRefusal(texts[i].asString()), "") << ids[i].asString();
      EXPECT_NE(texts[i].asString().find(" end\r\n"), string::npos) << ids[i].asString();
    }
    int files = 0;
    for (const auto& entry : fs::directory_iterator(book())) {
      if (entry.path().filename().string()[0] != '.') ++files;
    }
    EXPECT_EQ(count, files);
    return count;
  }
  int temporaries() const {
    int found = 0;
    for (const auto& entry : fs::directory_iterator(book())) {
      if (entry.path().filename().string().rfind(".orva-tmp-", 0) == 0) ++found;
    }
    return found;
  }
};

TEST_F(StoreCrashTest, AKilledEditLeavesTheOldOrTheNewTextWhole) {
  const string small = card("c1", "small end");
  const string large = card("c1", string(200000, 'x') + " end");
  {
    DBHandler store;
    ASSERT_TRUE(store.AddCard(guid_, "c1", small));
  }
  for (int round = 0; round < 12; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      DBHandler store;
      for (int i = 0;; ++i) store.UpdateCard(guid_, "c1", i % 2 == 0 ? large : small);
    }
    killAfter(child, randomMs(5, 60));
    const string text = orva_test::readFile(book() + "/c1");
    EXPECT_TRUE(text == small || text == large) << "round " << round << ": " << text.size();
    EXPECT_EQ(expectOnlyWholeCards(), 1);
  }
}

TEST_F(StoreCrashTest, AKilledImportLeavesOnlyWholeCardsAndTheNextImportWorks) {
  string file;
  for (int i = 0; i < 300; ++i) {
    file += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Person " + std::to_string(i) +
            "\r\nNOTE:" + string(3000, 'n') + " end\r\nEND:VCARD\r\n";
  }
  const string upload = root_.path() + "/upload.vcf";
  ASSERT_TRUE(orva_test::writeFile(upload, file));
  const auto import = [&] {
    const pid_t child = ::fork();
    if (child == 0) {
      const int devNull = ::open("/dev/null", O_WRONLY);
      ::dup2(devNull, STDOUT_FILENO);
      ::execl(ORVA_BIN_DIR "/orva-webapi", "orva-webapi", "--root", root_.path().c_str(), "call",
              "ORVA.ContactAndCalendar.Contacts", "import_cards", "user=alice",
              ("file_tmp=" + upload).c_str(), "file=upload.vcf", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return child;
  };

  for (int round = 0; round < 10; ++round) {
    const pid_t child = import();
    ASSERT_GT(child, 0);
    killAfter(child, randomMs(20, 250));
    SCOPED_TRACE("round " + std::to_string(round));
    expectOnlyWholeCards();
  }

  // The same file again completes the book, with no card twice.
  pid_t child = import();
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(expectOnlyWholeCards(), 300);

  // What a killed writer leaves goes with the next import that writes.
  ASSERT_TRUE(orva_test::writeFile(book() + "/.orva-tmp-killed", "BEGIN:VCARD\r\nFN:half"));
  string others;
  for (int i = 0; i < 300; ++i) {
    others += "BEGIN:VCARD\r\nFN:Other " + std::to_string(i) + "\r\nNOTE:the end\r\nEND:VCARD\r\n";
  }
  ASSERT_TRUE(orva_test::writeFile(upload, others));
  child = import();
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(expectOnlyWholeCards(), 600);
  EXPECT_EQ(temporaries(), 0);
}

}  // namespace
