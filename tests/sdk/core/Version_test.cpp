#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "sdk/core/tVersion.h"

namespace {

struct PackCase {
  uint8_t major, minor, patch;
  uint32_t packed;
  bool legacy;
};

class VersionPack : public ::testing::TestWithParam<PackCase> {};

TEST_P(VersionPack, PacksAndParsesBack) {
  const PackCase& c = GetParam();
  uint32_t v = tVersion_Pack(c.major, c.minor, c.patch);
  EXPECT_EQ(v, c.packed);
  EXPECT_EQ(tVersion_IsLegacyFormat(v), c.legacy);
  EXPECT_EQ(tVersion_ParseMajor(v), c.major);
  EXPECT_EQ(tVersion_ParseMinor(v), c.minor & (c.legacy ? 0xF : 0xFF));
  EXPECT_EQ(tVersion_ParsePatch(v), c.patch);
}

INSTANTIATE_TEST_SUITE_P(Table, VersionPack,
                         ::testing::Values(PackCase{2, 14, 9, 0x2E000009, true},
                                           PackCase{2, 15, 0, 0x2F020F00, false},
                                           PackCase{2, 15, 3, 0x2F020F03, false},
                                           PackCase{1, 4, 17, 0x14000011, true},
                                           PackCase{1, 20, 5, 0x14000005, true},
                                           PackCase{3, 1, 7, 0x2F030107, false},
                                           PackCase{0, 0, 0, 0x00000000, true}));

TEST(VersionParse, PatchWidthDependsOnForm) {
  EXPECT_EQ(tVersion_ParsePatch(0x2E123456), 0x123456u);
  EXPECT_EQ(tVersion_ParsePatch(0x2F020F56), 0x56u);
}

TEST(VersionParse, Strings) {
  char buf[16];
  tVersion_ParseString(0x2F030107, buf, sizeof buf);
  EXPECT_STREQ(buf, "3.1.7");
  tVersion_ParseString(0x21000005, buf, sizeof buf);
  EXPECT_STREQ(buf, "2.1.5");
  char tiny[4];
  tVersion_ParseString(0x2F0A0B0C, tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "10.");
}

struct CompareCase {
  uint8_t a[3], b[3];
  bool atLeast;
};

class VersionCompare : public ::testing::TestWithParam<CompareCase> {};

TEST_P(VersionCompare, AtLeast) {
  const CompareCase& c = GetParam();
  EXPECT_EQ(tVersion_IsAtLeastCompare(c.a[0], c.a[1], c.a[2], c.b[0], c.b[1], c.b[2]), c.atLeast);
}

INSTANTIATE_TEST_SUITE_P(Table, VersionCompare,
                         ::testing::Values(CompareCase{{2, 10, 4}, {2, 10, 4}, true},
                                           CompareCase{{2, 10, 3}, {2, 10, 4}, false},
                                           CompareCase{{3, 0, 0}, {2, 200, 200}, true},
                                           CompareCase{{2, 9, 255}, {2, 10, 0}, false},
                                           CompareCase{{2, 11, 0}, {2, 10, 9}, true},
                                           CompareCase{{1, 255, 255}, {2, 0, 0}, false}));

TEST(SdkVersion, OwnVersion) {
  EXPECT_STREQ(tVersion_GetString(), "2.12.3");
  EXPECT_EQ(tVersion_GetString(), tVersion_GetString());  // the same cached buffer
  EXPECT_EQ(tVersion_GetMajor(), 2);
  EXPECT_EQ(tVersion_GetMinor(), 12);
  EXPECT_EQ(tVersion_GetPatch(), 3);
  EXPECT_TRUE(tVersion_IsAtLeast(2, 12, 3));
  EXPECT_FALSE(tVersion_IsAtLeast(2, 12, 4));
}

TEST(SdkVersion, Features) {
  EXPECT_TRUE(tVersion_HasFeature("VERSION"));
  EXPECT_FALSE(tVersion_HasFeature("version"));
  EXPECT_FALSE(tVersion_HasFeature(nullptr));
  char* list = tVersion_GetFeatureList();
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list, "VERSION - Version Query API");
  tVersion_DestroyFeatureList(&list);
  EXPECT_EQ(list, nullptr);
}

}  // namespace
