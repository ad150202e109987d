// Writes JPEG files for tests, benchmarks and the shipped samples: a real
// marker chain (SOI, APP0 JFIF, APP1 Exif with an embedded thumbnail that
// has its own SOF0, comments, DQT, the frame header, DHT, SOS, entropy-coded
// data, EOI) for a flat grey single-component image of any size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <vector>

namespace ostrel::test {

enum class FrameKind {
  baseline,     // SOF0
  extended,     // SOF1
  progressive,  // SOF2
  lossless,     // SOF3
  none,         // no frame header at all
};

struct JpegWriterOptions {
  int width = 640;   // X, 0..65535
  int height = 480;  // Y, 0..65535
  FrameKind frame = FrameKind::baseline;
  bool soi = true;
  bool jfif = true;  // APP0
  // APP1 Exif whose thumbnail is itself a JPEG with an SOF0 frame. The
  // thumbnail is padded with a comment to `thumbnail_size` bytes when that
  // is larger than it needs (at most about 65 000).
  bool exif = true;
  int thumbnail_width = 160;
  int thumbnail_height = 120;
  std::size_t thumbnail_size = 0;
  // One COM segment per entry, with that many bytes of body (at most 65533),
  // between the APPn segments and DQT: a way to move the frame header.
  std::vector<std::size_t> comments;
  bool tables = true;  // DQT before the frame header, DHT after it
  bool scan = true;    // SOS and entropy-coded data
  // Bytes of entropy-coded data; `WHOLE_IMAGE` gives the real scan when that
  // is at most 64 KiB and 64 bytes otherwise (the file is then not
  // decodable, which the probe never notices).
  static constexpr std::size_t WHOLE_IMAGE =
      std::numeric_limits<std::size_t>::max();
  std::size_t entropy_size = WHOLE_IMAGE;
  bool eoi = true;
  // Bytes of other data before the stream; the first of them is never 0xFF.
  std::size_t leading_bytes = 0;
  // The file cut to this many bytes when it is longer.
  std::size_t truncate_at = std::numeric_limits<std::size_t>::max();
};

struct JpegImage {
  std::vector<unsigned char> bytes;
  // Offset of the main frame header's marker, counted before any cut;
  // NPOS without one.
  static constexpr std::size_t NPOS = std::numeric_limits<std::size_t>::max();
  std::size_t frame_offset = NPOS;
};

JpegImage make_jpeg(const JpegWriterOptions& options);

// Writes bytes to a file, replacing it; throws std::runtime_error on failure.
void write_file(const std::filesystem::path& path,
                const std::vector<unsigned char>& bytes);

}  // namespace ostrel::test
