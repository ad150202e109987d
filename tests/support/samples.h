// The sample images shipped in samples/: their names, contents and what the
// probe reports for them.
#pragma once

#include <string>
#include <vector>

namespace ostrel::test {

struct Sample {
  std::string name;  // relative to samples/, with '/' between parts
  std::vector<unsigned char> bytes;
  bool has_frame = true;
  int width = 0;
  int height = 0;
};

std::vector<Sample> shipped_samples();

}  // namespace ostrel::test
