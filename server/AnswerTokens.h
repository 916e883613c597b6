// Cuts an answer body the way the query protocol reads it: each call skips
// any run of delimiters, then returns the text up to the next delimiter and
// consumes that one delimiter. Empty fields therefore vanish.
#pragma once

#include <string>

class AnswerTokens {
 public:
  explicit AnswerTokens(const std::string& text) : text(text) {}

  bool Next(const char* delimiters, std::string& token) {
    size_t start = text.find_first_not_of(delimiters, pos);
    if (start == std::string::npos) {
      pos = text.size();
      return false;
    }
    size_t end = text.find_first_of(delimiters, start);
    if (end == std::string::npos) end = text.size();
    token = text.substr(start, end - start);
    pos = end < text.size() ? end + 1 : end;
    return true;
  }

 private:
  const std::string& text;
  size_t pos = 0;
};
