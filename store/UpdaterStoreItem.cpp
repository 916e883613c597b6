#include "store/UpdaterStoreItem.h"

#include <stdexcept>

#include "app/Log.h"
#include "store/StoreSearch.h"
#include "store/tDirectory.h"
#include "store/tFile.h"

UpdaterStoreItem::UpdaterStoreItem() : kind(STORE_ITEM_NONE) {}

UpdaterStoreItem::UpdaterStoreItem(const char* base, const char* entryName, store_item_t itemKind)
    : basePath(base ? base : ""), name(entryName ? entryName : ""), kind(itemKind) {
  attributes.Load(BuildPath(basePath.c_str(), name.c_str(), KeyValueStore::DEFAULT_FILENAME,
                            static_cast<const char*>(nullptr))
                      .c_str());
}

std::string UpdaterStoreItem::FullPath() const {
  return BuildPath(basePath.c_str(), name.c_str(), static_cast<const char*>(nullptr));
}

bool UpdaterStoreItem::IsValid() { return !basePath.empty() && !name.empty(); }

bool UpdaterStoreItem::FileExists(const char* fileName) {
  return _find_item(FullPath(), fileName, nullptr);
}

tErr UpdaterStoreItem::WriteFile(const char* fileName, const uint8_t* data, size_t size) {
  if (!data || !fileName) return tErrNotFound;
  std::string target = BuildPath(FullPath().c_str(), fileName, static_cast<const char*>(nullptr));
  tErr result = tFile_Replace(target.c_str(), data, size);
  if (result != tErrNone)
    Log::log(DEBUG_Updater, "UpdaterStore: writing %s failed (%d).\n", target.c_str(), int(result));
  return result == tErrPermission ? tErrNotFound : result;
}

BirdFile UpdaterStoreItem::ReadBirdFile(const char* fileName) {
  std::string target =
      BuildPath(FullPath().c_str(), fileName ? fileName : "", static_cast<const char*>(nullptr));
  if (!BirdFile::VerifyFile(target.c_str())) throw std::runtime_error("Invalid bird " + target);
  return BirdFile(target.c_str());
}
