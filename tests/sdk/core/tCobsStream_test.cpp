#include "sdk/core/tCobsStream.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "sdk/core/tCobs.h"
#include "sdk/core/tCrc8.h"
#include "sdk/core/tTime.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The inner transport: frames written go to `wire` (one entry per write),
// gets come from `incoming`, then `whenEmpty`.
struct Inner {
  std::vector<Bytes> wire;
  std::deque<uint8_t> incoming;
  tErr whenEmpty = tErrNotReady;
  tErr writeResult = tErrNone;
  int failWrites = 0;  // the next n writes fail with writeResult
  int deletes = 0;
  int waits = 0;
};

tErr sGet(uint8_t* b, void* ref) {
  Inner* in = static_cast<Inner*>(ref);
  if (in->incoming.empty()) return in->whenEmpty;
  *b = in->incoming.front();
  in->incoming.pop_front();
  return tErrNone;
}
tErr sPut(const uint8_t* b, void* ref) {
  static_cast<Inner*>(ref)->wire.push_back(Bytes{*b});
  return tErrNone;
}
tErr sWrite(const uint8_t* data, uint32_t n, void* ref) {
  Inner* in = static_cast<Inner*>(ref);
  in->wire.emplace_back(data, data + n);
  if (in->failWrites > 0) {
    in->failWrites--;
    return in->writeResult;
  }
  return tErrNone;
}
tErr sDelete(void* ref) {
  static_cast<Inner*>(ref)->deletes++;
  return tErrNone;
}
tErr sWait(uint32_t, void* ref) {
  Inner* in = static_cast<Inner*>(ref);
  in->waits++;
  return in->incoming.empty() ? tErrTimeout : tErrNone;
}

Bytes Frame(const Bytes& serialised) {
  Bytes body(serialised);
  body.push_back(crc8_create(serialised.data(), serialised.size()));
  Bytes out(COBS_ENCODED_MAX(body.size()) + 1);
  out.resize(cobs_encode(body.data(), body.size(), out.data()));
  out.push_back(0);
  return out;
}

class CobsStream : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(tStream_CreateCobsEncodingWithWait(sGet, sPut, sWrite, sDelete, sWait, &inner, &stream), tErrNone);
  }
  void TearDown() override {
    if (stream != nullptr) tStream_Destroy(&stream);
  }
  void Receive(const Bytes& bytes) { inner.incoming.insert(inner.incoming.end(), bytes.begin(), bytes.end()); }
  // Calls get until the inner bytes are used up; collects the bytes
  // delivered and the errors other than tErrNotReady.
  void Drain(Bytes* delivered, std::vector<tErr>* errors) {
    int idle = 0;
    for (int guard = 0; guard < 10000; guard++) {
      uint8_t b;
      tErr err = stream->getProc(&b, stream->procRef);
      bool dry = err == tErrNotReady && inner.incoming.empty();
      idle = dry ? idle + 1 : 0;
      if (idle == 1) return;
      if (err == tErrNone) {
        delivered->push_back(b);
      } else if (err != tErrNotReady) {
        errors->push_back(err);
      }
    }
    FAIL() << "get never ran dry";
  }
  Inner inner;
  tStream* stream = nullptr;
};

TEST_F(CobsStream, EmptyPacketGoesOutAsTheKnownFrame) {
  const Bytes packet = {0x06, 0x00};
  ASSERT_EQ(tStream_Write(stream, packet.data(), 2), tErrNone);
  ASSERT_EQ(inner.wire.size(), 1u);
  EXPECT_EQ(inner.wire[0], Bytes({0x02, 0x06, 0x02, 0xAA, 0x00}));
}

TEST_F(CobsStream, EveryPacketLengthRoundTrips) {
  for (uint8_t n = 0; n <= 28; n++) {
    Bytes packet = {static_cast<uint8_t>(2 + 2 * (n % 10)), n};
    for (uint8_t i = 0; i < n; i++) packet.push_back(static_cast<uint8_t>(i % 3 == 0 ? 0 : 0x40 + i));
    inner.wire.clear();
    ASSERT_EQ(tStream_Write(stream, packet.data(), static_cast<uint32_t>(packet.size())), tErrNone);
    ASSERT_EQ(inner.wire.size(), 1u);
    EXPECT_EQ(inner.wire[0], Frame(packet)) << "payload " << int(n);
    EXPECT_LE(inner.wire[0].size(), 33u);
    Receive(inner.wire[0]);
    Bytes delivered;
    std::vector<tErr> errors;
    Drain(&delivered, &errors);
    EXPECT_TRUE(errors.empty()) << "payload " << int(n);
    EXPECT_EQ(delivered, packet) << "payload " << int(n);
  }
}

TEST_F(CobsStream, WritesSplitAcrossPacketsFrameWholePacketsOnly) {
  const Bytes first = {0x04, 0x01, 0x55, 0x08, 0x02};
  ASSERT_EQ(tStream_Write(stream, first.data(), 5), tErrNone);
  ASSERT_EQ(inner.wire.size(), 1u);
  EXPECT_EQ(inner.wire[0], Frame({0x04, 0x01, 0x55}));
  const Bytes rest = {0x11, 0x22};
  ASSERT_EQ(tStream_Write(stream, rest.data(), 2), tErrNone);
  ASSERT_EQ(inner.wire.size(), 2u);
  EXPECT_EQ(inner.wire[1], Frame({0x08, 0x02, 0x11, 0x22}));
}

TEST_F(CobsStream, AWriteFailureIsRememberedAndLaterPacketsStillGo) {
  inner.failWrites = 1;
  inner.writeResult = tErrIO;
  const Bytes two = {0x04, 0x00, 0x06, 0x00};
  EXPECT_EQ(tStream_Write(stream, two.data(), 4), tErrIO);
  EXPECT_EQ(inner.wire.size(), 2u);
  EXPECT_EQ(tStream_Write(stream, two.data(), 4), tErrNone);
}

TEST_F(CobsStream, SingleBytesPassUnframed) {
  const uint8_t b = 0x3C;
  ASSERT_EQ(tStream_Write(stream, &b, 1), tErrNone);
  ASSERT_EQ(inner.wire.size(), 1u);
  EXPECT_EQ(inner.wire[0], Bytes({0x3C}));
}

struct BadFrameCase {
  const char* name;
  Bytes line;
};

void PrintTo(const BadFrameCase& c, std::ostream* os) { *os << c.name; }

class CobsBadFrame : public CobsStream, public ::testing::WithParamInterface<BadFrameCase> {};

TEST_P(CobsBadFrame, IsDroppedWholeAndReportedOnce) {
  Bytes good = Frame({0x06, 0x01, 0x77});
  Receive(GetParam().line);
  Receive(good);
  Bytes delivered;
  std::vector<tErr> errors;
  Drain(&delivered, &errors);
  EXPECT_EQ(errors, std::vector<tErr>({tErrPacket}));
  EXPECT_EQ(delivered, Bytes({0x06, 0x01, 0x77}));  // the next frame still comes through
}

Bytes WrongCrc() {
  Bytes f = Frame({0x06, 0x01, 0x77});
  f[f.size() - 2] ^= 0x01;
  return f;
}

Bytes WrongLength() {
  // A valid CRC over a serialised form whose length byte lies.
  return Frame({0x06, 0x05, 0x77});
}

Bytes Overlong() {
  Bytes f;
  for (int i = 0; i < 40; i++) f.push_back(0x41);
  f.push_back(0);
  return f;
}

Bytes OverlongWithValidPrefix() {
  // The first 32 bytes of this line are a valid frame of a 28-byte payload;
  // the bytes after them must not make it acceptable.
  Bytes packet = {0x06, 28};
  for (int i = 0; i < 28; i++) packet.push_back(0x30 + i);
  Bytes f = Frame(packet);
  f.pop_back();
  f.push_back(0x41);
  f.push_back(0);
  return f;
}

INSTANTIATE_TEST_SUITE_P(Table, CobsBadFrame,
                         ::testing::Values(BadFrameCase{"WrongCrc", WrongCrc()},
                                           BadFrameCase{"WrongLength", WrongLength()},
                                           BadFrameCase{"BadCode", {0x09, 0x06, 0x00}},
                                           BadFrameCase{"TooShort", {0x02, 0x06, 0x00}},
                                           BadFrameCase{"Overlong", Overlong()},
                                           BadFrameCase{"OverlongWithValidPrefix", OverlongWithValidPrefix()}),
                         [](const ::testing::TestParamInfo<BadFrameCase>& info) { return info.param.name; });

TEST_F(CobsStream, AFrameArrivingInPiecesIsDeliveredWhenItEnds) {
  Bytes frame = Frame({0x06, 0x02, 0x00, 0x11});
  Receive(Bytes(frame.begin(), frame.begin() + 3));
  uint8_t b;
  EXPECT_EQ(tStream_Read(stream, &b, 1), tErrNotReady);  // the rest is on its way
  EXPECT_TRUE(inner.incoming.empty());
  Receive(Bytes(frame.begin() + 3, frame.end()));
  Bytes delivered;
  for (int i = 0; i < 4; i++) {
    ASSERT_EQ(tStream_Read(stream, &b, 1), tErrNone) << i;
    delivered.push_back(b);
  }
  EXPECT_EQ(delivered, Bytes({0x06, 0x02, 0x00, 0x11}));
  EXPECT_EQ(tStream_Read(stream, &b, 1), tErrNotReady);
}

TEST_F(CobsStream, EmptyFramesAreIgnored) {
  Receive({0x00, 0x00, 0x00});
  Receive(Frame({0x02, 0x00}));
  Bytes delivered;
  std::vector<tErr> errors;
  Drain(&delivered, &errors);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(delivered, Bytes({0x02, 0x00}));
}

TEST_F(CobsStream, InnerReadErrorsLookIdleAndTheWaitDoesNotPollADeadLine) {
  inner.whenEmpty = tErrIO;
  uint8_t b;
  EXPECT_EQ(tStream_Read(stream, &b, 1), tErrNotReady);
  uint64_t start = tTime_GetMonotonicMSTicks();
  EXPECT_EQ(tStream_Wait(stream, 40), tErrTimeout);
  EXPECT_GE(tTime_GetMonotonicMSTicks() - start, 35u);
  EXPECT_EQ(inner.waits, 0);
  // The next wait asks the line again.
  EXPECT_EQ(tStream_Wait(stream, 40), tErrTimeout);
  EXPECT_EQ(inner.waits, 1);
}

TEST_F(CobsStream, WaitSeesADecodedFrameAndOtherwiseAsksTheInnerLine) {
  EXPECT_EQ(tStream_Wait(stream, 10), tErrTimeout);
  EXPECT_EQ(inner.waits, 1);
  Receive(Frame({0x02, 0x00}));
  uint8_t b = 0;
  ASSERT_EQ(tStream_Read(stream, &b, 1), tErrNone);  // the whole frame at once
  EXPECT_EQ(b, 0x02);
  EXPECT_TRUE(inner.incoming.empty());
  EXPECT_EQ(tStream_Wait(stream, 10), tErrNone);  // its second byte is ready
  EXPECT_EQ(inner.waits, 1);
  ASSERT_EQ(tStream_Read(stream, &b, 1), tErrNone);
  EXPECT_EQ(b, 0x00);
}

TEST_F(CobsStream, DeleteDeletesTheInnerTransport) {
  EXPECT_EQ(tStream_Destroy(&stream), tErrNone);
  EXPECT_EQ(inner.deletes, 1);
}

TEST(CobsStreamCreate, Rules) {
  EXPECT_EQ(tStream_CreateCobsEncoding(sGet, sPut, sWrite, sDelete, nullptr, nullptr), tErrParam);
  Inner inner;
  tStream* s = nullptr;
  ASSERT_EQ(tStream_CreateCobsEncoding(sGet, sPut, sWrite, sDelete, &inner, &s), tErrNone);
  EXPECT_EQ(tStream_Wait(s, 0), tErrNone);  // no inner wait: a get is always worth a try
  tStream_Destroy(&s);
}

}  // namespace
