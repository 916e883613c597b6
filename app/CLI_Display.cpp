#include "app/CLI_Display.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace {

const char sBar[] = "=====================================================================";
constexpr int sBarWidth = 69;
static_assert(sizeof(sBar) - 1 == sBarWidth, "the bar string is the full width");

bool sOnTerminal() { return isatty(fileno(stdout)) == 1; }

void sEraseLine() { printf("\r%*s\r", 88, " "); }

}  // namespace

CLI_Display::CLI_Display() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  setvbuf(stderr, nullptr, _IONBF, 0);
}

void CLI_Display::display_progress(bool active) {
  if (!sOnTerminal() || active) return;
  sEraseLine();
}

void CLI_Display::update_progress(double fraction, const char* label) {
  if (!sOnTerminal()) return;
  int width = label ? sBarWidth - int(strlen(label)) - 4 : sBarWidth;
  int filled = int(width * fraction);
  int percent = int(100 * fraction);
  // Out-of-range fractions or long labels must not read past the bar.
  if (filled < 0) filled = 0;
  if (filled > sBarWidth) filled = sBarWidth;
  // A full bar leaves no room for padding; a negative width would pad on the
  // other side instead.
  int pad = width - filled - 1;
  if (pad < 0) pad = 0;
  if (label)
    printf("\r (%s) [%.*s>%*s] (%3d%% ) ", label, filled, sBar, pad, "", percent);
  else
    printf("\r[%.*s>%*s] (%3d%% ) ", filled, sBar, pad, "", percent);
}

void CLI_Display::update_spinner(bool active, const char* label) {
  static unsigned char counter = 0;
  static const char* const dots[8] = {".", "..", "...", "....", ".....", "....", "...", ".."};
  if (!sOnTerminal()) return;
  if (!active) {
    sEraseLine();
    return;
  }
  if (label)
    printf("\r (%s) %s      \r", label, dots[counter]);
  else
    printf("\r %s      \r", dots[counter]);
  counter = (counter + 1) % 8;
}

void CLI_Display::info_message(const char* text) { printf("%s\n", text); }

void CLI_Display::error_message(const char* text) { fprintf(stderr, "%s\n", text); }
