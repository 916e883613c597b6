// A display for tests: keeps every message and counts the progress calls.
#pragma once

#include <string>
#include <vector>

#include "app/UpdaterDisplayInterface.h"

namespace qntest {

class RecordingDisplay : public UpdaterDisplayInterface {
 public:
  void display_progress(bool active) override { progressPhases.push_back(active); }
  void update_progress(double fraction, const char*) override { fractions.push_back(fraction); }
  void update_spinner(bool active, const char* label) override {
    if (active)
      spinnerLabels.push_back(label ? label : "");
    else
      ++spinnerErased;
  }
  void info_message(const char* text) override {
    infos.push_back(text);
    lines.push_back(text);
  }
  void error_message(const char* text) override {
    errors.push_back(text);
    lines.push_back(std::string("E:") + text);
  }

  // Whether some message (info, or error with "E:" before it) is exactly `text`.
  bool Said(const std::string& text) const {
    for (const auto& l : lines)
      if (l == text) return true;
    return false;
  }
  // Spinner frames drawn with `label`.
  int SpinnerFrames(const std::string& label) const {
    int n = 0;
    for (const auto& l : spinnerLabels) n += l == label;
    return n;
  }

  std::vector<std::string> infos, errors;
  std::vector<std::string> lines;  // in order; errors carry "E:" in front
  std::vector<bool> progressPhases;
  std::vector<double> fractions;
  std::vector<std::string> spinnerLabels;
  int spinnerErased = 0;
};

}  // namespace qntest
