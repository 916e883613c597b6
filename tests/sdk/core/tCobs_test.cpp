#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sdk/core/tCobs.h"
#include "sdk/core/tCrc8.h"
#include "tests/support/Process.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(const Bytes& in) {
  Bytes out(COBS_ENCODED_MAX(in.size()));
  out.resize(cobs_encode(in.data(), in.size(), out.data()));
  return out;
}

Bytes Decode(const Bytes& in) {
  Bytes out(in.size());
  out.resize(cobs_decode(in.data(), in.size(), out.data()));
  return out;
}

TEST(Crc8, KnownVectors) {
  EXPECT_EQ(crc8_create(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xA1);
  EXPECT_EQ(crc8_create(reinterpret_cast<const uint8_t*>("abc"), 3), 0x42);
  EXPECT_EQ(crc8_create(nullptr, 0), 0x00);
  const uint8_t packet[2] = {0x06, 0x00};
  EXPECT_EQ(crc8_create(packet, 2), 0xAA);
  EXPECT_TRUE(crc8_check(packet, 2, 0xAA));
  EXPECT_FALSE(crc8_check(packet, 2, 0xAB));
  EXPECT_EQ(crc8_update(0, 1), _crc8LUT[1]);
}

// Random blocks, checked against python3-crcmod's crc-8-maxim, an
// implementation of the same CRC written independently of this one.
TEST(Crc8, MatchesAnIndependentImplementation) {
  std::mt19937 rng(20260519);
  std::vector<Bytes> blocks;
  for (int i = 0; i < 40; i++) {
    Bytes b(rng() % 300);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    blocks.push_back(b);
  }
  std::ostringstream input;
  for (const Bytes& b : blocks) {
    for (uint8_t x : b) input << std::hex << (x < 16 ? "0" : "") << static_cast<int>(x);
    input << "\n";
  }
  qntest::RunOptions options;
  options.input = input.str();
  qntest::RunResult r = qntest::Run(
      "/usr/bin/python3",
      {"-c",
       "import sys, crcmod.predefined as p\n"
       "f = p.mkPredefinedCrcFun('crc-8-maxim')\n"
       "for line in sys.stdin: print(f(bytes.fromhex(line.strip())))\n"},
      options);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::istringstream out(r.out);
  for (const Bytes& b : blocks) {
    int expected = -1;
    ASSERT_TRUE(out >> expected);
    EXPECT_EQ(crc8_create(b.data(), b.size()), expected) << "block of " << b.size();
  }
}

TEST(Cobs, KnownVectors) {
  EXPECT_EQ(Encode({0x11, 0x00, 0x22}), Bytes({0x02, 0x11, 0x02, 0x22}));
  EXPECT_EQ(Decode({0x02, 0x11, 0x02, 0x22}), Bytes({0x11, 0x00, 0x22}));
  EXPECT_EQ(Encode({0x06, 0x00, 0xAA}), Bytes({0x02, 0x06, 0x02, 0xAA}));
  EXPECT_EQ(Encode({0x00}), Bytes({0x01, 0x01}));
  EXPECT_EQ(Encode({}), Bytes({0x01}));
  EXPECT_EQ(Encode({0x00, 0x00}), Bytes({0x01, 0x01, 0x01}));
}

TEST(Cobs, DecodeRefusesBadCodes) {
  EXPECT_EQ(cobs_decode(Bytes({0x05, 0x11, 0x22}).data(), 3, Bytes(8).data()), 0u);  // past the end
  EXPECT_EQ(cobs_decode(Bytes({0x02, 0x11, 0x00, 0x22}).data(), 4, Bytes(8).data()), 0u);  // zero code
  EXPECT_EQ(cobs_decode(nullptr, 3, Bytes(8).data()), 0u);
}

TEST(Cobs, RoundTripsEveryShortLengthInPlaceAndOut) {
  std::mt19937 rng(7);
  for (size_t n = 0; n <= 40; n++) {
    for (int trial = 0; trial < 20; trial++) {
      Bytes in(n);
      for (auto& x : in) x = (rng() % 4 == 0) ? 0 : static_cast<uint8_t>(rng());
      Bytes encoded = Encode(in);
      ASSERT_EQ(encoded.size(), n + 1);
      for (uint8_t x : encoded) ASSERT_NE(x, 0);
      EXPECT_EQ(Decode(encoded), in);

      Bytes inplace(in);
      inplace.resize(n + 1);
      ASSERT_EQ(cobs_encode_inplace(inplace.data(), n), n + 1);
      EXPECT_EQ(inplace, encoded);
      ASSERT_EQ(cobs_decode_inplace(inplace.data(), n + 1), n);
      inplace.resize(n);
      EXPECT_EQ(inplace, in);
    }
  }
}

TEST(Cobs, LongRunsRoundTripOutOfPlaceAndAreRefusedInPlace) {
  for (size_t n : {253u, 254u, 255u, 508u, 600u}) {
    Bytes in(n, 0x5A);
    Bytes encoded = Encode(in);
    for (uint8_t x : encoded) ASSERT_NE(x, 0);
    EXPECT_EQ(Decode(encoded), in) << n;
    Bytes inplace(in);
    inplace.resize(n + 1);
    if (n >= 254) {
      EXPECT_EQ(cobs_encode_inplace(inplace.data(), n), 0u) << n;
      EXPECT_EQ(inplace[0], 0x5A);  // untouched
    } else {
      EXPECT_EQ(cobs_encode_inplace(inplace.data(), n), n + 1);
    }
  }
}

}  // namespace
