// Writes a deterministic tree of JPEG files for the benchmarks:
//   gen_tree [--small] [--flat N] DIR COUNT [SEED]
// COUNT files in directories of about 500, up to four levels deep. Of them
// 5 % carry other names (.png, .txt). With --flat N the root holds only
// directories, each of N files, all of them JPEG files, as the share
// benchmark wants a known count of each. The JPEG files are 87 % baseline and
// 10 % progressive, with Exif thumbnails of several KiB, 2 % without a
// baseline or progressive frame, and 1 % truncated. Extensions come in mixed
// case. Files are about 30 KiB; with --small about 600 bytes (no Exif, a short
// scan), so that a tree of 10^6 files fits in a few GB. The same options,
// COUNT and SEED always give the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/jpeg_writer.h"

namespace {

namespace fs = std::filesystem;
using ostrel::test::FrameKind;
using ostrel::test::JpegWriterOptions;

constexpr std::uint64_t FILES_PER_DIRECTORY = 500;
constexpr int MAX_DEPTH = 4;

// Byte counts, drawn from these ranges, that make the files' sizes.
struct Range {
  std::uint64_t low;
  std::uint64_t high;
};
struct Sizes {
  Range other;        // files of other names
  Range thumbnail;    // the Exif thumbnail, 0 for none
  Range entropy;      // the scan
  Range early_cut;    // a truncated file cut before its frame header...
  Range late_cut;     // ...or after it
};
constexpr Sizes ORDINARY_SIZES{
    {200, 3000}, {1500, 12000}, {8000, 40000}, {0, 1500}, {13000, 50000}};
constexpr Sizes SMALL_SIZES{
    {100, 1000}, {0, 0}, {64, 800}, {0, 150}, {700, 1500}};

// splitmix64: the same numbers on every platform and library.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [low, high].
  std::uint64_t between(std::uint64_t low, std::uint64_t high) {
    return low + next() % (high - low + 1);
  }
  bool percent(unsigned p) { return next() % 100 < p; }

 private:
  std::uint64_t state_;
};

// The smallest fan-out whose tree of `MAX_DEPTH` levels has room for
// `needed` directories.
std::uint64_t fan_out_for(std::uint64_t needed) {
  for (std::uint64_t fan = 2;; ++fan) {
    std::uint64_t total = 0, level = 1;
    for (int depth = 1; depth <= MAX_DEPTH; ++depth) total += level *= fan;
    if (total >= needed) return fan;
  }
}

// The first `count` directories of the tree, breadth first, so every level
// above the deepest is full.
std::vector<fs::path> directory_names(std::uint64_t count) {
  std::uint64_t fan = fan_out_for(count);
  std::vector<fs::path> names;
  std::vector<fs::path> level{fs::path()};
  while (names.size() < count) {
    std::vector<fs::path> next;
    for (const fs::path& parent : level)
      for (std::uint64_t i = 0; i < fan && names.size() < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, i % 3 == 2 ? "Album %02u" : "set-%02u",
                      static_cast<unsigned>(i));
        next.push_back(parent / name);
        names.push_back(next.back());
      }
    level = std::move(next);
  }
  return names;
}

// COUNT / PER directories in the root, each for PER files.
std::vector<fs::path> flat_directory_names(std::uint64_t count,
                                           std::uint64_t per) {
  std::vector<fs::path> names;
  for (std::uint64_t i = 0; i < (count + per - 1) / per; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "dir-%04llu",
                  static_cast<unsigned long long>(i));
    names.push_back(name);
  }
  return names;
}

const char* jpeg_extension(Random& random) {
  std::uint64_t roll = random.next() % 20;
  return roll < 15 ? ".jpg" : roll < 19 ? ".JPG" : ".Jpg";
}

std::uint64_t draw(Random& random, Range range) {
  return random.between(range.low, range.high);
}

std::vector<unsigned char> other_file(Random& random, const Sizes& sizes) {
  std::vector<unsigned char> bytes(draw(random, sizes.other));
  for (unsigned char& b : bytes) b = static_cast<unsigned char>(random.next());
  return bytes;
}

struct Dimensions {
  int width;
  int height;
};

JpegWriterOptions jpeg_options(Random& random, const Sizes& sizes) {
  static const Dimensions dimensions[] = {
      {4032, 3024}, {3024, 4032}, {6000, 4000}, {1920, 1080},
      {4000, 3000}, {2048, 1536}, {640, 480},   {5472, 3648}};
  const Dimensions& size = dimensions[random.next() % std::size(dimensions)];
  JpegWriterOptions options;
  options.width = size.width;
  options.height = size.height;
  options.thumbnail_size = draw(random, sizes.thumbnail);
  options.exif = options.thumbnail_size > 0;
  options.entropy_size = draw(random, sizes.entropy);
  unsigned kind = static_cast<unsigned>(random.next() % 100);
  if (kind < 10) {
    options.frame = FrameKind::progressive;
  } else if (kind < 12) {
    options.frame = kind == 10 ? FrameKind::extended : FrameKind::none;
  } else if (kind < 13) {
    // Cut before the frame header or somewhere after it.
    options.truncate_at = random.percent(50) ? draw(random, sizes.early_cut)
                                             : draw(random, sizes.late_cut);
  }
  return options;
}

// `flat` is the files per directory of a flat tree, 0 for the deep one.
void write_tree(const fs::path& root, std::uint64_t count, std::uint64_t seed,
                const Sizes& sizes, std::uint64_t flat) {
  Random random(seed);
  std::vector<fs::path> directories =
      flat ? flat_directory_names(count, flat)
           : directory_names((count + FILES_PER_DIRECTORY - 1) /
                             FILES_PER_DIRECTORY);
  std::uint64_t written = 0;
  for (std::size_t d = 0; d < directories.size(); ++d) {
    fs::path directory = root / directories[d];
    fs::create_directories(directory);
    std::uint64_t here = (count - written) / (directories.size() - d);
    for (std::uint64_t i = 0; i < here; ++i, ++written) {
      char stem[32];
      std::snprintf(stem, sizeof stem, "IMG_%06llu",
                    static_cast<unsigned long long>(written));
      if (!flat && random.percent(5)) {
        const char* ext = random.percent(50) ? ".png" : ".txt";
        ostrel::test::write_file(directory / (std::string(stem) + ext),
                                 other_file(random, sizes));
        continue;
      }
      const char* ext = jpeg_extension(random);
      ostrel::test::write_file(directory / (std::string(stem) + ext),
                               make_jpeg(jpeg_options(random, sizes)).bytes);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool small = argc > 1 && std::string(argv[1]) == "--small";
  argc -= small, argv += small;
  bool flat_given = argc > 2 && std::string(argv[1]) == "--flat";
  std::uint64_t flat = flat_given ? std::strtoull(argv[2], nullptr, 10) : 0;
  argc -= 2 * flat_given, argv += 2 * flat_given;
  if (argc < 3 || argc > 4 || (flat_given && flat == 0)) {
    std::fprintf(stderr,
                 "usage: gen_tree [--small] [--flat N] DIR COUNT [SEED]\n");
    return 2;
  }
  std::uint64_t count = std::strtoull(argv[2], nullptr, 10);
  std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
  try {
    write_tree(argv[1], count, seed, small ? SMALL_SIZES : ORDINARY_SIZES,
               flat);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gen_tree: %s\n", e.what());
    return 1;
  }
  return 0;
}
