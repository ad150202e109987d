#include "support/temp_dir.h"

#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace ostrel::test {

TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path candidate =
        base / ("ostrel-test-" + std::to_string(random() % 1000000000));
    // create_directory is false, not an error, when the name is taken.
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace ostrel::test
