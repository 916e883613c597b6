// -L: the builds already in the store, with the version each file names.
#include "app/Log.h"
#include "app/Updater.h"
#include "store/BirdFile.h"
#include "store/UpdaterStore.h"

std::map<std::string, std::string> Updater::Get_BuildListLocal(uint32_t serialNumber) {
  std::map<std::string, std::string> builds;
  std::unique_ptr<UpdaterStore> store =
      _createUpdaterStore(display, storeDirectory, "Get_BuildListLocal");
  if (!store) return builds;
  std::vector<UpdaterStoreItem> items;
  store->FindLocalBuilds(serialNumber, items);
  for (UpdaterStoreItem& item : items) {
    const std::string key = item.name.substr(0, item.name.find(".bird"));
    std::string version;
    const std::string path = item.basePath + "/" + item.name;
    if (item.IsValid() && BirdFile::VerifyFile(path.c_str())) {
      try {
        BirdFile file(path.c_str());
        std::string found = file.GetVersion();
        if (!found.empty()) {
          version = found;
          Log::log(DEBUG_Updater, "Found VERSION in birdfile: %s - Version: \n", path.c_str());
        }
      } catch (const std::runtime_error&) {
        // A file that does not load keeps its empty version.
      }
    } else {
      Log::log(DEBUG_Updater, "Could NOT file VERSION in birdfile: %s\n", path.c_str());
    }
    builds.emplace(key, version);  // the first entry of a key wins
  }
  return builds;
}
