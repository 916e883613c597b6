// The version line and the banner line, both at the Info level.
#pragma once

#include "app/UpdaterDisplayInterface.h"

void _display_app_version(UpdaterDisplayInterface& display);
void _display_app_banner(UpdaterDisplayInterface& display);
