// OLIBCFileLock: one holder at a time, between threads of one process as
// between processes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/system_services.h"
#include "tests/support/temp_root.h"

namespace {

using namespace std::chrono_literals;
constexpr const char* kLock = "/var/lock/test.lock";

TEST(FileLock, ASecondThreadWaitsForTheFirst) {
  orva_test::TempRoot root;
  const int first = OLIBCFileLock(kLock);
  ASSERT_GE(first, 0);
  struct stat st {};
  ASSERT_EQ(::stat(root.at(kLock).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  std::atomic<bool> taken{false};
  std::thread second([&taken] {
    const int lock = OLIBCFileLock(kLock);
    taken = lock >= 0;
    OLIBCFileUnlock(lock);
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(taken) << "taken while the first thread held it";
  OLIBCFileUnlock(first);
  second.join();
  EXPECT_TRUE(taken);
}

TEST(FileLock, AnotherProcessWaitsToo) {
  orva_test::TempRoot root;
  const int held = OLIBCFileLock(kLock);
  ASSERT_GE(held, 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The inherited descriptor shares the parent's lock; only a new one waits.
    OLIBCFileUnlock(held);
    const int lock = OLIBCFileLock(kLock);
    ::_exit(lock >= 0 ? 0 : 1);
  }
  std::this_thread::sleep_for(100ms);
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, WNOHANG), 0) << "the child did not wait";
  OLIBCFileUnlock(held);
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(FileLock, RelativeOrMissingNamesAreRefused) {
  orva_test::TempRoot root;
  EXPECT_LT(OLIBCFileLock(nullptr), 0);
  EXPECT_LT(OLIBCFileLock("relative.lock"), 0);
}

}  // namespace
