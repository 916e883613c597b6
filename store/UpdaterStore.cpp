#include "store/UpdaterStore.h"

#include <stdio.h>
#include <sys/stat.h>

#include <stdexcept>

#include "app/Log.h"
#include "store/StoreSearch.h"
#include "store/tDirectory.h"

namespace {

void _ensure_directory(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    tErr err = tDirectory_Ensure(path.c_str(), 0755);
    if (err != tErrNone)
      throw std::runtime_error("UpdaterStore: Could not create directory " + path + " error " +
                               std::to_string(int(err)));
    if (!tDirectory_Exists(path.c_str()))
      throw std::runtime_error("UpdaterStore: " + path + " exists and is a file");
    Log::log(DEBUG_Updater, "UpdaterStore: Created directory [%s].\n", path.c_str());
  } else if (!S_ISDIR(st.st_mode)) {
    throw std::runtime_error("UpdaterStore: " + path + " exists and is a file");
  } else {
    Log::log(DEBUG_Updater, "UpdaterStore: [%s] already exists.\n", path.c_str());
  }
}

std::string _serial_name(uint32_t serial) {
  char name[9];
  snprintf(name, sizeof name, "%08X", serial);
  return name;
}

}  // namespace

UpdaterStore::UpdaterStore(const char* path) : basePath(path ? path : "") {
  _ensure_directory(basePath);
}

const char* UpdaterStore::BasePath() { return basePath.c_str(); }

UpdaterStoreItem UpdaterStore::AddDevice(uint32_t serial) {
  return AddDevice(_serial_name(serial).c_str());
}

UpdaterStoreItem UpdaterStore::AddDevice(const char* name) {
  _ensure_directory(BuildPath(basePath.c_str(), name ? name : "", static_cast<const char*>(nullptr)));
  return UpdaterStoreItem(basePath.c_str(), name, STORE_ITEM_DIRECTORY);
}

bool UpdaterStore::FindDevice(uint32_t serial, UpdaterStoreItem* item) {
  return FindDevice(_serial_name(serial).c_str(), item);
}

bool UpdaterStore::FindDevice(const char* name, UpdaterStoreItem* item) {
  tDirectoryListData entry;
  if (!_find_item(basePath, name, &entry)) return false;
  if (item) {
    size_t cut = size_t(entry.name - entry.path) - 1;  // the separator before the name
    std::string base(entry.path, cut == 0 ? 1 : cut);
    *item = UpdaterStoreItem(base.c_str(), entry.name,
                             entry.isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE);
  }
  return true;
}

namespace {

struct _listing {
  std::string directory;
  std::vector<UpdaterStoreItem>* items;
};

bool _add_build(const tDirectoryListData* entry, void* user) {
  if (entry->name[0] == '.') return true;
  _listing* listing = static_cast<_listing*>(user);
  Log::log(DEBUG_Updater, "%s([%s], %d, %d)\n", "_find_items", entry->path, entry->isDirectory,
           int(entry->size));
  listing->items->emplace_back(listing->directory.c_str(), entry->name,
                               entry->isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE);
  return true;
}

}  // namespace

bool UpdaterStore::FindLocalBuilds(uint32_t serial, std::vector<UpdaterStoreItem>& items) {
  UpdaterStoreItem device;
  if (!FindDevice(serial, &device)) return true;
  _listing listing = {device.FullPath(), &items};
  tDirectory_List(listing.directory.c_str(), _add_build, &listing);
  return true;
}

std::unique_ptr<UpdaterStore> _createUpdaterStore(UpdaterDisplayInterface& display,
                                                  const std::string& storeDirectory,
                                                  const char* caller) {
  try {
    return std::unique_ptr<UpdaterStore>(new UpdaterStore(storeDirectory.c_str()));
  } catch (const std::runtime_error& e) {
    display.message(UpdaterDisplayInterface::Error,
                    "Failed to Create UpdaterStore in: %s - Exception: %s", caller ? caller : "",
                    e.what());
    return nullptr;
  }
}
