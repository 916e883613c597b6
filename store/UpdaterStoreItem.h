// One entry of the local firmware store: a device directory (or a file)
// with its attribute store.
//
// Store layout under the storage directory:
//   SSSSSSSS/            one directory per device, the serial number as "%08X"
//   SSSSSSSS/.settings   the device's attribute file (KeyValueStore)
//   SSSSSSSS/NNN.bird    a downloaded build, NNN its decimal build number
// Names beginning with '.' inside a device directory are not builds.
//
// Keys of a device's attribute file: CREATED_TIME, UPDATED_TIME (kept by
// KeyValueStore), LATEST_DOWNLOAD (NNN.bird of the last download),
// LAST_DOWNLOAD_DATE, LATEST_TRANSFER (the BIRD file last written to the
// device), LAST_TRANSFER_DATE. Dates are KeyValueStore::CurrentTime() text;
// GetInt of an NNN.bird value gives the build number.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "sdk/core/tErr.h"
#include "store/BirdFile.h"
#include "store/KeyValueStore.h"

enum store_item_t {
  STORE_ITEM_FILE = 0,
  STORE_ITEM_DIRECTORY = 1,
  STORE_ITEM_NONE = 2,
};

class UpdaterStoreItem {
 public:
  // The default item: no paths, STORE_ITEM_NONE, attributes bound to no file.
  UpdaterStoreItem();
  // Loads (creating when missing) the attributes of basePath/name/.settings.
  UpdaterStoreItem(const char* basePath, const char* name, store_item_t kind);

  // Whether the item's directory basePath/name holds an entry named exactly
  // fileName (logged like UpdaterStore::FindDevice).
  bool FileExists(const char* fileName);

  // Replaces basePath/name/fileName with `size` bytes of data, atomically: a
  // failed or interrupted write leaves any previous file as it was.
  // tErrNotFound for null data or a file that cannot be created; tErrIO
  // when writing, flushing or renaming fails; tErrNone when written.
  tErr WriteFile(const char* fileName, const uint8_t* data, size_t size);

  // Loads basePath/name/fileName. Throws std::runtime_error "Invalid bird "
  // + the full path when the file is missing or lacks a BIRD header, and
  // "Failed to load bird data" when it does not load.
  BirdFile ReadBirdFile(const char* fileName);

  // True when basePath and name are both set.
  bool IsValid();

  // basePath/name.
  std::string FullPath() const;

  std::string basePath;  // the directory holding the entry
  std::string name;      // the entry's own name
  store_item_t kind;
  KeyValueStore attributes;
};
