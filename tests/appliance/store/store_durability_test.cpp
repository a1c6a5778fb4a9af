// The store's durability promises, each proven by the fault it guards
// against: the order of writes, fsyncs and renames (seen through interposed
// fsync and rename), a write that fails half way, a half-written user map,
// and links planted where the store keeps files.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/value.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/contact_store.h"
#include "tests/support/temp_root.h"

namespace {

// What the interposed calls saw, while a test records: "fsync <path>" and
// "rename <from> <to>", paths as the kernel names them.
struct CallLog {
  std::mutex mutex;
  bool recording = false;
  std::vector<std::string> calls;
};

CallLog& callLog() {
  static CallLog log;
  return log;
}

void record(const std::string& call) {
  CallLog& log = callLog();
  std::lock_guard<std::mutex> guard(log.mutex);
  if (log.recording) log.calls.push_back(call);
}

std::string pathOfFd(int fd) {
  char target[4096];
  const ssize_t n =
      ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : "?";
}

}  // namespace

// The store's libraries call these in place of the C library's.
extern "C" int fsync(int fd) {
  using Fn = int (*)(int);
  static const Fn real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "fsync"));
  record("fsync " + pathOfFd(fd));
  return real(fd);
}

extern "C" int rename(const char* from, const char* to) {
  using Fn = int (*)(const char*, const char*);
  static const Fn real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "rename"));
  record(std::string("rename ") + from + " " + to);
  return real(from, to);
}

extern "C" int syncfs(int fd) {
  using Fn = int (*)(int);
  static const Fn real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "syncfs"));
  record("syncfs " + pathOfFd(fd));
  return real(fd);
}

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to,
                         unsigned int flags) {
  using Fn = int (*)(int, const char*, int, const char*, unsigned int);
  static const Fn real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "renameat2"));
  record(std::string("rename ") + from + " " + to);
  return real(fromDir, from, toDir, to, flags);
}

namespace {

namespace fs = std::filesystem;
using std::string;

string card(const string& uid, const string& note = "") {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:Person " + uid + "\r\n" + note +
         "END:VCARD\r\n";
}

class StoreDurabilityTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root_;
  string guid_;

  void SetUp() override {
    DBHandler store;
    store.SetupUserBasicInfo("alice");
    guid_ = store.GetGUID("alice");
    ASSERT_FALSE(guid_.empty());
  }
  string base() const { return fs::canonical(root_.at("/var/packages/Tessaro/var")).string(); }
  string book() const { return base() + "/collections/collection-root/alice/contacts"; }

  // Runs body with a fresh handle (destroyed inside) and returns the calls.
  template <typename Body>
  std::vector<string> calls(Body body) {
    CallLog& log = callLog();
    {
      std::lock_guard<std::mutex> guard(log.mutex);
      log.calls.clear();
      log.recording = true;
    }
    {
      DBHandler store;
      body(store);
    }
    std::lock_guard<std::mutex> guard(log.mutex);
    log.recording = false;
    return log.calls;
  }
};

// Index of the first call starting with prefix, -1 when none.
int indexOf(const std::vector<string>& calls, const string& prefix) {
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

string joined(const std::vector<string>& calls) {
  string text;
  for (const string& call : calls) text += call + "\n";
  return text;
}

TEST_F(StoreDurabilityTest, ACardIsSyncedThenRenamedThenItsFolderSynced) {
  for (const bool update : {false, true}) {
    SCOPED_TRACE(update ? "UpdateCard" : "AddCard");
    const auto seen = calls([&](DBHandler& store) {
      ASSERT_TRUE(update ? store.UpdateCard(guid_, "c1", card("c1", "NOTE:2\r\n"))
                         : store.AddCard(guid_, "c1", card("c1")));
    });
    const string temp = book() + "/.orva-tmp-";
    const int fileSync = indexOf(seen, "fsync " + temp);
    const int renamed = indexOf(seen, "rename " + temp);
    ASSERT_GE(fileSync, 0) << joined(seen);
    ASSERT_GE(renamed, 0) << joined(seen);
    EXPECT_LT(fileSync, renamed) << joined(seen);
    EXPECT_NE(seen[static_cast<size_t>(renamed)].find(" " + book() + "/c1"), string::npos);
    // The folder's own fsync (not the temporary's) comes after the rename.
    int folder = -1;
    for (size_t i = 0; i < seen.size(); ++i) {
      if (seen[i] == "fsync " + book()) folder = static_cast<int>(i);
    }
    EXPECT_GT(folder, renamed) << joined(seen);
  }
}

// An import's batch: every card written, then one sync of the file system
// for all of them, then each named, then the folder synced, all before the
// call returns; no sync per card.
TEST_F(StoreDurabilityTest, ABatchIsSyncedOnceThenNamedThenItsFolderSyncedBeforeItReturns) {
  std::vector<std::pair<string, string>> cards;
  for (int i = 0; i < 50; ++i)
    cards.emplace_back("b" + std::to_string(i), card("b" + std::to_string(i)));
  cards.emplace(cards.begin() + 10, "refused", "not a card");
  std::vector<DBHandler::CardFault> faults;
  const std::vector<string> seen = calls([&](DBHandler& store) {
    store.AddCards(guid_, cards, faults);
    record("returned");
  });
  ASSERT_EQ(faults.size(), 51u);
  for (size_t i = 0; i < faults.size(); ++i) {
    EXPECT_EQ(faults[i], i == 10 ? DBHandler::CardFault::kTextRefused : DBHandler::CardFault::kNone)
        << i;
  }
  const int synced = indexOf(seen, "syncfs " + book());
  const int returned = indexOf(seen, "returned");
  int renames = 0, lastRename = -1, folder = -1;
  for (size_t i = 0; i < seen.size(); ++i) {
    if (seen[i].rfind("rename " + book() + "/.orva-tmp-", 0) == 0) {
      ++renames;
      lastRename = static_cast<int>(i);
      EXPECT_GT(static_cast<int>(i), synced) << "named before its data was synced\n"
                                             << joined(seen);
    }
    if (seen[i] == "fsync " + book() && folder < 0 && lastRename >= 0) folder = static_cast<int>(i);
    EXPECT_EQ(seen[i].rfind("fsync " + book() + "/.orva-tmp-", 0), string::npos)
        << "a sync per card\n"
        << joined(seen);
  }
  EXPECT_EQ(renames, 50) << joined(seen);
  ASSERT_GE(synced, 0) << joined(seen);
  EXPECT_GT(folder, lastRename) << joined(seen);
  EXPECT_LT(folder, returned) << joined(seen);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(orva_test::readFile(book() + "/b" + std::to_string(i)),
              card("b" + std::to_string(i)));
  }
  EXPECT_FALSE(fs::exists(book() + "/refused"));
}

// A name already taken stops the batch there: the cards before it are
// stored, it and every later one are not, and no temporary is left.
TEST_F(StoreDurabilityTest, ATakenNameStopsTheBatchAfterWhatCameBefore) {
  ASSERT_TRUE(orva_test::writeFile(book() + "/taken", card("taken")));
  std::vector<std::pair<string, string>> cards = {
      {"a1", card("a1")}, {"taken", card("x")}, {"a2", card("a2")}};
  std::vector<DBHandler::CardFault> faults;
  DBHandler store;
  store.AddCards(guid_, cards, faults);
  EXPECT_EQ(faults, (std::vector<DBHandler::CardFault>{DBHandler::CardFault::kNone,
                                                       DBHandler::CardFault::kNameRefused,
                                                       DBHandler::CardFault::kNotWritten}));
  EXPECT_EQ(orva_test::readFile(book() + "/taken"), card("taken"));
  EXPECT_TRUE(fs::exists(book() + "/a1"));
  EXPECT_FALSE(fs::exists(book() + "/a2"));
  for (const auto& entry : fs::directory_iterator(book())) {
    EXPECT_NE(entry.path().filename().string().rfind(".orva-tmp-", 0), 0u) << entry.path();
  }
  // An unknown user's batch writes nothing.
  store.AddCards("no-such-guid", cards, faults);
  EXPECT_EQ(faults.front(), DBHandler::CardFault::kNameRefused);
}

// An export copy is read once and thrown away: it is put in place whole (a
// reader never sees half a card) but never synced. A delete is synced.
TEST_F(StoreDurabilityTest, AnExportIsWholeWithoutSyncsAndADeleteSyncsItsFolders) {
  {
    DBHandler store;
    ASSERT_TRUE(store.AddCard(guid_, "c1", card("c1")));
  }
  const string exportDir = base() + "/export/alice";
  auto seen = calls([&](DBHandler& store) { ASSERT_TRUE(store.ExportData(guid_, "c1")); });
  EXPECT_GE(indexOf(seen, "rename " + exportDir + "/.orva-tmp-"), 0) << joined(seen);
  EXPECT_EQ(indexOf(seen, "fsync " + exportDir + "/.orva-tmp-"), -1) << joined(seen);

  seen = calls([&](DBHandler& store) { ASSERT_TRUE(store.DelCard(guid_, "c1")); });
  EXPECT_NE(indexOf(seen, "fsync " + book()), -1) << joined(seen);
  EXPECT_NE(indexOf(seen, "fsync " + exportDir), -1) << joined(seen);
}

TEST_F(StoreDurabilityTest, SetUpWritesTheGuidEntryBeforeTheNameEntry) {
  const auto seen = calls([](DBHandler& store) { store.SetupUserBasicInfo("bob"); });
  const int byGuid = indexOf(seen, "rename " + base() + "/users/by-guid/.orva-tmp-");
  const int byName = indexOf(seen, "rename " + base() + "/users/by-name/.orva-tmp-");
  ASSERT_GE(byGuid, 0) << joined(seen);
  ASSERT_GE(byName, 0) << joined(seen);
  EXPECT_LT(byGuid, byName) << joined(seen);
  EXPECT_NE(indexOf(seen, "fsync " + base() + "/users/by-name"), -1) << joined(seen);
  // The new folders of the book reach the disk through their parents.
  EXPECT_NE(indexOf(seen, "fsync " + base() + "/collections/collection-root"), -1) << joined(seen);
}

TEST_F(StoreDurabilityTest, AnUpdateThatFailsMidWriteKeepsTheOldText) {
  {
    DBHandler store;
    ASSERT_TRUE(store.AddCard(guid_, "c1", card("c1", "NOTE:old\r\n")));
  }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Files may grow to 1 KiB only: the new text cannot be written whole.
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1024, 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    DBHandler store;
    const bool stored =
        store.UpdateCard(guid_, "c1", card("c1", "NOTE:" + string(4000, 'n') + "\r\n"));
    ::_exit(stored ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the update claimed success";
  EXPECT_EQ(orva_test::readFile(book() + "/c1"), card("c1", "NOTE:old\r\n"));
  for (const auto& entry : fs::directory_iterator(book())) {
    EXPECT_EQ(entry.path().filename().string().rfind(".orva-tmp-", 0), string::npos)
        << "a temporary file stayed behind";
  }
}

TEST_F(StoreDurabilityTest, AHalfWrittenUserMapIsAnUnknownUserUntilTheNextSetUp) {
  {
    DBHandler store;
    ASSERT_TRUE(store.AddCard(guid_, "c1", card("c1")));
  }
  // A set-up killed between its two writes: the GUID entry without the name entry.
  ASSERT_EQ(::unlink((base() + "/users/by-name/alice").c_str()), 0);
  DBHandler store;
  EXPECT_EQ(store.GetGUID("alice"), "");
  Json::Value ids, texts;
  EXPECT_EQ(store.GetCards(ids, texts, guid_), 0) << "the orphaned GUID still reaches the book";
  store.SetupUserBasicInfo("alice");
  const string guid = store.GetGUID("alice");
  ASSERT_FALSE(guid.empty());
  EXPECT_EQ(store.GetCards(ids, texts, guid), 1) << "the book was lost in the repair";

  // The name entry without the GUID entry is no user either.
  ASSERT_EQ(::unlink((base() + "/users/by-guid/" + guid).c_str()), 0);
  EXPECT_EQ(store.GetGUID("alice"), "");
  store.SetupUserBasicInfo("alice");
  EXPECT_FALSE(store.GetGUID("alice").empty());
}

TEST_F(StoreDurabilityTest, PlantedLinksAreNeverFollowed) {
  const string outside = root_.path() + "/outside";
  ASSERT_TRUE(fs::create_directories(outside));
  ASSERT_TRUE(orva_test::writeFile(outside + "/secret", card("secret")));
  DBHandler store;
  ASSERT_TRUE(store.AddCard(guid_, "c1", card("c1")));

  // A card that is a link: not listed, not read, not replaced through.
  fs::create_symlink(outside + "/secret", book() + "/planted");
  Json::Value ids, texts;
  EXPECT_EQ(store.GetCards(ids, texts, guid_), 1);
  EXPECT_FALSE(store.ExportData(guid_, "planted"));
  EXPECT_FALSE(store.UpdateCard(guid_, "planted", card("planted")));
  EXPECT_EQ(orva_test::readFile(outside + "/secret"), card("secret"));

  // An exported copy that is a link is refused, never written through.
  const string exportDir = base() + "/export/alice";
  ASSERT_TRUE(store.ExportData(guid_, "c1"));
  ASSERT_EQ(::unlink((exportDir + "/c1.vcf").c_str()), 0);
  fs::create_symlink(outside + "/secret", exportDir + "/c1.vcf");
  EXPECT_FALSE(store.ExportData(guid_, "c1"));
  EXPECT_EQ(orva_test::readFile(outside + "/secret"), card("secret"));

  // The export folder or the book replaced by a link to elsewhere.
  fs::remove_all(exportDir);
  fs::create_directory_symlink(outside, exportDir);
  EXPECT_FALSE(store.ExportData(guid_, "c1"));
  EXPECT_FALSE(fs::exists(outside + "/c1.vcf"));
  const string user = base() + "/collections/collection-root/alice";
  fs::rename(user, root_.path() + "/moved");
  fs::create_directory_symlink(root_.path() + "/moved", user);
  EXPECT_FALSE(store.AddCard(guid_, "c2", card("c2")));
  EXPECT_EQ(store.GetCards(ids, texts, guid_), 0);
  EXPECT_FALSE(fs::exists(root_.path() + "/moved/contacts/c2"));
  fs::remove(user);
  fs::rename(root_.path() + "/moved", user);

  // A name entry of the user map that is a link.
  const string byName = base() + "/users/by-name/alice";
  ASSERT_TRUE(orva_test::writeFile(outside + "/guid", guid_));
  ASSERT_EQ(::unlink(byName.c_str()), 0);
  fs::create_symlink(outside + "/guid", byName);
  EXPECT_EQ(store.GetGUID("alice"), "");
}

}  // namespace
