// Several processes on one store: the flock on <collections>/.Radicale.lock
// serialises writers, and set-up of one user by two processes at once
// yields one GUID.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/value.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include "platform/contact_store.h"
#include "tests/support/temp_root.h"

namespace {

using std::string;

string card(const string& uid) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:Person " + uid + "\r\nEND:VCARD\r\n";
}

// Runs body in a child process; the child's exit status is body's result
// (0 for success). The child writes what it wants the parent to see to out.
// A lock descriptor of the parent is closed in the child: a copy would keep
// holding the parent's lock.
pid_t spawn(int out, int (*body)(int, int), int arg, int parentLock = -1) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (parentLock >= 0) ::close(parentLock);
    ::alarm(60);  // a child that hangs dies instead of hanging the test
    ::_exit(body(out, arg));
  }
  return pid;
}

int exitStatus(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Sets up the shared user, reports its GUID, then adds 500 cards.
int addFiveHundred(int out, int process) {
  DBHandler store;
  store.SetupUserBasicInfo("shared");
  const string guid = store.GetGUID("shared");
  if (::write(out, guid.data(), guid.size()) != static_cast<ssize_t>(guid.size())) return 3;
  if (guid.empty()) return 2;
  for (int i = 0; i < 500; ++i) {
    const string name = "p" + std::to_string(process) + "-" + std::to_string(i);
    if (!store.AddCard(guid, name, card(name))) return 1;
  }
  return 0;
}

TEST(StoreProcessesTest, TwoProcessesAddFiveHundredCardsEach) {
  orva_test::TempRoot root;
  int pipes[2][2];
  ASSERT_EQ(::pipe(pipes[0]), 0);
  ASSERT_EQ(::pipe(pipes[1]), 0);
  const pid_t first = spawn(pipes[0][1], addFiveHundred, 1);
  const pid_t second = spawn(pipes[1][1], addFiveHundred, 2);
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  string guids[2];
  for (int p = 0; p < 2; ++p) {
    ::close(pipes[p][1]);
    char buffer[64];
    for (ssize_t n; (n = ::read(pipes[p][0], buffer, sizeof buffer)) > 0;)
      guids[p].append(buffer, n);
    ::close(pipes[p][0]);
  }
  EXPECT_EQ(exitStatus(first), 0);
  EXPECT_EQ(exitStatus(second), 0);
  // One user set up by both at once has one GUID.
  EXPECT_FALSE(guids[0].empty());
  EXPECT_EQ(guids[0], guids[1]);

  DBHandler store;
  const string guid = store.GetGUID("shared");
  EXPECT_EQ(guid, guids[0]);
  Json::Value ids(Json::arrayValue), texts(Json::arrayValue);
  ASSERT_EQ(store.GetCards(ids, texts, guid), 1000);
  std::set<string> names;
  for (Json::ArrayIndex i = 0; i < ids.size(); ++i) {
    names.insert(ids[i].asString());
    EXPECT_EQ(texts[i].asString(), card(ids[i].asString()));
    if (i > 0) {
      EXPECT_LT(ids[i - 1].asString(), ids[i].asString());
    }
  }
  EXPECT_EQ(names.size(), 1000u);
  EXPECT_EQ(names.count("p1-499") + names.count("p2-0"), 2u);
}

// Holds the store's flock as another process (the CardDAV server) would.
class HeldLock {
 public:
  HeldLock(const string& path, int operation)
      : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    EXPECT_GE(fd_, 0);
    EXPECT_EQ(::flock(fd_, operation), 0);
  }
  ~HeldLock() { ::close(fd_); }
  int fd() const { return fd_; }

 private:
  int fd_;
};

int listCards(int out, int) {
  DBHandler store;
  Json::Value ids, texts;
  const int n = store.GetCards(ids, texts, store.GetGUID("alice"));
  const char mark = 'x';
  return ::write(out, &mark, 1) == 1 && n > 0 ? 0 : 1;
}

int addCard(int out, int) {
  DBHandler store;
  const bool ok = store.AddCard(store.GetGUID("alice"), "c2", card("c2"));
  const char mark = 'x';
  return ::write(out, &mark, 1) == 1 && ok ? 0 : 1;
}

// Each writing call, in a child that reports when the call returned true.
int report(int out, bool ok) {
  const char mark = 'x';
  return ::write(out, &mark, 1) == 1 && ok ? 0 : 1;
}
int updateCard(int out, int) {
  DBHandler store;
  return report(out, store.UpdateCard(store.GetGUID("alice"), "c1", card("c1")));
}
int exportCard(int out, int) {
  DBHandler store;
  return report(out, store.ExportData(store.GetGUID("alice"), "c1"));
}
int deleteCard(int out, int) {
  DBHandler store;
  return report(out, store.DelCard(store.GetGUID("alice"), "c1"));
}
int setUpUser(int out, int) {
  DBHandler store;
  store.SetupUserBasicInfo("bob");
  return report(out, !store.GetGUID("bob").empty());
}

// Whether the child reports within waitMs while the parent holds the lock;
// the lock is released afterwards and the child must then succeed.
bool reportsWhileHeld(const string& lockPath, int operation, int (*body)(int, int), int waitMs) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  pid_t pid;
  bool reported;
  {
    HeldLock held(lockPath, operation);
    pid = spawn(fds[1], body, 0, held.fd());
    ::close(fds[1]);
    pollfd ready{fds[0], POLLIN, 0};
    reported = ::poll(&ready, 1, waitMs) == 1;
  }
  char mark;
  const bool finished = ::read(fds[0], &mark, 1) == 1;
  ::close(fds[0]);
  EXPECT_TRUE(finished);
  EXPECT_EQ(exitStatus(pid), 0);
  return reported;
}

TEST(StoreProcessesTest, ReadsShareTheLockAndWritesWaitForIt) {
  orva_test::TempRoot root;
  {
    DBHandler store;
    store.SetupUserBasicInfo("alice");
    ASSERT_TRUE(store.AddCard(store.GetGUID("alice"), "c1", card("c1")));
  }
  const string lock = root.at("/var/packages/Tessaro/var/collections/.Radicale.lock");
  // A reader waits for a writer, a writer for a reader; readers share.
  EXPECT_FALSE(reportsWhileHeld(lock, LOCK_EX, listCards, 300));
  EXPECT_FALSE(reportsWhileHeld(lock, LOCK_SH, addCard, 300));
  EXPECT_TRUE(reportsWhileHeld(lock, LOCK_SH, listCards, 10000));
}

TEST(StoreProcessesTest, EveryWritingCallWaitsForAReader) {
  orva_test::TempRoot root;
  {
    DBHandler store;
    store.SetupUserBasicInfo("alice");
    ASSERT_TRUE(store.AddCard(store.GetGUID("alice"), "c1", card("c1")));
  }
  const string lock = root.at("/var/packages/Tessaro/var/collections/.Radicale.lock");
  const std::pair<const char*, int (*)(int, int)> writers[] = {
      {"UpdateCard", updateCard},
      {"ExportData", exportCard},
      {"DelCard", deleteCard},
      {"SetupUserBasicInfo", setUpUser},
  };
  for (const auto& writer : writers) {
    EXPECT_FALSE(reportsWhileHeld(lock, LOCK_SH, writer.second, 200)) << writer.first;
  }
}

}  // namespace
