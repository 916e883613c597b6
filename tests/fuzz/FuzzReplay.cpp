// Stands in for libFuzzer's driver in ordinary builds: feeds every file of
// the given corpus directories to the target, then variants of each (every
// prefix length, and single-byte changes), so a smoke run reaches the
// parser's edges without a fuzzing engine.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void sRun(const std::string& input) {
  // A copy of exactly the input's size, so reads past the end are caught.
  std::vector<uint8_t> bytes(input.begin(), input.end());
  LLVMFuzzerTestOneInput(bytes.empty() ? nullptr : bytes.data(), bytes.size());
}

void sVariants(const std::string& seed) {
  sRun(seed);
  for (size_t n = 0; n < seed.size(); ++n) sRun(seed.substr(0, n));
  static const char replacements[] = {'\0', '\n', '\r', ';', '.', '=', '\xff', 'A'};
  for (size_t i = 0; i < seed.size(); ++i) {
    for (char r : replacements) {
      std::string v = seed;
      v[i] = r;
      sRun(v);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  size_t files = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
      std::ifstream in(entry.path(), std::ios::binary);
      sVariants(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
      ++files;
    }
  }
  if (files == 0) {
    fprintf(stderr, "no corpus files\n");
    return 1;
  }
  printf("replayed %zu corpus files with their variants\n", files);
  return 0;
}
