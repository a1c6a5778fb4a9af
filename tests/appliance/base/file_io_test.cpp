// The base library's file helpers: the one atomic writer's order of fsyncs
// and rename (seen through interposed calls), make-once files, a batch's
// names, stale temporaries, folders below a guarded base, and bounded reads.
#include "appliance/base/file_io.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "appliance/base/atomic_batch.h"
#include "tests/support/temp_root.h"

namespace {

bool gRecording = false;
std::vector<std::string> gCalls;

std::string pathOfFd(int fd) {
  char target[4096];
  const ssize_t n =
      ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : "?";
}

}  // namespace

extern "C" int fsync(int fd) {
  using Fn = int (*)(int);
  static const Fn real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "fsync"));
  if (gRecording) gCalls.push_back("fsync " + pathOfFd(fd));
  return real(fd);
}

extern "C" int rename(const char* from, const char* to) {
  using Fn = int (*)(const char*, const char*);
  static const Fn real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "rename"));
  if (gRecording) gCalls.push_back(std::string("rename ") + from + " " + to);
  return real(from, to);
}

namespace {

namespace fs = std::filesystem;
using orva_file::WriteOptions;

class FileIoTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root_;
  std::string dir() const { return fs::canonical(root_.path()).string(); }
};

TEST_F(FileIoTest, AReplacementIsSyncedRenamedAndItsFolderSynced) {
  const std::string path = dir() + "/conf";
  ASSERT_TRUE(orva_test::writeFile(path, "old"));
  gCalls.clear();
  gRecording = true;
  const bool written = orva_file::writeAtomic(path, "new");
  gRecording = false;
  ASSERT_TRUE(written);
  EXPECT_EQ(orva_test::readFile(path), "new");
  ASSERT_EQ(gCalls.size(), 3u);
  EXPECT_EQ(gCalls[0].rfind("fsync " + dir() + "/.orva-tmp-", 0), 0u) << gCalls[0];
  EXPECT_EQ(gCalls[1].rfind("rename " + dir() + "/.orva-tmp-", 0), 0u) << gCalls[1];
  EXPECT_EQ(gCalls[2], "fsync " + dir());
}

TEST_F(FileIoTest, AMakeOnceFileKeepsWhatIsThere) {
  const std::string path = dir() + "/token";
  WriteOptions once;
  once.mode = 0600;
  once.replace = false;
  ASSERT_TRUE(orva_file::writeAtomic(path, "first", once));
  ASSERT_TRUE(orva_file::writeAtomic(path, "second", once));
  EXPECT_EQ(orva_test::readFile(path), "first");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir()), fs::directory_iterator()), 1);
}

TEST_F(FileIoTest, ABatchNeverReplacesANameTakenBeforeItsCommit) {
  ASSERT_TRUE(orva_test::writeFile(dir() + "/b", "before"));
  {
    orva_file::AtomicBatch batch(dir(), 0600);
    for (const char* name : {"a", "b", "c"})
      ASSERT_TRUE(batch.add(name, std::string("new ") + name));
    // Taken after the adds, before the commit: its bytes stay.
    ASSERT_TRUE(orva_test::writeFile(dir() + "/c", "meanwhile"));
    EXPECT_EQ(batch.commit(), 1u);
    orva_file::AtomicBatch dropped(dir(), 0600);
    ASSERT_TRUE(dropped.add("d", "never committed"));
  }
  EXPECT_EQ(orva_test::readFile(dir() + "/a"), "new a");
  EXPECT_EQ(orva_test::readFile(dir() + "/b"), "before");
  EXPECT_EQ(orva_test::readFile(dir() + "/c"), "meanwhile");
  // No temporary stays behind, committed or not.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir()), fs::directory_iterator()), 3);
}

TEST_F(FileIoTest, StaleTemporariesAreRemovedAndNothingElse) {
  for (const char* name : {".orva-tmp-a1b2c3", ".orva-tmp-zzzzzz", ".other", "card"}) {
    ASSERT_TRUE(orva_test::writeFile(dir() + "/" + name, "x"));
  }
  EXPECT_EQ(orva_file::removeStaleTemps(dir()), 2);
  EXPECT_TRUE(fs::exists(dir() + "/.other"));
  EXPECT_TRUE(fs::exists(dir() + "/card"));
  EXPECT_FALSE(fs::exists(dir() + "/.orva-tmp-a1b2c3"));
}

TEST_F(FileIoTest, FoldersBelowAGuardedBaseAreRealAndPrivate) {
  const std::string base = dir() + "/base";
  ASSERT_TRUE(orva_file::makeFolders(base + "/a/b", 0700, nullptr, base));
  struct stat st {};
  ASSERT_EQ(::stat((base + "/a/b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // An existing folder that is too open is narrowed.
  ASSERT_EQ(::chmod((base + "/a/b").c_str(), 0755), 0);
  ASSERT_TRUE(orva_file::makeFolders(base + "/a/b", 0700, nullptr, base));
  ASSERT_EQ(::stat((base + "/a/b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A link below the base is refused, and nothing is made through it.
  fs::create_directory(dir() + "/elsewhere");
  fs::create_directory_symlink(dir() + "/elsewhere", base + "/link");
  EXPECT_FALSE(orva_file::makeFolders(base + "/link/c", 0700, nullptr, base));
  EXPECT_FALSE(fs::exists(dir() + "/elsewhere/c"));
  // The base itself may be a link.
  fs::create_directory_symlink(dir() + "/elsewhere", dir() + "/volume");
  EXPECT_TRUE(orva_file::makeFolders(dir() + "/volume/d", 0700, nullptr, dir() + "/volume"));
}

TEST_F(FileIoTest, ReadsAreBoundedAndRefuseLinksWhenAsked) {
  const std::string path = dir() + "/file";
  ASSERT_TRUE(orva_test::writeFile(path, "0123456789"));
  std::string out;
  EXPECT_TRUE(orva_file::readWhole(path, out, orva_file::Links::kRefuse, 10));
  EXPECT_EQ(out, "0123456789");
  EXPECT_FALSE(orva_file::readWhole(path, out, orva_file::Links::kRefuse, 9));
  fs::create_symlink(path, dir() + "/link");
  EXPECT_TRUE(orva_file::readWhole(dir() + "/link", out));
  EXPECT_FALSE(orva_file::readWhole(dir() + "/link", out, orva_file::Links::kRefuse));
  EXPECT_FALSE(orva_file::readWhole(dir(), out));
}

}  // namespace
