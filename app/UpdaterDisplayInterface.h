// Abstract console display: messages, a progress bar and a spinner.
#pragma once

class UpdaterDisplayInterface {
 public:
  enum Level { Info = 0, Error = 1 };

  virtual void display_progress(bool active) = 0;
  virtual void update_progress(double fraction, const char* label) = 0;
  virtual void update_spinner(bool active, const char* label) = 0;
  virtual void info_message(const char* text) = 0;
  virtual void error_message(const char* text) = 0;

  // Formats (cut at 2047 characters) and passes the text to error_message for
  // Error, else info_message. Callers never end a message with a newline.
  void message(Level level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void mute_messages(bool mute) { messagesMuted = mute; }

 protected:
  ~UpdaterDisplayInterface() = default;

  bool messagesMuted = false;
};
