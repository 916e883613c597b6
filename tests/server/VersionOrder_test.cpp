#include <gtest/gtest.h>

#include <algorithm>

#include "server/UpdateServerRequest.h"

using USR = UpdateServerRequest;

namespace {
std::vector<std::string> sBuildsOf(const std::vector<USR::BuildEntry>& sorted) {
  std::vector<std::string> out;
  for (const auto& e : sorted) out.push_back(e.first);
  return out;
}
}  // namespace

TEST(VersionSplit, ExactlyThreePartsOrNothing) {
  EXPECT_EQ(USR::SplitQuillnodeVersion("2.10.4"), (std::vector<std::string>{"2", "10", "4"}));
  EXPECT_EQ(USR::SplitQuillnodeVersion("1..2"), (std::vector<std::string>{"1", "", "2"}));
  for (const char* bad : {"", "2", "2.10", "2.10.4.1", "...", "a.b"})
    EXPECT_TRUE(USR::SplitQuillnodeVersion(bad).empty()) << bad;
}

TEST(VersionOrder, NumericNotTextualNewestFirst) {
  std::map<std::string, std::string> builds = {
      {"100", "2.9.0"}, {"101", "2.10.0"}, {"102", "2.10.4"}};
  EXPECT_EQ(sBuildsOf(USR::SortBuildsByVersion(builds)),
            (std::vector<std::string>{"102", "101", "100"}));
}

TEST(VersionOrder, UnreadableVersionsComeLastAndEqualVersionsByBuildNumber) {
  std::map<std::string, std::string> builds = {
      {"1", "x.y.z"},  {"2", "3.0.0"}, {"3", ""},      {"4", "3.0.0"}, {"5", "1.0"},
      {"6", "0.0.1"},  {"7", "a.1.1"}, {"10", "3.0.0"}, {"9", "10.0.0"}};
  EXPECT_EQ(sBuildsOf(USR::SortBuildsByVersion(builds)),
            (std::vector<std::string>{"9", "10", "4", "2", "6", "7", "5", "3", "1"}));
}

// A sort over many entries with a mix of readable and unreadable versions:
// the comparator must be a strict weak ordering, and the result must be a
// permutation of the input in that order.
TEST(VersionOrder, ComparatorIsAStrictWeakOrdering) {
  const char* versions[] = {"1.0.0", "bad", "1.0.0", "", "2.0.0", "1.x.0", "0.9.9",
                            "2.0.0", "1.0",  "10.0.0", "99999999999.0.0", "3.2.1"};
  std::map<std::string, std::string> builds;
  for (int i = 0; i < 200; ++i)
    builds[std::to_string(i)] = versions[(i * 7) % (sizeof versions / sizeof *versions)];
  std::vector<USR::BuildEntry> entries(builds.begin(), builds.end());
  for (const auto& a : entries) {
    EXPECT_FALSE(USR::_sortVersion(a, a));
    for (const auto& b : entries) {
      if (USR::_sortVersion(a, b)) {
        EXPECT_FALSE(USR::_sortVersion(b, a));
      }
      // Every pair is ordered one way: distinct keys never compare equal.
      if (a.first != b.first) {
        EXPECT_TRUE(USR::_sortVersion(a, b) || USR::_sortVersion(b, a));
      }
    }
  }
  std::vector<USR::BuildEntry> sorted = USR::SortBuildsByVersion(builds);
  ASSERT_EQ(sorted.size(), builds.size());
  EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end(), USR::_sortVersion));
  std::vector<USR::BuildEntry> again = sorted;
  std::sort(again.begin(), again.end());
  EXPECT_EQ(again, entries);
}
