#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "store/tDirectory.h"
#include "tests/support/Process.h"

namespace {

using qntest::TempDir;

std::string Join(const std::string& a, const char* b) {
  return BuildPath(a.c_str(), b, static_cast<const char*>(nullptr));
}

TEST(StorageDirectory, EnsureCreatesEveryMissingParent) {
  TempDir tmp;
  std::string deep = tmp / "a/b/c";
  EXPECT_EQ(tDirectory_Ensure(deep.c_str(), 0755), tErrNone);
  EXPECT_TRUE(tDirectory_Exists((tmp / "a").c_str()));
  EXPECT_TRUE(tDirectory_Exists((tmp / "a/b").c_str()));
  EXPECT_TRUE(tDirectory_Exists(deep.c_str()));
  struct stat st;
  ASSERT_EQ(stat(deep.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0700, 0700u);
  // Existing: nothing changes.
  EXPECT_EQ(tDirectory_Ensure(deep.c_str(), 0755), tErrNone);
}

TEST(StorageDirectory, EnsureHandlesDoubleSeparatorsAndTrailingSlash) {
  TempDir tmp;
  std::string path = tmp.path() + "//x//y/";
  EXPECT_EQ(tDirectory_Ensure(path.c_str(), 0755), tErrNone);
  EXPECT_TRUE(tDirectory_Exists((tmp / "x/y").c_str()));
}

TEST(StorageDirectory, EnsureRelativePathCreatedWhole) {
  TempDir tmp;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(tmp.path().c_str()), 0);
  tErr result = tDirectory_Ensure("rel/one/two", 0755);
  bool made = tDirectory_Exists("rel/one/two");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(result, tErrNone);
  EXPECT_TRUE(made);
}

TEST(StorageDirectory, EnsureFailsUnderAFile) {
  TempDir tmp;
  qntest::WriteFile(tmp / "file", "x");
  EXPECT_EQ(tDirectory_Ensure((tmp / "file/sub").c_str(), 0755), tErrPermission);
  EXPECT_FALSE(tDirectory_Exists((tmp / "file").c_str()));  // a regular file is no directory
}

TEST(StorageDirectory, EnsureRefusesAFileStandingAtThePath) {
  TempDir tmp;
  qntest::WriteFile(tmp / "updater", "not a directory");
  EXPECT_EQ(tDirectory_Ensure((tmp / "updater").c_str(), 0755), tErrPermission);
  EXPECT_EQ(qntest::ReadFile(tmp / "updater"), "not a directory");
}

TEST(StorageDirectory, BuildPathJoinsWithoutLookingAtSeparators) {
  EXPECT_EQ(Join("/home/u", ".telvicor"), "/home/u/.telvicor");
  EXPECT_EQ(BuildPath("/x", "updater", "40F5849A", static_cast<const char*>(nullptr)),
            "/x/updater/40F5849A");
  EXPECT_EQ(Join("a/", "b"), "a//b");
}

TEST(StorageDirectory, HomeDirectoryIsAlwaysTerminated) {
  char small[8];
  memset(small, 'X', sizeof small);
  EXPECT_EQ(tDirectory_GetHomeDirectory(small, sizeof small), tErrNone);
  EXPECT_LT(strlen(small), sizeof small);
  char full[4096];
  tDirectory_GetHomeDirectory(full, sizeof full);
  EXPECT_EQ(std::string(full).substr(0, strlen(small)), std::string(small));
}

}  // namespace
