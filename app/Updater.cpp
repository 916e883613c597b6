#include "app/Updater.h"

Updater::Updater(const char* serverURL, const char* storeDirectory_,
                 UpdaterDisplayInterface& display_)
    : updateServerURL(serverURL ? serverURL : ""),
      storeDirectory(storeDirectory_ ? storeDirectory_ : ""),
      display(display_) {}

Updater::~Updater() = default;
