#include "store/tDirectory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "tests/support/Process.h"

namespace {

using qntest::TempDir;
using qntest::WriteFile;

struct Seen {
  uint32_t size;
  int isDirectory;
  std::string path;
};

bool sCollect(const tDirectoryListData* entry, void* user) {
  (*static_cast<std::map<std::string, Seen>*>(user))[entry->name] = {entry->size, entry->isDirectory,
                                                                     entry->path};
  return true;
}

TEST(tDirectoryList, ReportsEveryEntryWithSizeAndKind) {
  TempDir dir;
  WriteFile(dir / "a.bird", "12345");
  WriteFile(dir / ".settings", "K=V\n");
  std::filesystem::create_directory(dir / "sub");
  symlink("nowhere", (dir / "dangling").c_str());  // stat fails: skipped

  std::map<std::string, Seen> seen;
  ASSERT_EQ(tDirectory_List(dir.path().c_str(), sCollect, &seen), tErrNone);
  ASSERT_EQ(seen.size(), 5u) << "., .., a.bird, .settings, sub";
  EXPECT_EQ(seen["a.bird"].size, 5u);
  EXPECT_EQ(seen["a.bird"].isDirectory, 0);
  EXPECT_EQ(seen["a.bird"].path, dir / "a.bird");
  EXPECT_EQ(seen[".settings"].size, 4u);
  EXPECT_EQ(seen["sub"].isDirectory, 1);
  EXPECT_EQ(seen["."].isDirectory, 1);
  EXPECT_EQ(seen[".."].isDirectory, 1);
  EXPECT_EQ(seen.count("dangling"), 0u);
}

TEST(tDirectoryList, CallbackStopsTheListing) {
  TempDir dir;
  for (int i = 0; i < 5; ++i) WriteFile(dir / std::to_string(i), "");
  int calls = 0;
  auto stopAtTwo = [](const tDirectoryListData*, void* user) { return ++*static_cast<int*>(user) < 2; };
  EXPECT_EQ(tDirectory_List(dir.path().c_str(), stopAtTwo, &calls), tErrNone);
  EXPECT_EQ(calls, 2);
}

TEST(tDirectoryList, Refusals) {
  TempDir dir;
  WriteFile(dir / "file", "");
  std::map<std::string, Seen> seen;
  std::string longPath(4097, 'a');
  EXPECT_EQ(tDirectory_List((dir / "missing").c_str(), sCollect, &seen), tErrNotFound);
  EXPECT_EQ(tDirectory_List((dir / "file").c_str(), sCollect, &seen), tErrNotFound);
  EXPECT_EQ(tDirectory_List(longPath.c_str(), sCollect, &seen), tErrFileNameLength);
  EXPECT_EQ(tDirectory_List(nullptr, sCollect, &seen), tErrParam);
  EXPECT_EQ(tDirectory_List(dir.path().c_str(), nullptr, &seen), tErrParam);
  EXPECT_TRUE(seen.empty());
}

const char* const N = nullptr;

TEST(tDirectoryBuildPath, JoinsWithOneSeparator) {
  struct Case {
    const char* a;
    const char* b;
    const char* c;
    const char* expected;
  } cases[] = {
      {"a/", "b", N, "a/b"},     {"a", "/b", N, "a/b"},       {"a", "b", N, "a/b"},
      {"a", N, N, "a"},          {"a", "b", "c.bird", "a/b/c.bird"},
      {"/", "x", N, "/x"},       {"a/", "/b", N, "a//b"},     {"", "b", N, "/b"},
  };
  for (const Case& c : cases) {
    char buffer[64];
    EXPECT_EQ(tDirectory_BuildPath(buffer, sizeof buffer, c.a, c.b, c.c, N), tErrNone) << c.expected;
    EXPECT_STREQ(buffer, c.expected);
  }
  char buffer[64];
  EXPECT_EQ(tDirectory_JoinPath(buffer, sizeof buffer, "/root/40F5849A", ".settings"), tErrNone);
  EXPECT_STREQ(buffer, "/root/40F5849A/.settings");
}

TEST(tDirectoryBuildPath, Limits) {
  char buffer[8];
  // The first component must leave room for more than its NUL.
  EXPECT_EQ(tDirectory_BuildPath(buffer, sizeof buffer, "abcdef", N), tErrNone);
  EXPECT_EQ(tDirectory_BuildPath(buffer, sizeof buffer, "abcdefg", N), tErrOverrun);
  EXPECT_STREQ(buffer, "");
  // "ab" + "/" + "cdef" + NUL is exactly 8.
  EXPECT_EQ(tDirectory_BuildPath(buffer, sizeof buffer, "ab", "cdef", N), tErrNone);
  EXPECT_STREQ(buffer, "ab/cdef");
  EXPECT_EQ(tDirectory_BuildPath(buffer, sizeof buffer, "ab", "cdefg", N), tErrOverrun);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(tDirectory_BuildPath(buffer, 0, "a", N), tErrOverrun);

  char big[256];
  EXPECT_EQ(tDirectory_BuildPath(big, sizeof big, "1", "2", "3", "4", "5", "6", "7", "8", "9",
                                 "10", N),
            tErrNone);
  EXPECT_STREQ(big, "1/2/3/4/5/6/7/8/9/10");
  EXPECT_EQ(tDirectory_BuildPath(big, sizeof big, "1", "2", "3", "4", "5", "6", "7", "8", "9",
                                 "10", "11", N),
            tErrParam);
  EXPECT_STREQ(big, "");
  EXPECT_EQ(tDirectory_BuildPath(nullptr, 8, "a", N), tErrParam);
  EXPECT_EQ(tDirectory_BuildPath(big, sizeof big, N), tErrParam);
  strcpy(big, "x");
  EXPECT_EQ(tDirectory_BuildPath(big, sizeof big, "a", big, N), tErrParam);
}

TEST(tDirectory, BackwardsMemcmpFindsLastOccurrence) {
  const char* text = "ab/cd/ab";
  struct Case {
    const char* pattern;
    const char* expected;  // null: not found
  } cases[] = {
      {"ab", text + 6}, {"/", text + 5}, {"ab/cd/ab", text}, {"", text},
      {"x", nullptr},   {"ab/cd/ab/", nullptr},
  };
  for (const Case& c : cases) EXPECT_EQ(backwards_memcmp(text, c.pattern), c.expected) << c.pattern;
  EXPECT_EQ(backwards_memcmp(nullptr, "a"), nullptr);
  EXPECT_EQ(backwards_memcmp(text, nullptr), nullptr);
}

TEST(tDirectory, EnsureCreatesMissingParents) {
  TempDir dir;
  std::string deep = dir / "a/b/c";
  EXPECT_EQ(tDirectory_Ensure(deep.c_str(), 0755), tErrNone);
  EXPECT_TRUE(tDirectory_Exists(deep.c_str()));
  struct stat st;
  ASSERT_EQ(stat((dir / "a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u & ~[] { mode_t m = umask(0); umask(m); return m; }());
  EXPECT_EQ(tDirectory_Ensure(deep.c_str(), 0755), tErrNone);
  EXPECT_EQ(tDirectory_Ensure((dir / "x//y").c_str(), 0755), tErrNone);
  EXPECT_TRUE(tDirectory_Exists((dir / "x/y").c_str()));

  WriteFile(dir / "file", "");
  EXPECT_FALSE(tDirectory_Exists((dir / "file").c_str()));
  EXPECT_EQ(tDirectory_Ensure((dir / "file/sub").c_str(), 0755), tErrPermission);
}

TEST(tDirectory, EnsureRelativePath) {
  TempDir dir;
  std::string previous = std::filesystem::current_path();
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  tErr result = tDirectory_Ensure("rel/one/two", 0755);
  bool exists = tDirectory_Exists((dir / "rel/one/two").c_str());
  ASSERT_EQ(chdir(previous.c_str()), 0);
  EXPECT_EQ(result, tErrNone);
  EXPECT_TRUE(exists);
}

}  // namespace
