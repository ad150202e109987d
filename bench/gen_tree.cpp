// Writes a deterministic tree of JPEG files for the benchmarks:
//   gen_tree [--small] [--flat N | --ymd | --random-depth | --camera]
//            DIR COUNT [SEED]
// COUNT files in directories of about 500, up to four levels deep. Of them
// 5 % carry other names (.png, .txt). The JPEG files are 87 % baseline and
// 10 % progressive, with Exif thumbnails of several KiB, 2 % without a
// baseline or progressive frame, and 1 % truncated. Extensions come in mixed
// case. Files are about 30 KiB; with --small about 600 bytes (no Exif, a short
// scan), so that a tree of 10^6 files fits in a few GB. Other shapes:
//   --flat N        the root holds only directories, each of N files, all of
//                   them JPEG files, as the share benchmark wants a known
//                   count of each;
//   --ymd           a photo library by date: 10 years of 12 months of 8 days
//                   (1,091 directories with the root), the files in the days,
//                   5 to 15 a day for 10^4;
//   --random-depth  COUNT / 4 directories, each added below a directory
//                   drawn at random from those less than 4 deep, so branches
//                   end 1 to 4 levels down; files in all but the root, 0 to
//                   8 a directory for 10^4;
//   --camera        files as cameras write them, in directories of 100: the
//                   frame header behind an Exif block holding a thumbnail of
//                   10 to 60 KiB, then a few KiB of scan, and the rest of a
//                   file of 1 to 8 MiB left a hole, so that thousands fit in
//                   memory (each takes 20 to 80 KiB of it on tmpfs).
// The same options, COUNT and SEED always give the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/jpeg_writer.h"

namespace {

namespace fs = std::filesystem;
using ostrel::test::FrameKind;
using ostrel::test::JpegWriterOptions;

constexpr std::uint64_t FILES_PER_DIRECTORY = 500;
constexpr int MAX_DEPTH = 4;
constexpr std::uint64_t CAMERA_FILES_PER_DIRECTORY = 100;

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

// The name of a directory's `i`th subdirectory.
std::string subdirectory_name(std::uint64_t i) {
  char name[32];
  std::snprintf(name, sizeof name, i % 3 == 2 ? "Album %02u" : "set-%02u",
                static_cast<unsigned>(i));
  return name;
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
        next.push_back(parent / subdirectory_name(i));
        names.push_back(next.back());
      }
    level = std::move(next);
  }
  return names;
}

// Year/Month/Day: 10 years, 12 months each, 8 days of each month drawn at
// random; the day directories, in name order.
std::vector<fs::path> date_directory_names(Random& random) {
  std::vector<fs::path> names;
  for (unsigned year = 2014; year < 2024; ++year)
    for (unsigned month = 1; month <= 12; ++month) {
      std::set<unsigned> days;
      while (days.size() < 8)
        days.insert(static_cast<unsigned>(random.between(1, 28)));
      for (unsigned day : days) {
        char name[32];
        std::snprintf(name, sizeof name, "%u/%02u/%02u", year, month, day);
        names.push_back(name);
      }
    }
  return names;
}

// `count` directories, each added below one drawn from the root and the
// directories less than `MAX_DEPTH` deep: a tree of random shape whose
// branches end at depths 1 to `MAX_DEPTH`.
std::vector<fs::path> random_directory_names(Random& random,
                                             std::uint64_t count) {
  struct Directory {
    fs::path path;
    int depth;
    std::uint64_t children;
  };
  std::vector<Directory> all{{fs::path(), 0, 0}};
  std::vector<std::size_t> parents{0};  // those that may get a subdirectory
  while (all.size() <= count) {
    Directory& parent = all[parents[random.next() % parents.size()]];
    Directory child{parent.path / subdirectory_name(parent.children++),
                    parent.depth + 1, 0};
    if (child.depth < MAX_DEPTH) parents.push_back(all.size());
    all.push_back(std::move(child));
  }
  std::vector<fs::path> names;
  for (std::size_t i = 1; i < all.size(); ++i) names.push_back(all[i].path);
  return names;
}

// COUNT / PER directories in the root, each for PER files, named from
// `format` and their number.
std::vector<fs::path> flat_directory_names(std::uint64_t count,
                                           std::uint64_t per,
                                           const char* format = "dir-%04llu",
                                           unsigned long long first = 0) {
  std::vector<fs::path> names;
  for (std::uint64_t i = 0; i < (count + per - 1) / per; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, format, first + i);
    names.push_back(name);
  }
  return names;
}

// `count` files shared out over `directories` in random proportions, each
// directory's weight drawn from 0 to 3 (`empty_allowed`) or 1 to 3.
std::vector<std::uint64_t> random_shares(Random& random, std::uint64_t count,
                                         std::size_t directories,
                                         bool empty_allowed) {
  std::vector<std::uint64_t> weights(directories);
  std::uint64_t sum = 0;
  for (std::uint64_t& w : weights) sum += w = random.between(!empty_allowed, 3);
  if (sum == 0) weights.back() = sum = 1;
  std::vector<std::uint64_t> shares;
  std::uint64_t before = 0, given = 0;
  for (std::uint64_t w : weights) {
    before += w;
    std::uint64_t upto = count * before / sum;
    shares.push_back(upto - given);
    given = upto;
  }
  return shares;
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

// A camera's file: the Exif block and its thumbnail, the tables and the
// frame header, a few KiB of scan (bytes other than 0xFF, so no marker),
// then a hole up to the end of image marker that closes a file of 1 to 8
// MiB.
void write_camera_file(const fs::path& path, Random& random) {
  static const Dimensions dimensions[] = {
      {6000, 4000}, {4000, 6000}, {4032, 3024}, {5472, 3648}, {8256, 5504}};
  const Dimensions& size = dimensions[random.next() % std::size(dimensions)];
  JpegWriterOptions options;
  options.width = size.width;
  options.height = size.height;
  options.jfif = false;  // cameras write Exif alone
  options.thumbnail_size = random.between(10 * 1024, 60 * 1024);
  options.entropy_size = random.between(2 * 1024, 8 * 1024);
  options.eoi = false;
  std::vector<unsigned char> bytes = make_jpeg(options).bytes;
  for (std::size_t i = bytes.size() - options.entropy_size; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>(random.next() % 0xFF);
  ostrel::test::write_file(path, bytes);
  std::uintmax_t length = random.between(1 << 20, 8 << 20);
  fs::resize_file(path, length - 2);
  std::ofstream file(path, std::ios::binary | std::ios::app);
  file.write("\xFF\xD9", 2);
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

enum class Shape { deep, flat, dates, random_depth, camera };

// `per` is the files per directory of a flat tree.
void write_tree(const fs::path& root, std::uint64_t count, std::uint64_t seed,
                const Sizes& sizes, Shape shape, std::uint64_t per) {
  Random random(seed);
  std::vector<fs::path> directories;
  std::vector<std::uint64_t> shares;
  switch (shape) {
    case Shape::deep:
      directories = directory_names((count + FILES_PER_DIRECTORY - 1) /
                                    FILES_PER_DIRECTORY);
      break;
    case Shape::flat:
      directories = flat_directory_names(count, per);
      break;
    case Shape::dates:
      directories = date_directory_names(random);
      shares = random_shares(random, count, directories.size(), false);
      break;
    case Shape::random_depth:
      directories = random_directory_names(random, std::max<std::uint64_t>(1, count / 4));
      shares = random_shares(random, count, directories.size(), true);
      break;
    case Shape::camera:
      directories = flat_directory_names(count, CAMERA_FILES_PER_DIRECTORY,
                                         "%lluCAMRA", 100);
      break;
  }
  // Only JPEG files in the trees whose count of them the benchmarks know.
  bool others = shape != Shape::flat && shape != Shape::camera;
  std::uint64_t written = 0;
  for (std::size_t d = 0; d < directories.size(); ++d) {
    fs::path directory = root / directories[d];
    fs::create_directories(directory);
    std::uint64_t here = shares.empty()
                             ? (count - written) / (directories.size() - d)
                             : shares[d];
    for (std::uint64_t i = 0; i < here; ++i, ++written) {
      char stem[32];
      std::snprintf(stem, sizeof stem,
                    shape == Shape::camera ? "DSC%05llu" : "IMG_%06llu",
                    static_cast<unsigned long long>(written));
      if (others && random.percent(5)) {
        const char* ext = random.percent(50) ? ".png" : ".txt";
        ostrel::test::write_file(directory / (std::string(stem) + ext),
                                 other_file(random, sizes));
        continue;
      }
      const char* ext = jpeg_extension(random);
      if (shape == Shape::camera) {
        write_camera_file(directory / (std::string(stem) + ext), random);
        continue;
      }
      ostrel::test::write_file(directory / (std::string(stem) + ext),
                               make_jpeg(jpeg_options(random, sizes)).bytes);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool small = false;
  Shape shape = Shape::deep;
  std::uint64_t per = 0;
  std::vector<const char*> positional;
  bool valid = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--small") {
      small = true;
    } else if (arg == "--flat" && i + 1 < argc) {
      shape = Shape::flat;
      per = std::strtoull(argv[++i], nullptr, 10);
      valid &= per > 0;
    } else if (arg == "--ymd") {
      shape = Shape::dates;
    } else if (arg == "--random-depth") {
      shape = Shape::random_depth;
    } else if (arg == "--camera") {
      shape = Shape::camera;
    } else {
      positional.push_back(argv[i]);
    }
  }
  if (!valid || positional.size() < 2 || positional.size() > 3) {
    std::fprintf(stderr,
                 "usage: gen_tree [--small] [--flat N | --ymd | --random-depth "
                 "| --camera] DIR COUNT [SEED]\n");
    return 2;
  }
  std::uint64_t count = std::strtoull(positional[1], nullptr, 10);
  std::uint64_t seed =
      positional.size() > 2 ? std::strtoull(positional[2], nullptr, 10) : 1;
  try {
    write_tree(positional[0], count, seed,
               small ? SMALL_SIZES : ORDINARY_SIZES, shape, per);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gen_tree: %s\n", e.what());
    return 1;
  }
  return 0;
}
