#include "store/UpdaterStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/store/FileSizeLimit.h"
#include "tests/store/LogCapture.h"
#include "tests/support/Process.h"
#include "tests/support/RecordingDisplay.h"
#include "tools/BirdWriter.h"

namespace {

namespace fs = std::filesystem;
using qntest::ReadFile;
using qntest::TempDir;
using qntest::WriteFile;

using qntest::RecordingDisplay;

std::vector<std::string> Names(const std::vector<UpdaterStoreItem>& items) {
  std::vector<std::string> names;
  for (const auto& item : items) names.push_back(item.name);
  std::sort(names.begin(), names.end());
  return names;
}

std::string BirdBytes(uint32_t build) {
  BirdWriter::Bytes b = BirdWriter()
                            .AddDescription({std::to_string(build), "2.1.0", 0x40F5849A, "HubQuad2"})
                            .AddFirmware(0, BirdWriter::Bytes(64, 0x11))
                            .Build();
  return std::string(b.begin(), b.end());
}

TEST(UpdaterStore, CreatesItsRoot) {
  TempDir dir;
  std::string root = dir / "a/b/updater";
  qntest::LogCapture log(DEBUG_Updater);
  UpdaterStore store(root.c_str());
  EXPECT_STREQ(store.BasePath(), root.c_str());
  struct stat st;
  ASSERT_EQ(stat(root.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_TRUE(log.Contains("UpdaterStore: Created directory [" + root + "].\n"));
  UpdaterStore again(root.c_str());
  EXPECT_TRUE(log.Contains("UpdaterStore: [" + root + "] already exists.\n"));
}

TEST(UpdaterStore, RootThatCannotBeADirectory) {
  TempDir dir;
  WriteFile(dir / "file", "");
  struct Case {
    std::string root;
    std::string message;
  } cases[] = {
      {dir / "file", "UpdaterStore: " + (dir / "file") + " exists and is a file"},
      {dir / "file/updater",
       "UpdaterStore: Could not create directory " + (dir / "file/updater") + " error 12"},
  };
  for (const Case& c : cases) {
    try {
      UpdaterStore store(c.root.c_str());
      ADD_FAILURE() << "no exception for " << c.root;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    RecordingDisplay display;
    EXPECT_EQ(_createUpdaterStore(display, c.root, "Download_Firmware"), nullptr);
    ASSERT_EQ(display.errors.size(), 1u);
    EXPECT_EQ(display.errors[0],
              "Failed to Create UpdaterStore in: Download_Firmware - Exception: " + c.message);
  }
  RecordingDisplay display;
  auto store = _createUpdaterStore(display, dir / "fine", "Update_Firmware");
  ASSERT_NE(store, nullptr);
  EXPECT_STREQ(store->BasePath(), (dir / "fine").c_str());
  EXPECT_TRUE(display.errors.empty());
}

TEST(UpdaterStore, AddDeviceLaysOutTheDirectory) {
  TempDir dir;
  UpdaterStore store(dir.path().c_str());
  UpdaterStoreItem item = store.AddDevice(0x40F5849Au);
  EXPECT_EQ(item.basePath, dir.path());
  EXPECT_EQ(item.name, "40F5849A");
  EXPECT_EQ(item.kind, STORE_ITEM_DIRECTORY);
  EXPECT_TRUE(item.IsValid());
  EXPECT_TRUE(fs::is_directory(dir / "40F5849A"));
  KeyValueStore settings((dir / "40F5849A/.settings").c_str());
  EXPECT_EQ(settings.GetString("CREATED_TIME", nullptr).size(), 24u);
  EXPECT_EQ(settings.GetString("UPDATED_TIME", nullptr).size(), 24u);

  // What a download then records.
  ASSERT_EQ(item.WriteFile("1234.bird", reinterpret_cast<const uint8_t*>("x"), 1), tErrNone);
  item.attributes.Add("LATEST_DOWNLOAD", "1234.bird");
  item.attributes.Add("LAST_DOWNLOAD_DATE", KeyValueStore::CurrentTime());
  EXPECT_EQ(item.attributes.Save(nullptr), tErrNone);
  UpdaterStoreItem found;
  ASSERT_TRUE(store.FindDevice(0x40F5849Au, &found));
  EXPECT_EQ(found.attributes.GetInt("LATEST_DOWNLOAD", 0), 1234);
  EXPECT_EQ(found.attributes.Entries().size(), 4u);

  // Adding it again keeps what it has.
  UpdaterStoreItem again = store.AddDevice("40F5849A");
  EXPECT_EQ(again.attributes.GetString("LATEST_DOWNLOAD", nullptr), "1234.bird");
}

TEST(UpdaterStore, FindDeviceMatchesTheExactName) {
  struct Case {
    const char* name;
    std::vector<std::string> directories;
    std::vector<std::string> files;
    bool found;
    store_item_t kind;
  } cases[] = {
      {"own directory", {"40F5849A"}, {}, true, STORE_ITEM_DIRECTORY},
      {"lower case is another device", {"40f5849a"}, {}, false, STORE_ITEM_NONE},
      {"longer name containing it", {"140F5849A", "40F5849A0"}, {"40F5849A.bird"}, false, STORE_ITEM_NONE},
      {"a file of that name", {}, {"40F5849A"}, true, STORE_ITEM_FILE},
      {"among others", {"12345678", "40F5849A", "ABCDEF01"}, {".settings"}, true, STORE_ITEM_DIRECTORY},
      {"empty store", {}, {}, false, STORE_ITEM_NONE},
  };
  for (const Case& c : cases) {
    TempDir dir;
    for (const auto& d : c.directories) fs::create_directory(dir / d);
    for (const auto& f : c.files) WriteFile(dir / f, "");
    UpdaterStore store(dir.path().c_str());
    UpdaterStoreItem item;
    EXPECT_EQ(store.FindDevice(0x40F5849Au, &item), c.found) << c.name;
    EXPECT_EQ(item.kind, c.kind) << c.name;
    if (c.found) {
      EXPECT_EQ(item.basePath, dir.path()) << c.name;
      EXPECT_EQ(item.name, "40F5849A") << c.name;
    }
    EXPECT_EQ(store.FindDevice(0x40F5849Au, nullptr), c.found) << c.name;
  }
}

TEST(UpdaterStore, StoragePathContainingTheSerialNumber) {
  TempDir dir;
  std::string root = dir / "40F5849A/updater";
  UpdaterStore store(root.c_str());
  store.AddDevice(0x12345678u);
  UpdaterStoreItem item;
  EXPECT_FALSE(store.FindDevice(0x40F5849Au, &item));
  EXPECT_FALSE(item.IsValid());
  EXPECT_TRUE(store.FindDevice(0x12345678u, &item));
  EXPECT_EQ(item.basePath, root);
  std::vector<UpdaterStoreItem> builds;
  EXPECT_TRUE(store.FindLocalBuilds(0x40F5849Au, builds));
  EXPECT_TRUE(builds.empty());
}

TEST(UpdaterStore, SearchIsLogged) {
  TempDir dir;
  UpdaterStore store(dir.path().c_str());
  store.AddDevice(0x40F5849Au);
  qntest::LogCapture log(DEBUG_Updater);
  store.FindDevice(0x40F5849Au, nullptr);
  store.FindDevice(0x11111111u, nullptr);
  EXPECT_TRUE(log.Contains("_find_item([" + (dir / "40F5849A") + "], 1, "));
  EXPECT_TRUE(log.Contains(") searching for 40F5849A\n"));
  EXPECT_TRUE(log.Contains("UpdaterStore: FindDevice Found 40F5849A.\n"));
  EXPECT_TRUE(log.Contains("UpdaterStore: FindDevice Not Found 11111111.\n"));
}

TEST(UpdaterStore, FindLocalBuildsSkipsDotNames) {
  TempDir dir;
  UpdaterStore store(dir.path().c_str());
  UpdaterStoreItem device = store.AddDevice(0x40F5849Au);
  WriteFile(dir / "40F5849A/1234.bird", BirdBytes(1234));
  WriteFile(dir / "40F5849A/notes.txt", "stray");
  WriteFile(dir / "40F5849A/.1300.bird.0a1b2c3d", "half a download");
  fs::create_directory(dir / "40F5849A/old");
  WriteFile(dir / "40F5849A/old/.settings", "NOTE=kept by hand\n");
  std::vector<UpdaterStoreItem> items;
  qntest::LogCapture log(DEBUG_Updater);
  EXPECT_TRUE(store.FindLocalBuilds(0x40F5849Au, items));
  EXPECT_EQ(Names(items), (std::vector<std::string>{"1234.bird", "notes.txt", "old"}));
  for (auto& item : items) {
    EXPECT_EQ(item.basePath, dir / "40F5849A");
    EXPECT_EQ(item.kind, item.name == "old" ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE) << item.name;
    EXPECT_TRUE(item.IsValid());
    // Each item's attributes come from its own name/.settings.
    EXPECT_EQ(item.attributes.GetString("NOTE", nullptr), item.name == "old" ? "kept by hand" : "");
  }
  EXPECT_TRUE(log.Contains("_find_items([" + (dir / "40F5849A/1234.bird") + "], 0, "));
  std::vector<UpdaterStoreItem> none;
  EXPECT_TRUE(store.FindLocalBuilds(0x99999999u, none));
  EXPECT_TRUE(none.empty());
}

TEST(UpdaterStoreItem, FileExistsMatchesTheExactName) {
  TempDir dir;
  UpdaterStore store(dir.path().c_str());
  UpdaterStoreItem device = store.AddDevice(0x40F5849Au);
  WriteFile(dir / "40F5849A/123.bird", "");
  EXPECT_TRUE(device.FileExists("123.bird"));
  EXPECT_FALSE(device.FileExists("23.bird"));
  EXPECT_FALSE(device.FileExists("123.bir"));
  EXPECT_FALSE(device.FileExists(""));
  EXPECT_TRUE(device.FileExists(".settings"));
}

TEST(UpdaterStoreItem, DefaultItem) {
  UpdaterStoreItem item;
  EXPECT_EQ(item.kind, STORE_ITEM_NONE);
  EXPECT_FALSE(item.IsValid());
  EXPECT_TRUE(item.attributes.Entries().empty());
  EXPECT_TRUE(item.attributes.Path().empty());
  UpdaterStoreItem half;
  half.basePath = "/x";
  EXPECT_FALSE(half.IsValid());
}

TEST(UpdaterStoreItem, CopiesCarryTheirAttributes) {
  TempDir dir;
  UpdaterStore store(dir.path().c_str());
  UpdaterStoreItem item = store.AddDevice(0x40F5849Au);
  item.attributes.Add("LATEST_TRANSFER", "12.bird");
  UpdaterStoreItem copy = item;
  EXPECT_EQ(copy.attributes.GetString("LATEST_TRANSFER", nullptr), "12.bird");
  EXPECT_EQ(copy.attributes.Path(), item.attributes.Path());
  EXPECT_EQ(copy.name, "40F5849A");
}

TEST(UpdaterStoreItem, WriteFile) {
  TempDir dir;
  UpdaterStore store(dir.path().c_str());
  UpdaterStoreItem device = store.AddDevice(0x40F5849Au);
  const uint8_t first[] = {1, 2, 3}, second[] = {9};
  EXPECT_EQ(device.WriteFile("7.bird", first, sizeof first), tErrNone);
  EXPECT_EQ(ReadFile(dir / "40F5849A/7.bird"), std::string("\x01\x02\x03"));
  EXPECT_EQ(device.WriteFile("7.bird", second, sizeof second), tErrNone);
  EXPECT_EQ(ReadFile(dir / "40F5849A/7.bird"), std::string("\x09"));
  EXPECT_EQ(device.WriteFile("8.bird", nullptr, 4), tErrNotFound);
  EXPECT_FALSE(fs::exists(dir / "40F5849A/8.bird"));

  UpdaterStoreItem gone(dir.path().c_str(), "DEADBEEF", STORE_ITEM_DIRECTORY);  // never added
  fs::remove_all(dir / "DEADBEEF");
  EXPECT_EQ(gone.WriteFile("1.bird", first, sizeof first), tErrNotFound);
}

TEST(UpdaterStoreItem, InterruptedWriteKeepsThePreviousFile) {
  TempDir dir;
  UpdaterStore store(dir.path().c_str());
  UpdaterStoreItem device = store.AddDevice(0x40F5849Au);
  std::string old = BirdBytes(1234);
  WriteFile(dir / "40F5849A/1234.bird", old);
  std::vector<uint8_t> bigger(64 * 1024, 0x5A);
  tErr result;
  {
    qntest::FileSizeLimit limit(8 * 1024);
    result = device.WriteFile("1234.bird", bigger.data(), bigger.size());
  }
  EXPECT_EQ(result, tErrIO);
  EXPECT_EQ(ReadFile(dir / "40F5849A/1234.bird"), old);
  std::vector<UpdaterStoreItem> items;
  store.FindLocalBuilds(0x40F5849Au, items);
  EXPECT_EQ(Names(items), std::vector<std::string>{"1234.bird"});
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "40F5849A"), fs::directory_iterator()), 2)
      << "only .settings and 1234.bird";

  // A directory standing where the file should go refuses the rename.
  fs::create_directory(dir / "40F5849A/99.bird");
  WriteFile(dir / "40F5849A/99.bird/keep", "kept");
  EXPECT_EQ(device.WriteFile("99.bird", bigger.data(), 16), tErrIO);
  EXPECT_EQ(ReadFile(dir / "40F5849A/99.bird/keep"), "kept");
}

TEST(UpdaterStoreItem, ReadBirdFile) {
  TempDir dir;
  UpdaterStore store(dir.path().c_str());
  UpdaterStoreItem device = store.AddDevice(0x40F5849Au);
  WriteFile(dir / "40F5849A/1234.bird", BirdBytes(1234));
  WriteFile(dir / "40F5849A/notes.txt", "not a bird file");
  std::string damaged = BirdBytes(1);
  damaged.resize(damaged.size() / 2);
  WriteFile(dir / "40F5849A/1.bird", damaged);

  BirdFile file = device.ReadBirdFile("1234.bird");
  EXPECT_EQ(file.GetBuild(), 1234u);
  EXPECT_EQ(file.path, dir / "40F5849A/1234.bird");

  struct Case {
    const char* name;
    std::string message;
  } cases[] = {
      {"notes.txt", "Invalid bird " + (dir / "40F5849A/notes.txt")},
      {"missing.bird", "Invalid bird " + (dir / "40F5849A/missing.bird")},
      {"1.bird", "Failed to load bird data"},
  };
  for (const Case& c : cases) {
    try {
      device.ReadBirdFile(c.name);
      ADD_FAILURE() << c.name << " loaded";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

}  // namespace
