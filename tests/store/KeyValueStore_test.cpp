#include "store/KeyValueStore.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "tests/store/FileSizeLimit.h"
#include "tests/store/LogCapture.h"
#include "tests/support/Process.h"

namespace {

using Entries = std::map<std::string, std::string>;
using qntest::ReadFile;
using qntest::TempDir;
using qntest::WriteFile;

Entries LoadText(const std::string& text) {
  TempDir dir;
  WriteFile(dir / "attrs", text);
  KeyValueStore store;
  EXPECT_EQ(store.Load((dir / "attrs").c_str()), tErrNone);
  return store.Entries();
}

TEST(KeyValueStoreFormat, ParsingRules) {
  std::string longValue(2045, 'v');  // "k=" + value is 2047 characters
  std::string tooLong(2048, 'x');
  struct Case {
    const char* what;
    std::string text;
    Entries expected;
  } cases[] = {
      {"blanks trimmed, '=' kept in value", " key \t=  value = more  \n", {{"key", "value = more"}}},
      {"comment and short lines skipped", "#K=V\na\n\nab\n", {{"ab", ""}}},
      {"no '=' gives an empty value", "  LONELY KEY \n", {{"LONELY KEY", ""}}},
      {"later line wins", "k=1\nk=2\n", {{"k", "2"}}},
      {"empty value", "k=\n", {{"k", ""}}},
      {"last line without newline", "a=1\nx=9", {{"a", "1"}, {"x", "9"}}},
      {"longest last line without newline", "z=1\nk=" + longValue, {{"k", longValue}, {"z", "1"}}},
      {"carriage returns are white space", "k = v\r\nz=1\r\n", {{"k", "v"}, {"z", "1"}}},
      {"empty key skipped", "=v\n   \nk=1\n", {{"k", "1"}}},
      {"longest line read", "k=" + longValue + "\nz=1\n", {{"k", longValue}, {"z", "1"}}},
      {"over-long line ends reading", "a=1\n" + tooLong + "\nb=2\n", {{"a", "1"}}},
      {"over-long last line without newline", "a=1\n" + tooLong, {{"a", "1"}}},
  };
  for (const Case& c : cases) EXPECT_EQ(LoadText(c.text), c.expected) << c.what;
}

TEST(KeyValueStoreFormat, SavesSortedLines) {
  TempDir dir;
  std::string path = dir / "attrs";
  WriteFile(path, "b=2\nB=1\na=3\n");
  KeyValueStore store(path.c_str());
  store.Save(nullptr);
  EXPECT_EQ(ReadFile(path), "B=1\na=3\nb=2\n");
}

TEST(KeyValueStoreLoad, KeepsKeysNotInFileAndClearsModified) {
  TempDir dir;
  WriteFile(dir / "attrs", "A=file\n");
  KeyValueStore store;
  store.Add("A", "memory");
  store.Add("B", "memory");
  EXPECT_TRUE(store.IsModified());
  EXPECT_EQ(store.Load((dir / "attrs").c_str()), tErrNone);
  EXPECT_FALSE(store.IsModified());
  EXPECT_EQ(store.Entries(), (Entries{{"A", "file"}, {"B", "memory"}}));
  EXPECT_EQ(store.Path(), dir / "attrs");
}

TEST(KeyValueStoreLoad, MissingFileIsCreatedWithTimes) {
  TempDir dir;
  std::string path = dir / ".settings";
  qntest::LogCapture log(DEBUG_Attributes);
  KeyValueStore store;
  EXPECT_EQ(store.Load(path.c_str()), tErrParam);
  EXPECT_TRUE(log.Contains("Attibutes: Error - cannot open attributes file: '" + path + "' (2)\n"));
  EXPECT_FALSE(store.IsModified());
  std::string now = KeyValueStore::CurrentTime();
  EXPECT_EQ(now.size(), 24u) << now;

  KeyValueStore reread(path.c_str());
  ASSERT_EQ(reread.Entries().size(), 2u) << ReadFile(path);
  EXPECT_EQ(reread.GetString("CREATED_TIME", nullptr).size(), 24u);
  EXPECT_EQ(reread.GetString("UPDATED_TIME", nullptr).size(), 24u);
}

TEST(KeyValueStoreLoad, UnreadableFileIsAFailure) {
  // A directory opens for reading but gives no line: nothing was read.
  TempDir dir;
  std::filesystem::create_directory(dir / ".settings");
  KeyValueStore store;
  EXPECT_EQ(store.Load((dir / ".settings").c_str()), tErrIO);
  EXPECT_TRUE(store.Entries().empty());
  EXPECT_TRUE(std::filesystem::is_directory(dir / ".settings"));
}

TEST(KeyValueStoreGetters, TypedConversions) {
  struct Case {
    const char* value;
    int asInt;
    uint32_t asHex;
    bool asBool;
    double asDouble;
  } cases[] = {
      {"", 7, 0xD, true, 1.5},  // empty: every default
      {"12.bird", 12, 0x12, true, 12.0},
      {"0x40F5849A", 0, 0x40F5849A, false, 1089832090.0},  // atof reads hex too
      {"40f5849a", 40, 0x40F5849A, true, 40.0},
      {"0", 0, 0, false, 0.0},
      {"-3", -3, uint32_t(-3), true, -3.0},
      {"2.5", 2, 0x2, true, 2.5},
      {"yes", 0, 0, false, 0.0},
  };
  for (const Case& c : cases) {
    KeyValueStore store;
    store.Add("K", c.value);
    EXPECT_EQ(store.GetInt("K", 7), c.asInt) << c.value;
    EXPECT_EQ(store.GetHex("K", 0xD), c.asHex) << c.value;
    EXPECT_EQ(store.GetBOOL("K", true), c.asBool) << c.value;
    EXPECT_DOUBLE_EQ(store.GetDouble("K", 1.5), c.asDouble) << c.value;
  }
}

TEST(KeyValueStoreGetters, AbsentKeyIsInsertedWithoutModifying) {
  TempDir dir;
  std::string path = dir / "attrs";
  WriteFile(path, "A=1\n");
  KeyValueStore store(path.c_str());
  EXPECT_EQ(store.GetInt("LATEST_DOWNLOAD", 7), 7);
  EXPECT_FALSE(store.IsModified());
  EXPECT_EQ(store.GetHex("H", 3), 3u);
  EXPECT_FALSE(store.GetBOOL("B", false));
  EXPECT_DOUBLE_EQ(store.GetDouble("D", 0.25), 0.25);
  EXPECT_FALSE(store.IsModified());
  EXPECT_EQ(store.Save(nullptr), tErrNone);
  // Nothing was modified, so no UPDATED_TIME either.
  EXPECT_EQ(ReadFile(path), "A=1\nB=\nD=\nH=\nLATEST_DOWNLOAD=\n");
}

TEST(KeyValueStoreGetters, LookupsNeverInsert) {
  KeyValueStore store;
  store.Add("K", "v");
  EXPECT_STREQ(store["K"], "v");
  EXPECT_EQ(store["missing"], nullptr);
  EXPECT_EQ(store.GetString("missing", "dflt"), "dflt");
  EXPECT_EQ(store.GetString("missing", nullptr), "");
  EXPECT_EQ(store.GetString("K", "dflt"), "v");
  EXPECT_EQ(store.Entries().size(), 1u);
}

TEST(KeyValueStoreSetters, FormatsAndModifiedRules) {
  KeyValueStore store;
  std::string text = "text";
  struct Case {
    const char* key;
    std::function<bool(KeyValueStore&)> add;
    const char* stored;
  } cases[] = {
      {"I", [](KeyValueStore& s) { return s.Add("I", -3); }, "-3"},
      {"D", [](KeyValueStore& s) { return s.Add("D", 2.5); }, "2.500000"},
      {"S", [](KeyValueStore& s) { return s.Add("S", "word"); }, "word"},
      {"T", [&](KeyValueStore& s) { return s.Add("T", text); }, "text"},
      {"N", [](KeyValueStore& s) { return s.Add("N", static_cast<const char*>(nullptr)); }, ""},
      {"H", [](KeyValueStore& s) { return s.AddHex("H", 0x40F5849A); }, "0x40F5849A"},
  };
  for (const Case& c : cases) {
    KeyValueStore fresh;
    EXPECT_TRUE(c.add(fresh));
    EXPECT_STREQ(fresh[c.key], c.stored) << c.key;
    // Storing "" under an absent key changes no text.
    EXPECT_EQ(fresh.IsModified(), *c.stored != '\0') << c.key;
  }
  KeyValueStore hex;
  hex.AddHex("H", 0x40F5849A);
  EXPECT_EQ(hex.GetHex("H", 0), 0x40F5849Au);
  EXPECT_FALSE(store.Add(nullptr, 1));
}

TEST(KeyValueStoreSetters, SameValueTwiceAddsNoNewUpdatedTime) {
  TempDir dir;
  std::string path = dir / "attrs";
  WriteFile(path, "K=5\nUPDATED_TIME=earlier\n");
  KeyValueStore store(path.c_str());
  EXPECT_TRUE(store.Add("K", 5));
  EXPECT_FALSE(store.IsModified());
  store.Save(nullptr);
  EXPECT_EQ(ReadFile(path), "K=5\nUPDATED_TIME=earlier\n");

  EXPECT_TRUE(store.Add("K", 6));
  EXPECT_TRUE(store.IsModified());
  EXPECT_TRUE(store.Add("K", 6));
  EXPECT_EQ(store.Save(nullptr), tErrNone);
  EXPECT_FALSE(store.IsModified());
  KeyValueStore reread(path.c_str());
  EXPECT_EQ(reread.GetString("K", nullptr), "6");
  EXPECT_EQ(reread.GetString("UPDATED_TIME", nullptr).size(), 24u);
}

TEST(KeyValueStoreSetters, MergeClearAndCopy) {
  KeyValueStore a, b;
  a.Add("A", "1");
  a.Add("K", "a");
  b.Add("K", "b");
  b.Add("B", "2");
  TempDir dir;
  b.Save((dir / "b").c_str());
  ASSERT_FALSE(b.IsModified());
  b.Add(a);
  EXPECT_TRUE(b.IsModified());
  EXPECT_EQ(b.GetString("K", nullptr), "a");
  EXPECT_EQ(b.GetString("A", nullptr), "1");
  EXPECT_EQ(b.GetString("B", nullptr), "2");

  KeyValueStore copy(b);
  EXPECT_EQ(copy.Entries(), b.Entries());
  EXPECT_EQ(copy.Path(), b.Path());
  EXPECT_TRUE(copy.IsModified());

  b.Save(nullptr);
  b.Clear();
  EXPECT_TRUE(b.Entries().empty());
  EXPECT_TRUE(b.IsModified());
  KeyValueStore assigned;
  assigned = b;
  EXPECT_TRUE(assigned.IsModified());
  EXPECT_EQ(assigned.Path(), dir / "b");
}

TEST(KeyValueStoreSave, DefaultFileNameInCurrentDirectory) {
  TempDir dir;
  std::string previous = std::filesystem::current_path();
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  qntest::LogCapture log(DEBUG_Attributes);
  KeyValueStore store;
  store.Add("LATEST_TRANSFER", "12.bird");
  tErr result = store.Save(nullptr);
  ASSERT_EQ(chdir(previous.c_str()), 0);
  EXPECT_EQ(result, tErrNone);
  EXPECT_TRUE(log.Contains("Attibutes: no filename given for attributes, using default:[.settings]\n"));
  KeyValueStore reread((dir / ".settings").c_str());
  EXPECT_EQ(reread.GetString("LATEST_TRANSFER", nullptr), "12.bird");
  EXPECT_EQ(store.Path(), ".settings");
}

TEST(KeyValueStoreSave, FailedWriteKeepsOldFileAndEntries) {
  TempDir dir;
  std::string path = dir / ".settings";
  std::string old = "CREATED_TIME=Mon Jan  5 10:00:00 2026\nLATEST_DOWNLOAD=12.bird\n";
  WriteFile(path, old);
  KeyValueStore store(path.c_str());
  for (const char* key : {"N1", "N2", "N3", "N4", "N5"}) store.Add(key, std::string(1500, 'n'));
  qntest::LogCapture log(DEBUG_Attributes);
  tErr result;
  {
    qntest::FileSizeLimit limit(4096);  // the new text fails part-way
    result = store.Save(nullptr);
  }
  EXPECT_NE(result, tErrNone);
  EXPECT_EQ(ReadFile(path), old);
  EXPECT_TRUE(store.IsModified());
  EXPECT_EQ(store.GetString("N5", nullptr).size(), 1500u);
  EXPECT_TRUE(log.Contains("Attibutes: Error - cannot open attributes file for writting: '" + path));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1)
      << "temporary file left behind";

  // The entries survive in memory, so a later save can still succeed.
  EXPECT_EQ(store.Save(nullptr), tErrNone);
  EXPECT_EQ(KeyValueStore(path.c_str()).GetString("N5", nullptr).size(), 1500u);
}

TEST(KeyValueStoreSave, UnwritableDirectoryIsReported) {
  TempDir dir;
  KeyValueStore store;
  store.Add("K", "v");
  EXPECT_NE(store.Save((dir / "missing/.settings").c_str()), tErrNone);
  EXPECT_TRUE(store.IsModified());
}

}  // namespace
