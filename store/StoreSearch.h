// The entry search shared by the store and its items.
#pragma once

#include <string>

#include "store/tDirectory.h"

// Lists `directory` (logging every entry under DEBUG_Updater) until an entry
// named exactly `name` turns up, and copies it into *found when found is not
// null. An entry's own name is compared, never its full path, so a storage
// path that happens to contain the name cannot match. Logs the outcome as
// "UpdaterStore: FindDevice Found|Not Found <name>."
bool _find_item(const std::string& directory, const char* name, tDirectoryListData* found);
