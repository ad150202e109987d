// Regenerates the sample images: make_samples [directory, default "samples"].
#include <cstdio>
#include <exception>
#include <filesystem>

#include "support/jpeg_writer.h"
#include "support/samples.h"

int main(int argc, char** argv) {
  std::filesystem::path directory = argc > 1 ? argv[1] : "samples";
  try {
    for (const auto& sample : ostrel::test::shipped_samples()) {
      std::filesystem::path path = directory / sample.name;
      std::filesystem::create_directories(path.parent_path());
      ostrel::test::write_file(path, sample.bytes);
      std::printf("%s %zu\n", path.string().c_str(), sample.bytes.size());
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_samples: %s\n", error.what());
    return 1;
  }
  return 0;
}
