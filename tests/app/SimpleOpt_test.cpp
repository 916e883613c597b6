#include "app/SimpleOpt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

enum { ID_D = 1, ID_DEV = 2, ID_X = 3, ID_HELP = 4, ID_HTTP = 5, ID_HTTPS = 6, ID_OVR = 7 };

const CSimpleOpt::SOption kTable[] = {
    {ID_D, "-D", CSimpleOpt::ArgNone},        {ID_DEV, "-d", CSimpleOpt::ArgRequired},
    {ID_X, "-X", CSimpleOpt::ArgRequired},    {ID_OVR, "-OVERRIDE", CSimpleOpt::ArgNone},
    {ID_HELP, "--help", CSimpleOpt::ArgNone}, {ID_HTTP, "--http", CSimpleOpt::ArgNone},
    {ID_HTTPS, "--https", CSimpleOpt::ArgNone}, {-1, nullptr, CSimpleOpt::ArgNone},
};

struct Step {
  int id;
  std::string text;
  std::string arg;  // "<null>" when none
  int error;
  bool operator==(const Step& o) const {
    return id == o.id && text == o.text && arg == o.arg && error == o.error;
  }
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
  return os << "{" << s.id << ", " << s.text << ", " << s.arg << ", " << s.error << "}";
}

// Runs the scanner over `words` (argv[0] is added) and returns each step and
// the array's final order.
struct Scan {
  std::vector<Step> steps;
  std::vector<std::string> finalArgv;
};

Scan ScanWords(std::vector<std::string> words, const CSimpleOpt::SOption* table = kTable) {
  words.insert(words.begin(), "prog");
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  Scan scan;
  {
    CSimpleOpt opt(int(argv.size()), argv.data(), table, 0);
    while (opt.Next())
      scan.steps.push_back(
          {opt.OptionId(), opt.OptionText(), opt.OptionArg() ? opt.OptionArg() : "<null>",
           opt.LastError()});
  }
  for (char* a : argv) scan.finalArgv.push_back(a);
  return scan;
}

TEST(SimpleOpt, NonOptionsMoveToTheEndInTheirOrder) {
  Scan s = ScanWords({"x", "-D", "y"});
  ASSERT_EQ(s.steps.size(), 1u);
  EXPECT_EQ(s.steps[0], (Step{ID_D, "-D", "<null>", 0}));
  EXPECT_EQ(s.finalArgv, (std::vector<std::string>{"prog", "-D", "x", "y"}));
}

TEST(SimpleOpt, OptionsKeepOrderWithArgumentsAndNonOptionsInterleaved) {
  Scan s = ScanWords({"a", "-d", "40F5849A", "b", "-D", "c", "-X=8", "d"});
  ASSERT_EQ(s.steps.size(), 3u);
  EXPECT_EQ(s.steps[0], (Step{ID_DEV, "-d", "40F5849A", 0}));
  EXPECT_EQ(s.steps[1], (Step{ID_D, "-D", "<null>", 0}));
  EXPECT_EQ(s.steps[2], (Step{ID_X, "-X", "8", 0}));
  EXPECT_EQ(s.finalArgv, (std::vector<std::string>{"prog", "-d", "40F5849A", "-D", "-X=8", "a",
                                                   "b", "c", "d"}));
}

TEST(SimpleOpt, ManyArgumentsUseAllocatedScratch) {
  std::vector<std::string> words;
  for (int i = 0; i < 60; ++i) words.push_back("w" + std::to_string(i));
  words.push_back("-D");
  Scan s = ScanWords(words);
  ASSERT_EQ(s.steps.size(), 1u);
  ASSERT_EQ(s.finalArgv.size(), 62u);
  EXPECT_EQ(s.finalArgv[1], "-D");
  for (int i = 0; i < 60; ++i) EXPECT_EQ(s.finalArgv[2 + i], "w" + std::to_string(i));
}

struct StepCase {
  const char* name;
  std::vector<std::string> words;
  std::vector<Step> steps;
};

class SimpleOptSteps : public ::testing::TestWithParam<StepCase> {};

TEST_P(SimpleOptSteps, GivesTheExpectedSteps) {
  EXPECT_EQ(ScanWords(GetParam().words).steps, GetParam().steps);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimpleOptSteps,
    ::testing::Values(
        StepCase{"attached", {"-d=40F5849A"}, {{ID_DEV, "-d", "40F5849A", 0}}},
        StepCase{"attachedEmpty", {"-d="}, {{ID_DEV, "-d", "", 0}}},
        StepCase{"unknown", {"-Q"}, {{-1, "-Q", "<null>", -1}}},
        StepCase{"unknownWithEquals", {"-Q=3"}, {{-1, "-Q", "<null>", -1}}},
        StepCase{"wrongHyphens", {"--d", "x"}, {{-1, "--d", "<null>", -1}}},
        StepCase{"clumpingIsUnknown", {"-DU"}, {{-1, "-DU", "<null>", -1}}},
        StepCase{"gluedArgumentIsUnknown", {"-d40F5849A"}, {{-1, "-d40F5849A", "<null>", -1}}},
        StepCase{"ambiguous", {"--htt"}, {{-1, "--htt", "<null>", -2}}},
        StepCase{"ambiguousH", {"--h"}, {{-1, "--h", "<null>", -2}}},
        StepCase{"exactBeatsPrefix", {"--http"}, {{ID_HTTP, "--http", "<null>", 0}}},
        StepCase{"prefixOfOne", {"--he"}, {{ID_HELP, "--help", "<null>", 0}}},
        StepCase{"longestFull", {"--https"}, {{ID_HTTPS, "--https", "<null>", 0}}},
        StepCase{"partialShort", {"-OV"}, {{ID_OVR, "-OVERRIDE", "<null>", 0}}},
        StepCase{"partialShortest", {"-O"}, {{ID_OVR, "-OVERRIDE", "<null>", 0}}},
        StepCase{"caseSensitive", {"-override"}, {{-1, "-override", "<null>", -1}}},
        StepCase{"argumentToFlag", {"-D=1"}, {{ID_D, "-D", "<null>", -3}}},
        StepCase{"missingArgument", {"-d"}, {{ID_DEV, "-d", "<null>", -5}}},
        StepCase{"missingArgumentOnlyNonOptionsEarlier",
                 {"x", "-d"},
                 {{ID_DEV, "-d", "<null>", -5}}},
        StepCase{"argumentIsOption",
                 {"-d", "-D"},
                 {{ID_DEV, "-d", "<null>", -6}, {ID_D, "-D", "<null>", 0}}},
        StepCase{"argumentMayFollowNonOptions",
                 {"x", "-X", "0x8"},
                 {{ID_X, "-X", "0x8", 0}}}),
    [](const ::testing::TestParamInfo<StepCase>& info) { return std::string(info.param.name); });

TEST(SimpleOpt, EmptyTableMakesEveryDashElementUnknown) {
  const CSimpleOpt::SOption empty[] = {{-1, nullptr, CSimpleOpt::ArgNone}};
  Scan s = ScanWords({"-D", "x", "--help"}, empty);
  EXPECT_EQ(s.steps, (std::vector<Step>{{-1, "-D", "<null>", -1}, {-1, "--help", "<null>", -1}}));
}

TEST(SimpleOpt, NoArgumentsGivesNoSteps) {
  Scan s = ScanWords({});
  EXPECT_TRUE(s.steps.empty());
  EXPECT_EQ(s.finalArgv, (std::vector<std::string>{"prog"}));
}

}  // namespace
