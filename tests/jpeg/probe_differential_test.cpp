// The windowed probe against a plain model of the walk: a byte stream with
// seeks, 2-byte reads and tell, as the probe's results are defined. Seeded
// random mutations of real marker chains; several window sizes each.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "jpeg/probe.h"
#include "recording_file.h"
#include "support/jpeg_writer.h"

namespace ostrel {
namespace {

using test::FrameKind;
using test::JpegWriterOptions;
using Bytes = std::vector<unsigned char>;

class Stream {
 public:
  explicit Stream(const Bytes& bytes) : bytes_(bytes) {}
  void seek(std::uint64_t position) { position_ = position; }
  void skip(std::uint64_t count) { position_ += count; }
  std::uint64_t tell() const { return position_; }
  int read2(unsigned char* out) {
    int count = 0;
    while (count < 2 && position_ < bytes_.size()) out[count++] = bytes_[position_++];
    return count;
  }

 private:
  const Bytes& bytes_;
  std::uint64_t position_ = 0;
};

std::int64_t model_scan(Stream& stream, std::uint64_t start, unsigned code) {
  stream.seek(start);
  unsigned char pair[2];
  for (;;) {
    if (stream.read2(pair) < 2) return -1;
    unsigned marker = pair[0] << 8 | pair[1];
    if (marker == code) return static_cast<std::int64_t>(stream.tell() - 2);
    if (marker == 0xFFD8 || marker == 0xFFD9) continue;
    if (pair[0] != 0xFF) return -1;
    if (stream.read2(pair) < 2) return -1;
    unsigned length = pair[0] << 8 | pair[1];
    if (length < 2) return -1;
    stream.skip(length - 2);
  }
}

struct ModelResult {
  int walk = 0;  // which of the four walks found the frame; 0: none
  int width = 0;
  int height = 0;
};

ModelResult model_probe(const Bytes& bytes) {
  Stream stream(bytes);
  const std::array<std::pair<unsigned, std::uint64_t>, 4> walks{
      {{0xFFC0, 0}, {0xFFC0, 128}, {0xFFC2, 0}, {0xFFC2, 128}}};
  ModelResult result;
  std::int64_t frame = -1;
  while (frame < 0 && result.walk < 4) {
    auto [code, start] = walks[result.walk++];
    frame = model_scan(stream, start, code);
  }
  if (frame < 0) return {};
  stream.seek(static_cast<std::uint64_t>(frame) + 5);
  unsigned char field[2];
  if (stream.read2(field) == 2) result.height = field[0] << 8 | field[1];
  if (stream.read2(field) == 2) result.width = field[0] << 8 | field[1];
  return result;
}

class Mutator {
 public:
  explicit Mutator(unsigned seed) : random_(seed) {}

  unsigned below(unsigned limit) { return limit ? random_() % limit : 0; }
  bool chance(unsigned percent) { return below(100) < percent; }

  JpegWriterOptions options() {
    static constexpr FrameKind KINDS[] = {
        FrameKind::baseline, FrameKind::progressive, FrameKind::extended,
        FrameKind::lossless, FrameKind::none};
    JpegWriterOptions options;
    options.width = static_cast<int>(chance(30) ? below(65536) : below(3000));
    options.height = static_cast<int>(chance(30) ? below(65536) : below(3000));
    options.frame = KINDS[below(5)];
    options.soi = chance(90);
    options.jfif = chance(70);
    options.exif = chance(50);
    options.thumbnail_size = chance(50) ? below(3000) : 0;
    options.thumbnail_width = static_cast<int>(below(300));
    options.thumbnail_height = static_cast<int>(below(300));
    for (unsigned n = below(3); n > 0; --n) options.comments.push_back(below(400));
    options.tables = chance(90);
    options.scan = chance(90);
    options.entropy_size = below(200);
    options.eoi = chance(80);
    unsigned lead = below(10);
    options.leading_bytes = lead < 7 ? 0 : lead < 9 ? 128 : below(300);
    return options;
  }

  void mutate(Bytes& bytes, std::size_t frame_offset) {
    if (bytes.empty()) return;
    std::size_t at = position(bytes.size(), frame_offset);
    switch (below(7)) {
      case 0: bytes[at] = static_cast<unsigned char>(below(256)); break;
      case 1: bytes[at] = 0xFF; break;
      case 2: {
        static constexpr unsigned char CODES[] = {0xC0, 0xC2, 0xD8, 0xD9,
                                                  0x00, 0xFF, 0xC1, 0xDA};
        put_pair(bytes, at, 0xFF00 | CODES[below(8)]);
        break;
      }
      case 3: {
        const unsigned lengths[] = {0, 1, 2, 3, below(65536), 0xFFFF, below(64)};
        put_pair(bytes, at, lengths[below(7)]);
        break;
      }
      case 4: bytes.resize(at); break;
      case 5:
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                     1 + below(3), static_cast<unsigned char>(below(256)));
        break;
      default:
        bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                    bytes.begin() + static_cast<std::ptrdiff_t>(
                                        std::min<std::size_t>(bytes.size(), at + 1 + below(3))));
        break;
    }
  }

 private:
  // Mostly anywhere, often near the second start or the frame header.
  std::size_t position(std::size_t size, std::size_t frame_offset) {
    std::size_t at = below(static_cast<unsigned>(size));
    unsigned where = below(4);
    if (where == 1) at = 120 + below(20);
    if (where == 2 && frame_offset != test::JpegImage::NPOS)
      at = frame_offset + below(24) - std::min<std::size_t>(frame_offset, 12);
    return std::min(at, size - 1);
  }

  static void put_pair(Bytes& bytes, std::size_t at, unsigned value) {
    bytes[at] = static_cast<unsigned char>(value >> 8);
    if (at + 1 < bytes.size()) bytes[at + 1] = static_cast<unsigned char>(value);
  }

  std::mt19937 random_;
};

TEST(ProbeDifferential, WindowedProbeAgreesWithTheStreamModel) {
  constexpr unsigned CASES = 4000;
  const std::size_t windows[] = {2, 3, 5, 64, 300, PROBE_WINDOW_SIZE};
  std::array<unsigned, 5> decided_by{};
  for (unsigned seed = 0; seed < CASES; ++seed) {
    Mutator mutator(seed);
    test::JpegImage image = test::make_jpeg(mutator.options());
    for (unsigned n = mutator.below(5); n > 0; --n)
      mutator.mutate(image.bytes, image.frame_offset);
    ModelResult expected = model_probe(image.bytes);
    ++decided_by[expected.walk];
    for (std::size_t window : windows) {
      RecordingFile source(image.bytes);
      WindowedByteSource windowed(source, window);
      JpegInfo info{-1, -1, 0};
      bool found = find_dimensions(windowed, info);
      ASSERT_EQ(found, expected.walk != 0) << "seed " << seed << " window " << window;
      if (!found) continue;
      ASSERT_EQ(info.width, expected.width) << "seed " << seed << " window " << window;
      ASSERT_EQ(info.height, expected.height) << "seed " << seed << " window " << window;
    }
  }
  // The mutations reach every outcome: no frame, and each of the four walks.
  for (unsigned walk = 0; walk < decided_by.size(); ++walk)
    EXPECT_GT(decided_by[walk], CASES / 100) << "walk " << walk;
}

}  // namespace
}  // namespace ostrel
