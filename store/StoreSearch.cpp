#include "store/StoreSearch.h"

#include <string.h>

#include "app/Log.h"

namespace {

struct _search {
  const char* name;
  tDirectoryListData* found;
  bool matched;
};

bool _visit(const tDirectoryListData* entry, void* user) {
  _search* search = static_cast<_search*>(user);
  Log::log(DEBUG_Updater, "%s([%s], %d, %d) searching for %s\n", "_find_item", entry->path,
           entry->isDirectory, int(entry->size), search->name);
  if (strcmp(entry->name, search->name) != 0) return true;
  search->matched = true;
  if (search->found) {
    *search->found = *entry;
    search->found->name = search->found->path + (entry->name - entry->path);
  }
  return false;
}

}  // namespace

bool _find_item(const std::string& directory, const char* name, tDirectoryListData* found) {
  _search search = {name ? name : "", found, false};
  if (name && *name) tDirectory_List(directory.c_str(), _visit, &search);
  Log::log(DEBUG_Updater, "UpdaterStore: FindDevice %s %s.\n",
           search.matched ? "Found" : "Not Found", search.name);
  return search.matched;
}
