// Console display: messages to stdout and stderr; bar and spinner on a
// terminal only, so redirected output never fills with carriage returns.
#pragma once

#include "app/UpdaterDisplayInterface.h"

class CLI_Display : public UpdaterDisplayInterface {
 public:
  CLI_Display();  // makes stdout and stderr unbuffered

  void display_progress(bool active) override;
  void update_progress(double fraction, const char* label) override;
  void update_spinner(bool active, const char* label) override;
  void info_message(const char* text) override;
  void error_message(const char* text) override;
};
