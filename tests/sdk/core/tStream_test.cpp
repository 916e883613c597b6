#include "sdk/core/tStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

// A scripted transport: get hands out queued results in order (a result of
// tErrNone carries its byte) and then tErrEOF or tErrNotReady; put and write
// are recorded.
struct Script {
  struct Step {
    tErr err;
    uint8_t byte;
  };
  std::deque<Step> gets;
  tErr whenEmpty = tErrEOF;
  int getCalls = 0;
  std::vector<std::vector<uint8_t>> writes;  // one entry per writeProc call
  std::string puts;
  tErr putResult = tErrNone;
  tErr deleteResult = tErrNone;
  int deletes = 0;
  int waits = 0;
  tErr waitResult = tErrTimeout;

  void Bytes(const std::string& text) {
    for (char c : text) gets.push_back({tErrNone, static_cast<uint8_t>(c)});
  }
  void Result(tErr err) { gets.push_back({err, 0}); }
};

tErr sGet(uint8_t* byte, void* ref) {
  Script* s = static_cast<Script*>(ref);
  s->getCalls++;
  if (s->gets.empty()) return s->whenEmpty;
  Script::Step step = s->gets.front();
  s->gets.pop_front();
  if (step.err == tErrNone) *byte = step.byte;
  return step.err;
}
tErr sPut(const uint8_t* byte, void* ref) {
  Script* s = static_cast<Script*>(ref);
  if (s->putResult != tErrNone) return s->putResult;
  s->puts.push_back(static_cast<char>(*byte));
  return tErrNone;
}
tErr sWrite(const uint8_t* data, uint32_t length, void* ref) {
  static_cast<Script*>(ref)->writes.emplace_back(data, data + length);
  return tErrNone;
}
tErr sDelete(void* ref) {
  Script* s = static_cast<Script*>(ref);
  s->deletes++;
  return s->deleteResult;
}
tErr sWait(uint32_t, void* ref) {
  Script* s = static_cast<Script*>(ref);
  s->waits++;
  return s->waitResult;
}

// The stream is destroyed by the fixture; the script outlives it.
class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override { stream = tStream_Create(sGet, sPut, sWrite, sDelete, &script); }
  void TearDown() override {
    if (stream != nullptr) tStream_Destroy(&stream);
  }
  std::string ReadAll(uint32_t n) {
    std::string out(n, '\0');
    EXPECT_EQ(tStream_Read(stream, reinterpret_cast<uint8_t*>(&out[0]), n), tErrNone);
    return out;
  }
  Script script;
  tStream* stream = nullptr;
};

TEST_F(StreamTest, PartialReadIsHandedBackAndReadAgainInOrder) {
  script.Bytes("ab");
  script.Result(tErrNotReady);
  uint8_t buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(tStream_Read(stream, buffer, 4), tErrNotReady);
  EXPECT_EQ(memcmp(buffer, "xxxx", 4), 0);  // untouched
  EXPECT_EQ(stream->buffered, 2u);
  script.Bytes("cdef");
  EXPECT_EQ(ReadAll(4), "abcd");
  EXPECT_EQ(ReadAll(2), "ef");
}

TEST_F(StreamTest, RepeatedNotReadyKeepsTheOrder) {
  // Each attempt takes the handed-back bytes first, then one new byte.
  script.Bytes("a");
  script.Result(tErrNotReady);
  script.Bytes("b");
  script.Result(tErrNotReady);
  script.Bytes("c");
  script.Result(tErrNotReady);
  uint8_t buffer[4];
  for (int i = 0; i < 3; i++) EXPECT_EQ(tStream_Read(stream, buffer, 4), tErrNotReady);
  script.Bytes("d");
  EXPECT_EQ(ReadAll(4), "abcd");
}

TEST_F(StreamTest, ReadToEndOfFileKeepsTheBytesBeforeIt) {
  script.Bytes("xyz");
  uint8_t buffer[4] = {0, 0, 0, 0};
  EXPECT_EQ(tStream_Read(stream, buffer, 4), tErrEOF);
  EXPECT_EQ(memcmp(buffer, "xyz", 3), 0);
  EXPECT_EQ(stream->buffered, 0u);
}

TEST_F(StreamTest, OtherFailureDropsTheBytesTaken) {
  script.Bytes("ab");
  script.Result(tErrIO);
  script.Bytes("c");
  uint8_t buffer[4];
  EXPECT_EQ(tStream_Read(stream, buffer, 4), tErrIO);
  EXPECT_EQ(stream->buffered, 0u);
  EXPECT_EQ(ReadAll(1), "c");
}

TEST_F(StreamTest, RingGrowsPast512AndKeepsOrder) {
  for (int i = 0; i < 600; i++) ASSERT_EQ(tStreamBufferChar(stream, static_cast<uint8_t>(i % 251)), tErrNone);
  EXPECT_EQ(stream->capacity, 1024u);
  EXPECT_EQ(stream->buffered, 600u);
  std::vector<uint8_t> back(600);
  ASSERT_EQ(tStream_Read(stream, back.data(), 600), tErrNone);
  for (int i = 0; i < 600; i++) ASSERT_EQ(back[i], i % 251) << i;
  EXPECT_EQ(script.getCalls, 0);
}

TEST_F(StreamTest, RingWrapsAroundBeforeItGrows) {
  // Take and give back in turns so the head walks past the end of the ring.
  for (int round = 0; round < 5; round++) {
    for (int i = 0; i < 300; i++) ASSERT_EQ(tStreamBufferChar(stream, static_cast<uint8_t>(round + i)), tErrNone);
    std::vector<uint8_t> back(300);
    ASSERT_EQ(tStream_Read(stream, back.data(), 300), tErrNone);
    for (int i = 0; i < 300; i++) ASSERT_EQ(back[i], static_cast<uint8_t>(round + i));
  }
  EXPECT_EQ(stream->capacity, 512u);
  // Now fill past capacity while the head is in the middle.
  for (int i = 0; i < 700; i++) ASSERT_EQ(tStreamBufferChar(stream, static_cast<uint8_t>(i)), tErrNone);
  EXPECT_EQ(stream->capacity, 1024u);
  std::vector<uint8_t> back(700);
  ASSERT_EQ(tStream_Read(stream, back.data(), 700), tErrNone);
  for (int i = 0; i < 700; i++) ASSERT_EQ(back[i], static_cast<uint8_t>(i));
}

TEST_F(StreamTest, WriteChoosesWriteProcForBlocksAndPutProcForSingleBytes) {
  const uint8_t data[3] = {1, 2, 3};
  ASSERT_EQ(tStream_Write(stream, data, 1), tErrNone);
  EXPECT_EQ(script.puts, std::string("\x01", 1));
  EXPECT_TRUE(script.writes.empty());
  ASSERT_EQ(tStream_Write(stream, data, 3), tErrNone);
  ASSERT_EQ(script.writes.size(), 1u);
  EXPECT_EQ(script.writes[0], std::vector<uint8_t>({1, 2, 3}));
  EXPECT_EQ(script.puts.size(), 1u);
}

TEST(Stream, WriteWithoutWriteProcPutsEveryByteAndStopsAtTheFirstError) {
  Script script;
  tStream* s = tStream_Create(sGet, sPut, nullptr, nullptr, &script);
  const uint8_t data[3] = {'a', 'b', 'c'};
  ASSERT_EQ(tStream_Write(s, data, 3), tErrNone);
  EXPECT_EQ(script.puts, "abc");
  script.putResult = tErrIO;
  EXPECT_EQ(tStream_Write(s, data, 3), tErrIO);
  EXPECT_EQ(script.puts, "abc");
  tStream_Destroy(&s);
}

TEST(Stream, ArgumentAndModeRules) {
  Script script;
  tStream* none = tStream_Create(nullptr, nullptr, nullptr, nullptr, &script);
  uint8_t b = 0;
  EXPECT_EQ(tStream_Write(none, &b, 1), tErrMode);
  EXPECT_EQ(tStream_Read(none, &b, 1), tErrMode);
  EXPECT_EQ(tStream_Read(none, nullptr, 1), tErrParam);
  EXPECT_EQ(tStream_Write(none, nullptr, 1), tErrParam);
  EXPECT_EQ(tStream_Read(nullptr, &b, 1), tErrParam);
  EXPECT_EQ(tStreamBufferChar(nullptr, 1), tErrParam);
  EXPECT_EQ(tStream_Wait(nullptr, 0), tErrParam);
  tStream fake;
  memset(&fake, 0, sizeof(fake));
  fake.getProc = sGet;
  EXPECT_EQ(tStream_Read(&fake, &b, 1), tErrParam);  // no check mark
  EXPECT_EQ(script.getCalls, 0);
  EXPECT_EQ(tStream_Destroy(&none), tErrNone);
}

TEST_F(StreamTest, DestroyCallsDeleteAndReturnsItsResult) {
  script.deleteResult = tErrIO;
  tStreamBufferChar(stream, 1);  // the ring is freed too (the leak checker sees it)
  EXPECT_EQ(tStream_Destroy(&stream), tErrIO);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(script.deletes, 1);
  EXPECT_EQ(tStream_Destroy(&stream), tErrParam);
  EXPECT_EQ(tStream_Destroy(nullptr), tErrParam);
  EXPECT_EQ(script.deletes, 1);
}

TEST(Stream, FlushCopiesUntilEndOfFile) {
  Script in, out;
  tStream* src = tStream_Create(sGet, nullptr, nullptr, nullptr, &in);
  tStream* dst = tStream_Create(nullptr, sPut, sWrite, nullptr, &out);
  in.Bytes("abc");
  EXPECT_EQ(tStream_Flush(src, dst), tErrNone);
  EXPECT_EQ(out.puts, "abc");
  EXPECT_TRUE(out.writes.empty());

  in.Bytes("de");
  in.Result(tErrNotReady);
  EXPECT_EQ(tStream_Flush(src, dst), tErrNotReady);
  EXPECT_EQ(out.puts, "abcde");

  in.Bytes("f");
  out.putResult = tErrWrite;
  EXPECT_EQ(tStream_Flush(src, dst), tErrWrite);

  EXPECT_EQ(tStream_Flush(dst, src), tErrMode);
  EXPECT_EQ(tStream_Flush(nullptr, dst), tErrParam);
  tStream_Destroy(&src);
  tStream_Destroy(&dst);
}

TEST_F(StreamTest, WaitReportsHandedBackBytesAndOtherwiseAsksTheTransport) {
  EXPECT_EQ(tStream_Wait(stream, 5), tErrNone);  // no wait function: a get paces itself
  ASSERT_EQ(tStream_SetWaitProc(stream, sWait), tErrNone);
  EXPECT_EQ(tStream_Wait(stream, 5), tErrTimeout);
  EXPECT_EQ(script.waits, 1);
  tStreamBufferChar(stream, 'q');
  EXPECT_EQ(tStream_Wait(stream, 5), tErrNone);
  EXPECT_EQ(script.waits, 1);
  EXPECT_EQ(tStream_SetWaitProc(nullptr, sWait), tErrParam);
}

struct RecordCase {
  const char* name;
  std::vector<std::string> chunks;  // each chunk is followed by tErrNotReady, the last by tErrEOF
  std::string terminator;
  uint32_t bufferSize;
  tErr result;  // of the read after the last chunk
  std::string record;
};

void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

class StreamRecord : public ::testing::TestWithParam<RecordCase> {};

TEST_P(StreamRecord, ReadsUpToTheTerminator) {
  const RecordCase& c = GetParam();
  Script script;
  tStream* s = tStream_Create(sGet, sPut, sWrite, nullptr, &script);
  std::vector<uint8_t> buffer(c.bufferSize + 1, 0xEE);
  const uint8_t* term = reinterpret_cast<const uint8_t*>(c.terminator.data());
  uint32_t termLength = static_cast<uint32_t>(c.terminator.size());
  uint32_t length = 0;
  for (size_t i = 0; i + 1 < c.chunks.size(); i++) {
    script.Bytes(c.chunks[i]);
    script.Result(tErrNotReady);
    ASSERT_EQ(tStream_ReadRecord(s, buffer.data(), &length, c.bufferSize, term, termLength), tErrNotReady);
    EXPECT_EQ(buffer[0], 0xEE);
  }
  script.Bytes(c.chunks.back());
  EXPECT_EQ(tStream_ReadRecord(s, buffer.data(), &length, c.bufferSize, term, termLength), c.result);
  if (c.result == tErrNone) {
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + length), c.record);
    EXPECT_EQ(buffer[c.bufferSize], 0xEE);
  }
  tStream_Destroy(&s);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StreamRecord,
    ::testing::Values(
        RecordCase{"Simple", {"hello\n"}, "\n", 32, tErrNone, "hello"},
        RecordCase{"EmptyRecord", {"\n"}, "\n", 32, tErrNone, ""},
        RecordCase{"AcrossNotReady", {"hel", "lo", "\nrest"}, "\n", 32, tErrNone, "hello"},
        RecordCase{"TwoByteTerminator", {"OK\r\n"}, "\r\n", 32, tErrNone, "OK"},
        RecordCase{"BrokenPartialMatchIsData", {"a\rb\r\n"}, "\r\n", 32, tErrNone, "a\rb"},
        RecordCase{"OverlappingPartialMatch", {"x\r\r\n"}, "\r\n", 32, tErrNone, "x\r"},
        RecordCase{"PartialMatchAcrossNotReady", {"ab\r", "\n"}, "\r\n", 32, tErrNone, "ab"},
        RecordCase{"FullBufferEndsTheRecord", {"abcdef\n"}, "\n", 4, tErrNone, "abcd"},
        RecordCase{"EndOfFileAfterBytes", {"abc"}, "\n", 32, tErrNone, "abc"},
        RecordCase{"EndOfFileAfterPartialMatch", {"ab\r"}, "\r\n", 32, tErrNone, "ab\r"},
        RecordCase{"EndOfFileFirst", {""}, "\n", 32, tErrEOF, ""}),
    [](const ::testing::TestParamInfo<RecordCase>& info) { return info.param.name; });

struct SplitCase {
  const char* name;
  std::string input;  // then the end of the file
  std::string terminator;
  uint32_t bufferSize;
  std::vector<std::string> records;  // read one after another, then tErrEOF
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class StreamRecordSplit : public ::testing::TestWithParam<SplitCase> {};

// A record that fills the buffer ends there, and every byte the stream gave
// that the record did not keep is the start of the next one: none is lost,
// whether the bytes come from the transport or from the pushback ring.
TEST_P(StreamRecordSplit, FullRecordsLoseNoBytes) {
  const SplitCase& c = GetParam();
  for (bool fromRing : {false, true}) {
    Script script;
    tStream* s = tStream_Create(sGet, nullptr, nullptr, nullptr, &script);
    for (char b : c.input) {
      if (fromRing) {
        ASSERT_EQ(tStreamBufferChar(s, static_cast<uint8_t>(b)), tErrNone);
      } else {
        script.Bytes(std::string(1, b));
      }
    }
    const uint8_t* term = reinterpret_cast<const uint8_t*>(c.terminator.data());
    uint32_t termLength = static_cast<uint32_t>(c.terminator.size());
    std::vector<uint8_t> buffer(c.bufferSize);
    for (const std::string& expected : c.records) {
      uint32_t length = 0;
      ASSERT_EQ(tStream_ReadRecord(s, buffer.data(), &length, c.bufferSize, term, termLength), tErrNone)
          << expected << (fromRing ? " (ring)" : "");
      EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + length), expected) << (fromRing ? "ring" : "transport");
    }
    uint32_t length = 0;
    EXPECT_EQ(tStream_ReadRecord(s, buffer.data(), &length, c.bufferSize, term, termLength), tErrEOF);
    tStream_Destroy(&s);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, StreamRecordSplit,
    ::testing::Values(SplitCase{"BrokenMatchPastTheEnd", "ab\rXY\r\n", "\r\n", 3, {"ab\r", "XY"}},
                      SplitCase{"LongerBrokenMatch", "xabyz", "abc", 2, {"xa", "by", "z"}},
                      SplitCase{"MatchAtTheEndOfAFullRecord", "abc\rde\r\n", "\r\n", 4, {"abc\r", "de"}},
                      SplitCase{"RestartedMatchAtTheEnd", "ab\r\rc\r\n", "\r\n", 3, {"ab\r", "\rc"}},
                      SplitCase{"EndOfFileInAMatch", "abc\r\r", "\r\r\r", 4, {"abc\r", "\r"}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

TEST_F(StreamTest, RecordArgumentRules) {
  uint8_t buffer[4];
  const uint8_t nl = '\n';
  EXPECT_EQ(tStream_ReadRecord(stream, nullptr, nullptr, 4, &nl, 1), tErrParam);
  EXPECT_EQ(tStream_ReadRecord(stream, buffer, nullptr, 4, nullptr, 1), tErrParam);
  EXPECT_EQ(tStream_ReadRecord(stream, buffer, nullptr, 4, &nl, 0), tErrParam);
  EXPECT_EQ(tStream_ReadRecord(stream, buffer, nullptr, 0, &nl, 1), tErrParam);
  EXPECT_EQ(tStream_WriteRecord(stream, buffer, 1, &nl, 0), tErrParam);
  EXPECT_EQ(tStream_WriteRecord(stream, nullptr, 1, &nl, 1), tErrParam);
  char text[1];
  EXPECT_EQ(tStream_ReadCString(stream, text, 1), tErrParam);
  EXPECT_EQ(tStream_ReadCStringRecord(stream, text, 1, ""), tErrParam);
  EXPECT_EQ(script.getCalls, 0);
}

TEST_F(StreamTest, RecordsAndCStringsWriteTheirTerminators) {
  ASSERT_EQ(tStream_WriteRecord(stream, reinterpret_cast<const uint8_t*>("abc"), 3,
                                reinterpret_cast<const uint8_t*>("\r\n"), 2),
            tErrNone);
  ASSERT_EQ(tStream_WriteCString(stream, "hi"), tErrNone);
  ASSERT_EQ(tStream_WriteCStringRecord(stream, "key", "=;"), tErrNone);
  std::string all;
  for (auto& w : script.writes) all.append(w.begin(), w.end());
  all += script.puts;  // nothing was a single byte here
  EXPECT_EQ(all, std::string("abc\r\nhi\0key=;\0", 14));
}

TEST_F(StreamTest, CStringsReadBackNulTerminated) {
  script.Bytes(std::string("first\0second;rest", 17));
  char buffer[16];
  ASSERT_EQ(tStream_ReadCString(stream, buffer, sizeof(buffer)), tErrNone);
  EXPECT_STREQ(buffer, "first");
  ASSERT_EQ(tStream_ReadCStringRecord(stream, buffer, sizeof(buffer), ";"), tErrNone);
  EXPECT_STREQ(buffer, "second");
  // At most bufferSize - 1 bytes.
  ASSERT_EQ(tStream_ReadCString(stream, buffer, 3), tErrNone);
  EXPECT_STREQ(buffer, "re");
}

}  // namespace
