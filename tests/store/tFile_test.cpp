#include "store/tFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/store/FileSizeLimit.h"
#include "tests/support/Process.h"

namespace {

using qntest::ReadFile;
using qntest::TempDir;
using qntest::WriteFile;

// Entries of a directory other than "." and "..", sorted.
std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(directory))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct Handle {
  tFileRef h = nullptr;
  Handle(const std::string& path, int mode) : h(tFile_Open(path.c_str(), mode)) {}
  ~Handle() { tFile_Close(&h); }
};

TEST(tFile, ExistsOnlyForFiles) {
  TempDir dir;
  WriteFile(dir / "f", "x");
  std::string longPath(tFILE_MAX_PATH + 1, 'a');
  EXPECT_TRUE(tFile_Exists((dir / "f").c_str()));
  EXPECT_FALSE(tFile_Exists(dir.path().c_str()));
  EXPECT_FALSE(tFile_Exists((dir / "missing").c_str()));
  EXPECT_FALSE(tFile_Exists(nullptr));
  EXPECT_FALSE(tFile_Exists(longPath.c_str()));
}

TEST(tFile, OpenRefusals) {
  TempDir dir;
  WriteFile(dir / "f", "x");
  std::string longPath = dir.path() + "/" + std::string(tFILE_MAX_PATH, 'a');
  std::string f = dir / "f", missing = dir / "missing", noDir = dir / "no/such/dir";
  struct Case {
    const char* path;
    int mode;
  } cases[] = {
      {nullptr, tFileModeRead},
      {"", tFileModeRead},
      {longPath.c_str(), tFileModeWrite},
      {f.c_str(), tFileModeUnknown},
      {f.c_str(), -1},
      {missing.c_str(), tFileModeRead},
      {noDir.c_str(), tFileModeWrite},
  };
  for (const Case& c : cases) {
    tFileRef h = tFile_Open(c.path, c.mode);
    EXPECT_EQ(h, nullptr) << (c.path ? c.path : "(null)") << " mode " << c.mode;
    tFile_Close(&h);
  }
}

TEST(tFile, CloseClearsHandleAndRefusesBadOnes) {
  TempDir dir;
  tFileRef h = tFile_Open((dir / "f").c_str(), tFileModeWrite);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(tFile_Close(&h), tErrNone);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(tFile_Close(&h), tErrParam);
  EXPECT_EQ(tFile_Close(nullptr), tErrParam);
}

TEST(tFile, EveryOperationChecksTheTag) {
  tFileRecord stale = {stdout, tFileModeAppend, 0};
  tFileRef h = &stale;
  char buffer[8];
  uint64_t size = 7;
  size_t count = 9;
  EXPECT_EQ(tFile_Read(h, buffer, sizeof buffer, &count), tErrParam);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(tFile_Write(h, "x", 1, nullptr), tErrParam);
  EXPECT_EQ(tFile_Seek(h, 0, 0), tErrParam);
  EXPECT_EQ(tFile_GetSize(h, &size), tErrParam);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(tFile_ReadLine(h, buffer, sizeof buffer, nullptr), tErrParam);
  EXPECT_EQ(tFile_SetUnbuffered(h), tErrParam);
  EXPECT_EQ(tFile_Printf(h, "x"), tErrParam);
  EXPECT_EQ(tFile_Flush(h), tErrParam);
  EXPECT_EQ(tFile_Close(&h), tErrParam);
  EXPECT_EQ(h, nullptr);
  tFileRef none = nullptr;
  EXPECT_EQ(tFile_Read(none, buffer, 1, nullptr), tErrParam);
  EXPECT_EQ(tFile_Write(none, "x", 1, nullptr), tErrParam);
}

TEST(tFile, ModesAreEnforced) {
  TempDir dir;
  WriteFile(dir / "f", "abc\n");
  Handle reader(dir / "f", tFileModeRead);
  Handle writer(dir / "g", tFileModeWrite);
  ASSERT_TRUE(reader.h && writer.h);
  char buffer[8];
  EXPECT_EQ(tFile_Write(reader.h, "x", 1, nullptr), tErrMode);
  EXPECT_EQ(tFile_Printf(reader.h, "x"), tErrMode);
  EXPECT_EQ(tFile_SetUnbuffered(reader.h), tErrMode);
  EXPECT_EQ(tFile_Flush(reader.h), tErrMode);
  EXPECT_EQ(tFile_Read(writer.h, buffer, 1, nullptr), tErrMode);
  EXPECT_EQ(tFile_ReadLine(writer.h, buffer, sizeof buffer, nullptr), tErrMode);
  EXPECT_EQ(tFile_Read(reader.h, nullptr, 1, nullptr), tErrParam);
  EXPECT_EQ(tFile_Write(writer.h, nullptr, 1, nullptr), tErrParam);
}

TEST(tFile, ReadToEndGivesEOFAndZeroCount) {
  TempDir dir;
  WriteFile(dir / "f", "hello");
  Handle f(dir / "f", tFileModeRead);
  char buffer[16];
  size_t n = 0;
  EXPECT_EQ(tFile_Read(f.h, buffer, sizeof buffer, &n), tErrNone);
  EXPECT_EQ(std::string(buffer, n), "hello");
  EXPECT_EQ(tFile_Read(f.h, buffer, sizeof buffer, &n), tErrEOF);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(tFile_Read(f.h, buffer, 0, &n), tErrNone);
}

TEST(tFile, WriteAppendAndPrintf) {
  TempDir dir;
  {
    Handle w(dir / "f", tFileModeWrite);
    size_t n = 0;
    EXPECT_EQ(tFile_Write(w.h, "ab", 2, &n), tErrNone);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(tFile_Printf(w.h, "%d=%s\n", 7, "x"), tErrNone);
    EXPECT_EQ(tFile_Flush(w.h), tErrNone);
  }
  {
    Handle a(dir / "f", tFileModeAppend);
    ASSERT_NE(a.h, nullptr);
    EXPECT_EQ(tFile_Write(a.h, "cd", 2, nullptr), tErrNone);
    // Append handles read too, from wherever they are placed.
    ASSERT_EQ(tFile_Seek(a.h, 0, 0), tErrNone);
    char buffer[16];
    size_t n = 0;
    EXPECT_EQ(tFile_Read(a.h, buffer, sizeof buffer, &n), tErrNone);
    EXPECT_EQ(std::string(buffer, n), "ab7=x\ncd");
  }
  { Handle truncating(dir / "f", tFileModeWrite); }
  EXPECT_EQ(ReadFile(dir / "f"), "");
}

TEST(tFile, ShortWriteIsAFailure) {
  TempDir dir;
  Handle w(dir / "f", tFileModeWrite);
  ASSERT_EQ(tFile_SetUnbuffered(w.h), tErrNone);
  std::string data(300, 'x');
  size_t n = 0;
  tErr result;
  {
    qntest::FileSizeLimit limit(100);
    result = tFile_Write(w.h, data.data(), data.size(), &n);
  }
  EXPECT_EQ(result, tErrIO);
  EXPECT_EQ(n, 100u);
}

TEST(tFile, SeekTargets) {
  TempDir dir;
  WriteFile(dir / "f", "0123456789");
  Handle f(dir / "f", tFileModeRead);
  struct Case {
    int64_t offset;
    int origin;
    tErr result;
  } cases[] = {
      {0, 0, tErrNone},   {10, 0, tErrNone},   {11, 0, tErrRange}, {-1, 0, tErrRange},
      {0, 2, tErrNone},   {1, 2, tErrRange},   {-10, 2, tErrNone}, {-11, 2, tErrRange},
      {INT64_MAX, 1, tErrRange}, {INT64_MIN, 1, tErrRange}, {0, 3, tErrParam}, {0, -1, tErrParam},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(tFile_Seek(f.h, 4, 0), tErrNone);
    EXPECT_EQ(tFile_Seek(f.h, c.offset, c.origin), c.result) << c.offset << "," << c.origin;
    if (c.result != tErrNone) {
      char ch = 0;
      ASSERT_EQ(tFile_Read(f.h, &ch, 1, nullptr), tErrNone);
      EXPECT_EQ(ch, '4') << "position moved by a refused seek";
    }
  }
  ASSERT_EQ(tFile_Seek(f.h, 3, 0), tErrNone);
  ASSERT_EQ(tFile_Seek(f.h, 2, 1), tErrNone);
  char ch = 0;
  ASSERT_EQ(tFile_Read(f.h, &ch, 1, nullptr), tErrNone);
  EXPECT_EQ(ch, '5');
}

TEST(tFile, GetSizeKeepsPosition) {
  TempDir dir;
  WriteFile(dir / "f", "0123456789");
  Handle f(dir / "f", tFileModeRead);
  ASSERT_EQ(tFile_Seek(f.h, 6, 0), tErrNone);
  uint64_t size = 0;
  EXPECT_EQ(tFile_GetSize(f.h, &size), tErrNone);
  EXPECT_EQ(size, 10u);
  char ch = 0;
  ASSERT_EQ(tFile_Read(f.h, &ch, 1, nullptr), tErrNone);
  EXPECT_EQ(ch, '6');
  EXPECT_EQ(tFile_GetSize(f.h, nullptr), tErrParam);
}

TEST(tFile, ReadLine) {
  TempDir dir;
  WriteFile(dir / "f", "abcdef\nxy\nlast");
  Handle f(dir / "f", tFileModeRead);
  char small[4];
  size_t n = 0;
  EXPECT_EQ(tFile_ReadLine(f.h, small, sizeof small, &n), tErrOverrun);
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(n, 3u);
  char buffer[5];
  EXPECT_EQ(tFile_ReadLine(f.h, buffer, sizeof buffer, &n), tErrNone);
  EXPECT_STREQ(buffer, "def\n");
  EXPECT_EQ(tFile_ReadLine(f.h, buffer, sizeof buffer, &n), tErrNone);
  EXPECT_STREQ(buffer, "xy\n");
  EXPECT_EQ(n, 3u);
  // A last line that exactly fills the buffer is complete, not an overrun.
  EXPECT_EQ(tFile_ReadLine(f.h, buffer, sizeof buffer, &n), tErrNone);
  EXPECT_STREQ(buffer, "last");
  EXPECT_EQ(tFile_ReadLine(f.h, buffer, sizeof buffer, &n), tErrEOF);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(tFile_ReadLine(f.h, buffer, 1, &n), tErrParam);
}

TEST(tFileReplace, WritesAndReplacesWithoutLeftovers) {
  TempDir dir;
  std::string path = dir / "data.bin";
  std::string bytes("a\0b\xff", 4);
  EXPECT_EQ(tFile_Replace(path.c_str(), bytes.data(), bytes.size()), tErrNone);
  EXPECT_EQ(ReadFile(path), bytes);
  chmod(path.c_str(), 0640);
  EXPECT_EQ(tFile_Replace(path.c_str(), "new", 3), tErrNone);
  EXPECT_EQ(ReadFile(path), "new");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(tFile_Replace(path.c_str(), nullptr, 0), tErrNone);
  EXPECT_EQ(ReadFile(path), "");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"data.bin"});
}

TEST(tFileReplace, FailurePartWayKeepsOldFileByteForByte) {
  TempDir dir;
  std::string path = dir / ".settings";
  std::string old = "KEY=old value\n";
  WriteFile(path, old);
  std::string bigger(4096, 'n');
  tErr result;
  {
    qntest::FileSizeLimit limit(1000);
    result = tFile_Replace(path.c_str(), bigger.data(), bigger.size());
  }
  EXPECT_EQ(result, tErrIO);
  EXPECT_EQ(ReadFile(path), old);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{".settings"});
}

TEST(tFileReplace, RefusedRenameKeepsTarget) {
  TempDir dir;
  // A directory in the file's place cannot be renamed over.
  std::filesystem::create_directory(dir / "123.bird");
  WriteFile(dir / "123.bird/inside", "kept");
  EXPECT_EQ(tFile_Replace((dir / "123.bird").c_str(), "x", 1), tErrIO);
  EXPECT_EQ(ReadFile(dir / "123.bird/inside"), "kept");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"123.bird"});
}

TEST(tFileReplace, Refusals) {
  TempDir dir;
  std::string longPath = dir.path() + "/" + std::string(tFILE_MAX_PATH, 'a');
  EXPECT_EQ(tFile_Replace(nullptr, "x", 1), tErrParam);
  EXPECT_EQ(tFile_Replace("", "x", 1), tErrParam);
  EXPECT_EQ(tFile_Replace((dir / "f").c_str(), nullptr, 1), tErrParam);
  EXPECT_EQ(tFile_Replace((dir.path() + "/").c_str(), "x", 1), tErrParam);
  EXPECT_EQ(tFile_Replace(longPath.c_str(), "x", 1), tErrFileNameLength);
  EXPECT_EQ(tFile_Replace((dir / "missing/f").c_str(), "x", 1), tErrPermission);
  EXPECT_TRUE(Names(dir.path()).empty());
}

}  // namespace
