#include "sdk/core/tFileStream.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/Process.h"

namespace {

class FileStream : public ::testing::Test {
 protected:
  std::string Path(const char* name) { return dir / name; }
  qntest::TempDir dir;
};

TEST_F(FileStream, ReadPastTheEndGivesEofWithTheBytesBeforeIt) {
  qntest::WriteFile(Path("three"), "xyz");
  tStream* s = nullptr;
  ASSERT_EQ(tStream_CreateFileInput(Path("three").c_str(), &s), tErrNone);
  uint8_t buffer[4] = {0, 0, 0, 0};
  EXPECT_EQ(tStream_Read(s, buffer, 4), tErrEOF);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "xyz");
  EXPECT_EQ(tStream_Read(s, buffer, 1), tErrEOF);
  EXPECT_EQ(tStream_Wait(s, 1000), tErrNone);  // a file never makes a reader wait
  uint8_t b = 1;
  EXPECT_EQ(tStream_Write(s, &b, 1), tErrMode);  // input only
  EXPECT_EQ(tStream_Destroy(&s), tErrNone);
}

TEST_F(FileStream, FlushCopiesAFileIntoAnother) {
  qntest::WriteFile(Path("in"), "abc");
  tStream* in = nullptr;
  tStream* out = nullptr;
  ASSERT_EQ(tStream_CreateFileInput(Path("in").c_str(), &in), tErrNone);
  ASSERT_EQ(tStream_CreateFileOutput(Path("out").c_str(), &out), tErrNone);
  EXPECT_EQ(tStream_Flush(in, out), tErrNone);
  tStream_Destroy(&in);
  EXPECT_EQ(tStream_Destroy(&out), tErrNone);
  EXPECT_EQ(qntest::ReadFile(Path("out")), "abc");
}

TEST_F(FileStream, OutputTakesBytesBlocksRecordsAndCStrings) {
  tStream* out = nullptr;
  ASSERT_EQ(tStream_CreateFileOutput(Path("out").c_str(), &out), tErrNone);
  const uint8_t one = '1';
  const uint8_t block[3] = {'2', '3', '4'};
  ASSERT_EQ(tStream_Write(out, &one, 1), tErrNone);    // through putProc
  ASSERT_EQ(tStream_Write(out, block, 3), tErrNone);   // one writeProc call
  ASSERT_EQ(tStream_WriteCStringRecord(out, "key=value", "\n"), tErrNone);
  ASSERT_EQ(tStream_WriteCString(out, "end"), tErrNone);
  uint8_t b;
  EXPECT_EQ(tStream_Read(out, &b, 1), tErrMode);  // output only
  ASSERT_EQ(tStream_Destroy(&out), tErrNone);
  EXPECT_EQ(qntest::ReadFile(Path("out")), std::string("1234key=value\n\0end\0", 19));

  tStream* in = nullptr;
  ASSERT_EQ(tStream_CreateFileInput(Path("out").c_str(), &in), tErrNone);
  char text[32];
  ASSERT_EQ(tStream_ReadCStringRecord(in, text, sizeof(text), "=v"), tErrNone);
  EXPECT_STREQ(text, "1234key");
  ASSERT_EQ(tStream_ReadCString(in, text, sizeof(text)), tErrNone);
  EXPECT_STREQ(text, "alue\n");
  ASSERT_EQ(tStream_ReadCString(in, text, sizeof(text)), tErrNone);
  EXPECT_STREQ(text, "end");
  EXPECT_EQ(tStream_ReadCString(in, text, sizeof(text)), tErrEOF);
  tStream_Destroy(&in);
}

TEST_F(FileStream, CreationFailuresAreResourceErrors) {
  tStream* s = reinterpret_cast<tStream*>(0x1);
  EXPECT_EQ(tStream_CreateFileInput(Path("missing").c_str(), &s), tErrResource);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(tStream_CreateFileInput(nullptr, &s), tErrResource);
  EXPECT_EQ(tStream_CreateFileInput(Path("missing").c_str(), nullptr), tErrResource);
  EXPECT_EQ(tStream_CreateFileOutput(dir.path().c_str(), &s), tErrResource);  // a directory
  EXPECT_EQ(tStream_CreateFileOutput((dir / "no/such/dir/file").c_str(), &s), tErrResource);
  EXPECT_EQ(tStream_CreateFileOutput(nullptr, &s), tErrResource);
  EXPECT_EQ(s, nullptr);
}

}  // namespace
