#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>

#include "server/UpdateServerRequest.h"

namespace {
struct sFree {
  void operator()(char* p) const { free(p); }
};
using sBuffer = std::unique_ptr<char, sFree>;

std::string sDecode(const std::string& text, bool* ok) {
  size_t n = 12345;
  sBuffer out(base64_decode(text.data(), text.size(), &n));
  *ok = out != nullptr;
  if (!out) return "";
  EXPECT_EQ(out.get()[n], '\0');
  return std::string(out.get(), n);
}
}  // namespace

TEST(Base64, DecodesStandardEncodings) {
  struct Case {
    const char* text;
    std::string bytes;
  } cases[] = {
      {"QUJD", "ABC"},   {"QUI=", "AB"},      {"QQ==", "A"},         {"", ""},
      {"+/+/", "\xfb\xff\xbf"}, {"AAAA", std::string(3, '\0')}, {"aGVsbG8gd29ybGQ=", "hello world"},
  };
  for (const Case& c : cases) {
    bool ok = false;
    EXPECT_EQ(sDecode(c.text, &ok), c.bytes) << c.text;
    EXPECT_TRUE(ok) << c.text;
  }
}

TEST(Base64, RefusesMalformedText) {
  for (const char* bad : {"QUJ", "Q", "QUJDR", "QU=D", "Q===", "=QUJ", "QUJD\r", "QU\nD", "QU D",
                          "QUJD####", "QQ==QUJD", "\xc3\xa9\xc3\xa9"}) {
    bool ok = true;
    sDecode(bad, &ok);
    EXPECT_FALSE(ok) << bad;
  }
}

TEST(Base64, EncodeDecodeRoundTripEveryLengthAndByte) {
  std::string data;
  for (int i = 0; i < 300; ++i) data += char(i * 37 + 11);
  for (size_t len = 0; len <= data.size(); len += (len < 10 ? 1 : 29)) {
    size_t n = 0;
    sBuffer text(base64_encode(data.data(), len, &n));
    ASSERT_TRUE(text);
    EXPECT_EQ(n, (len + 2) / 3 * 4);
    EXPECT_EQ(strlen(text.get()), n);
    bool ok = false;
    EXPECT_EQ(sDecode(std::string(text.get(), n), &ok), data.substr(0, len));
    EXPECT_TRUE(ok);
  }
  size_t n = 0;
  sBuffer abc(base64_encode("ABC", 3, &n));
  EXPECT_STREQ(abc.get(), "QUJD");
  sBuffer ab(base64_encode("AB", 2, &n));
  EXPECT_STREQ(ab.get(), "QUI=");
  sBuffer a(base64_encode("A", 1, &n));
  EXPECT_STREQ(a.get(), "QQ==");
}
