#include "app/AppVersion.h"

#include "sdk/core/tVersion.h"

void _display_app_version(UpdaterDisplayInterface& display) {
  display.message(UpdaterDisplayInterface::Info, "%s (Version: %s %s)", "Updater",
                  tVersion_GetString(), __DATE__);
}

void _display_app_banner(UpdaterDisplayInterface& display) {
  display.message(UpdaterDisplayInterface::Info,
                  "Quillnode module maintenance: discover modules, fetch their firmware builds, "
                  "update and recover them.");
}
