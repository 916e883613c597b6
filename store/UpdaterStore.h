// The local firmware store: one directory per device under the storage
// directory (layout and keys in UpdaterStoreItem.h). Commands open a fresh
// store each time they need one, through _createUpdaterStore.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "app/UpdaterDisplayInterface.h"
#include "store/UpdaterStoreItem.h"

class UpdaterStore {
 public:
  // Ensures basePath is a directory (created with mode 0755 when missing).
  // Throws std::runtime_error when it cannot be created or is a file.
  explicit UpdaterStore(const char* basePath);

  const char* BasePath();

  // Ensures the device directory basePath/name (may throw like the
  // constructor) and returns its item, with the attribute file loaded or
  // created. The serial form names the directory "%08X".
  UpdaterStoreItem AddDevice(uint32_t serial);
  UpdaterStoreItem AddDevice(const char* name);

  // Looks for an entry of the base directory named exactly `name` ("%08X"
  // for the serial form; the match is case-sensitive). On success fills
  // *item when item is not null: basePath, name, STORE_ITEM_DIRECTORY or
  // STORE_ITEM_FILE, and the attributes of its .settings. A missing device
  // is no error: false.
  bool FindDevice(uint32_t serial, UpdaterStoreItem* item);
  bool FindDevice(const char* name, UpdaterStoreItem* item);

  // Appends one item per entry of the device's directory whose name does
  // not begin with '.' (builds, but also any stray file), with basePath =
  // the device directory. An unknown device adds nothing. Always true.
  bool FindLocalBuilds(uint32_t serial, std::vector<UpdaterStoreItem>& items);

 private:
  std::string basePath;
};

// The commands' way to open the store: on failure it reports
// "Failed to Create UpdaterStore in: <caller> - Exception: <reason>" as an
// error message and returns an empty pointer.
std::unique_ptr<UpdaterStore> _createUpdaterStore(UpdaterDisplayInterface& display,
                                                  const std::string& storeDirectory,
                                                  const char* caller);
