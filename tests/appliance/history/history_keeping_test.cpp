// The books' histories through the store as the module uses it, and through
// the folder comparison the server's hook runs: every change kept with its
// maker, the trash, versions, undo to a time, pruning and bad input.
#include <gtest/gtest.h>
#include <json/value.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "appliance/history/folder_changes.h"
#include "appliance/history/history_files.h"
#include "appliance/history/history_prune.h"
#include "appliance/history/history_record.h"
#include "appliance/history/history_restore.h"
#include "appliance/store/store_lock.h"
#include "platform/contact_store.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;
using orva_history::Outcome;
using std::string;

string card(const string& uid, const string& note) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:Person " + uid + "\r\nNOTE:" + note +
         "\r\nEND:VCARD\r\n";
}

// Distinct times for changes made one after another.
void tick() { std::this_thread::sleep_for(std::chrono::milliseconds(3)); }

class HistoryTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root_;
  string guid_;

  void SetUp() override {
    DBHandler store;
    store.SetupUserBasicInfo("alice");
    guid_ = store.GetGUID("alice");
    ASSERT_FALSE(guid_.empty());
  }
  string book() const {
    return root_.at("/var/packages/Tessaro/var/collections/collection-root/alice/contacts");
  }
  // The book's cards on disk, by name.
  std::map<string, string> onDisk() const {
    std::map<string, string> cards;
    for (const auto& entry : fs::directory_iterator(book())) {
      const string name = entry.path().filename().string();
      if (name[0] != '.') cards[name] = orva_test::readFile(entry.path().string());
    }
    return cards;
  }
  // A client's change, as the server makes it, then the hook's run.
  void clientWrites(const string& name, const string* text) {
    if (text == nullptr) {
      fs::remove(book() + "/" + name);
    } else {
      ASSERT_TRUE(orva_test::writeFile(book() + "/" + name, *text));
    }
    ASSERT_TRUE(orva_history::keepFolderChanges("alice", "alice"));
  }
  Json::Value trash() {
    const orva_history::Result result = orva_history::trashOf("alice", "contacts");
    EXPECT_EQ(result.outcome, Outcome::kDone) << result.detail;
    return result.data["items"];
  }
};

TEST_F(HistoryTest, VersionsShowEveryMakerAndAStaleRestoreIsRefused) {
  {
    DBHandler page;
    ASSERT_TRUE(page.AddCard(guid_, "c1", card("c1", "one")));
  }
  tick();
  {
    DBHandler page;
    ASSERT_TRUE(page.UpdateCard(guid_, "c1", card("c1", "by the page")));
  }
  tick();
  const string byClient = card("c1", "by a phone");
  clientWrites("c1", &byClient);
  tick();
  clientWrites("c1", nullptr);

  const orva_history::Result versions = orva_history::versionsOf("alice", "contacts", "c1");
  ASSERT_EQ(versions.outcome, Outcome::kDone) << versions.detail;
  const Json::Value& list = versions.data["versions"];
  ASSERT_EQ(list.size(), 4u);
  const char* makers[] = {"administration page", "administration page", "alice", "alice"};
  for (Json::ArrayIndex i = 0; i < 4; ++i) EXPECT_EQ(list[i]["by"].asString(), makers[i]) << i;
  EXPECT_TRUE(list[3]["deleted"].asBool());
  EXPECT_EQ(list[2]["changed"][0].asString(), "NOTE");

  // Restoring the first version while the page believes the card is the
  // client's version: refused, as the card is deleted since.
  const string clientVersion = list[2]["version"].asString();
  EXPECT_EQ(
      orva_history::restoreVersion("alice", "contacts", "c1", 0, clientVersion, "page").outcome,
      Outcome::kChanged);
  EXPECT_EQ(onDisk().count("c1"), 0u);
  // With the version it now has (deleted: ""), it is written as new.
  ASSERT_EQ(orva_history::restoreVersion("alice", "contacts", "c1", 0, "", "page").outcome,
            Outcome::kDone);
  EXPECT_EQ(onDisk()["c1"], card("c1", "one"));
}

TEST_F(HistoryTest, TrashGivesBackEveryDeletedCardByteForByte) {
  std::map<string, string> before;
  {
    DBHandler page;
    for (int i = 0; i < 20; ++i) {
      const string name = "card-" + std::to_string(i);
      // Odd bytes a phone might keep: folded lines, tabs, non-ASCII.
      before[name] = card(name, "x\tü " + std::to_string(i));
      ASSERT_TRUE(page.AddCard(guid_, name, before[name]));
    }
  }
  tick();
  // Half deleted by the page, half by a phone.
  {
    DBHandler page;
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(page.DelCard(guid_, "card-" + std::to_string(i)));
  }
  for (int i = 10; i < 20; ++i) clientWrites("card-" + std::to_string(i), nullptr);
  EXPECT_TRUE(onDisk().empty());
  const Json::Value items = trash();
  ASSERT_EQ(items.size(), 20u);
  // A new card has taken one name meanwhile: that one comes back under another.
  {
    DBHandler page;
    ASSERT_TRUE(page.AddCard(guid_, "card-3", card("card-3", "new")));
  }
  std::vector<string> names;
  for (const Json::Value& item : items) names.push_back(item["name"].asString());
  const orva_history::Result restored =
      orva_history::restoreFromTrash("alice", "contacts", names, "administration page");
  ASSERT_EQ(restored.outcome, Outcome::kDone) << restored.detail;
  const std::map<string, string> after = onDisk();
  EXPECT_EQ(after.size(), 21u);
  for (const Json::Value& item : restored.data) {
    const string name = item["name"].asString(), as = item["restored_as"].asString();
    EXPECT_EQ(as != name, name == "card-3") << name;
    EXPECT_EQ(after.at(as), before[name]) << name;
  }
  EXPECT_TRUE(trash().empty());
}

TEST_F(HistoryTest, UndoToATimeIsOneChangeThatCanBeUndone) {
  // A random walk of page and client changes; the book's state is noted at
  // times between them, and undoing to each time must give that state back.
  std::mt19937 random(12345);
  std::vector<std::pair<std::int64_t, std::map<string, string>>> states;
  for (int step = 0; step < 60; ++step) {
    const string name = "n" + std::to_string(random() % 8);
    const bool exists = onDisk().count(name) > 0;
    const int what = static_cast<int>(random() % 3);
    const string text = card(name, "step " + std::to_string(step));
    if (random() % 2 == 0) {
      DBHandler page;
      const bool done = !exists     ? page.AddCard(guid_, name, text)
                        : what == 0 ? page.DelCard(guid_, name)
                                    : page.UpdateCard(guid_, name, text);
      ASSERT_TRUE(done);
    } else {
      clientWrites(name, exists && what == 0 ? nullptr : &text);
    }
    tick();
    if (step % 10 == 9 && step < 50) {
      states.emplace_back(orva_history::nowMs(), onDisk());
      tick();
    }
  }
  const std::map<string, string> last = onDisk();
  const std::int64_t beforeUndos = orva_history::nowMs();
  tick();
  for (const auto& [time, state] : states) {
    const orva_history::Result preview = orva_history::undoPreview("alice", "contacts", time);
    ASSERT_EQ(preview.outcome, Outcome::kDone) << preview.detail;
    const orva_history::Result undone = orva_history::undoTo(
        "alice", "contacts", time, preview.data["token"].asString(), "administration page");
    ASSERT_EQ(undone.outcome, Outcome::kDone) << undone.detail;
    EXPECT_EQ(onDisk(), state);
    Json::Value counts = preview.data;
    counts.removeMember("token");
    EXPECT_EQ(undone.data, counts);
    tick();
  }
  // The undo itself undone: back to the book as it was before any undo.
  const auto preview = orva_history::undoPreview("alice", "contacts", beforeUndos);
  ASSERT_EQ(orva_history::undoTo("alice", "contacts", beforeUndos, preview.data["token"].asString(),
                                 "page")
                .outcome,
            Outcome::kDone);
  EXPECT_EQ(onDisk(), last);
  // A stale token changes nothing.
  EXPECT_EQ(orva_history::undoTo("alice", "contacts", states[0].first,
                                 preview.data["token"].asString(), "page")
                .outcome,
            Outcome::kChanged);
  EXPECT_EQ(onDisk(), last);
}

TEST_F(HistoryTest, BadInputChangesNothing) {
  {
    DBHandler page;
    ASSERT_TRUE(page.AddCard(guid_, "c1", card("c1", "one")));
  }
  const auto disk = onDisk();
  const struct {
    orva_history::Result result;
    Outcome expected;
  } cases[] = {
      {orva_history::restoreFromTrash("alice", "contacts", {"never"}, "p"), Outcome::kMissing},
      {orva_history::restoreFromTrash("alice", "contacts", {"c1"}, "p"), Outcome::kMissing},
      {orva_history::restoreFromTrash("alice", "other", {"c1"}, "p"), Outcome::kMissing},
      {orva_history::restoreFromTrash("../bob", "contacts", {"c1"}, "p"), Outcome::kMissing},
      {orva_history::restoreVersion("alice", "contacts", "c1", 7, "", "p"), Outcome::kMissing},
      {orva_history::versionsOf("alice", "contacts", "never"), Outcome::kMissing},
      {orva_history::undoPreview("alice", "contacts", 1000), Outcome::kMissing},
      {orva_history::undoPreview("alice", "contacts", orva_history::nowMs() + 86400000),
       Outcome::kMissing},
  };
  for (const auto& c : cases) EXPECT_EQ(c.result.outcome, c.expected) << c.result.detail;
  EXPECT_EQ(onDisk(), disk);
}

TEST_F(HistoryTest, PruningFoldsOldChangesAndKeepsTheBook) {
  for (int i = 0; i < 50; ++i) {
    DBHandler page;
    const string name = "c" + std::to_string(i);
    ASSERT_TRUE(page.AddCard(guid_, name, card(name, string(30000, 'x'))));
  }
  {
    DBHandler page;
    ASSERT_TRUE(page.DelCard(guid_, "c0"));
  }
  const auto disk = onDisk();
  orva_history::Settings settings;
  settings.sizeLimitMb = 1;
  {
    // The size limit drops the oldest changes first, and says so.
    orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
    ASSERT_TRUE(
        orva_history::pruneCollection("alice", "contacts", settings, orva_history::nowMs()));
  }
  const orva_history::Result changes = orva_history::changesOf("alice", "contacts");
  EXPECT_TRUE(changes.data["trimmed"].asBool());
  EXPECT_EQ(trash().size(), 1u);
  settings.sizeLimitMb = 64;
  {
    // Two days later with one day kept: the deleted card leaves the trash.
    settings.keepDays = 1;
    orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
    ASSERT_TRUE(orva_history::pruneCollection("alice", "contacts", settings,
                                              orva_history::nowMs() + 2 * 86400000));
  }
  EXPECT_TRUE(trash().empty());
  EXPECT_EQ(onDisk(), disk);
  const auto versions = orva_history::versionsOf("alice", "contacts", "c1");
  ASSERT_EQ(versions.outcome, Outcome::kDone);
  EXPECT_EQ(versions.data["versions"].size(), 1u);
}

TEST_F(HistoryTest, AHistoryThatCannotBeWrittenRefusesTheChange) {
  {
    DBHandler page;
    ASSERT_TRUE(page.AddCard(guid_, "c1", card("c1", "one")));
  }
  const string journal = root_.at("/var/packages/Tessaro/var/history/alice/contacts/journal");
  const auto disk = onDisk();
  // A full disk, as the file size limit makes it for the journal: the card
  // itself is smaller than the limit, the change's record is not.
  const pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{static_cast<rlim_t>(fs::file_size(journal) + 50),
                       static_cast<rlim_t>(fs::file_size(journal) + 50)};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    DBHandler page;
    const bool updated = page.UpdateCard(guid_, "c1", card("c1", string(200, 'y')));
    const bool added = page.AddCard(guid_, "c2", card("c2", string(200, 'y')));
    const bool deleted = page.DelCard(guid_, "c1");
    ::_exit(updated || added || deleted ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(onDisk(), disk);
  EXPECT_EQ(orva_history::versionsOf("alice", "contacts", "c1").data["versions"].size(), 1u);
}

TEST_F(HistoryTest, KillNineLeavesBookAndHistoryAgreeing) {
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 8; ++round) {
    const pid_t child = ::fork();
    if (child == 0) {
      for (int i = 0;; ++i) {
        DBHandler page;
        const string name = "k" + std::to_string(i % 5);
        if (!page.UpdateCard(guid_, name, card(name, std::to_string(i)))) {
          page.AddCard(guid_, name, card(name, std::to_string(i)));
        }
        if (i % 7 == 0) page.DelCard(guid_, name);
        if (i % 11 == 0) {
          std::vector<std::pair<string, string>> batch;
          for (int j = 0; j < 30; ++j) {
            batch.emplace_back("b" + std::to_string(i) + "-" + std::to_string(j),
                               card("b" + std::to_string(j), "batch"));
          }
          std::vector<DBHandler::CardFault> faults;
          page.AddCards(guid_, batch, faults);
        }
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 200));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    // The next open settles what the killed writer left: every card in the
    // book is the history's latest version of it, and nothing else is.
    const orva_history::Result changes = orva_history::changesOf("alice", "contacts");
    ASSERT_EQ(changes.outcome, Outcome::kDone);
    orva_history::History history;
    ASSERT_TRUE(orva_history::readHistory("alice", "contacts", history));
    std::map<string, string> kept;
    for (const auto& [name, record] : orva_history::latestRecords(history)) {
      if (record->kind == 'P' && name[0] != '.') kept[name] = string(record->body);
    }
    EXPECT_EQ(kept, onDisk()) << "round " << round;
    // And no change was put down to the client: the store kept them all.
    for (const auto& change : changes.data["changes"]) {
      EXPECT_NE(change["by"].asString(), "alice") << "round " << round;
    }
  }
}

}  // namespace
