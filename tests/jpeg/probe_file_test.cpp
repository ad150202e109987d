// The probe over files made by the JPEG writer: which frame header each file
// yields, or which failure; and over real files, what the disk refuses.
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "jpeg/probe.h"
#include "support/probe_path.h"
#include "support/jpeg_writer.h"
#include "support/memory_fs.h"
#include "support/samples.h"
#include "support/temp_dir.h"

namespace ostrel {
namespace {

using test::FrameKind;
using test::JpegWriterOptions;
using test::make_jpeg;
using Bytes = std::vector<unsigned char>;

Bytes raw(std::initializer_list<unsigned char> bytes) { return Bytes(bytes); }

Bytes operator+(Bytes left, const Bytes& right) {
  left.insert(left.end(), right.begin(), right.end());
  return left;
}

// A frame header: marker, Lf, P, Y, X and one component.
Bytes frame(unsigned code, unsigned y, unsigned x) {
  return raw({0xFF, static_cast<unsigned char>(code), 0x00, 0x0B, 0x08,
              static_cast<unsigned char>(y >> 8), static_cast<unsigned char>(y),
              static_cast<unsigned char>(x >> 8), static_cast<unsigned char>(x),
              0x01, 0x01, 0x11, 0x00});
}

Bytes jpeg(JpegWriterOptions options) { return make_jpeg(options).bytes; }

JpegWriterOptions sized(int width, int height, FrameKind kind = FrameKind::baseline) {
  JpegWriterOptions options;
  options.width = width;
  options.height = height;
  options.frame = kind;
  return options;
}

JpegWriterOptions plain(int width, int height, FrameKind kind = FrameKind::baseline) {
  JpegWriterOptions options = sized(width, height, kind);
  options.exif = false;  // keeps the byte at offset 128 inside DQT, not 0xFF
  return options;
}

// A file ending `keep` bytes after the frame header's marker.
Bytes cut_after_frame(JpegWriterOptions options, std::size_t keep) {
  test::JpegImage image = make_jpeg(options);
  image.bytes.resize(image.frame_offset + keep);
  return image.bytes;
}

// A progressive stream from offset 0 whose comment holds, at offset 128, a
// baseline frame header of another size.
Bytes sof2_at_0_and_sof0_at_128() {
  JpegWriterOptions options = plain(800, 600, FrameKind::progressive);
  options.jfif = false;
  options.comments = {200};
  Bytes bytes = jpeg(options);
  Bytes inner = frame(0xC0, 222, 111);
  std::copy(inner.begin(), inner.end(), bytes.begin() + 128);
  return bytes;
}

struct Case {
  const char* name;
  Bytes bytes;
  ProbeStatus status;
  int width = 0;
  int height = 0;
};

std::vector<Case> frame_found_cases() {
  JpegWriterOptions big_thumbnail = sized(1024, 768);
  big_thumbnail.thumbnail_size = 8000;
  JpegWriterOptions after_128 = sized(300, 200);
  after_128.leading_bytes = 128;
  JpegWriterOptions progressive_after_128 = plain(300, 200, FrameKind::progressive);
  progressive_after_128.leading_bytes = 128;
  JpegWriterOptions bare_frame = plain(17, 9);
  bare_frame.soi = bare_frame.jfif = bare_frame.tables = false;
  const auto ok = ProbeStatus::ok;
  return {
      {"baseline with thumbnail", jpeg(sized(640, 480)), ok, 640, 480},
      {"progressive only", jpeg(plain(800, 600, FrameKind::progressive)), ok, 800, 600},
      {"thumbnail pushing the frame past 4 KiB", jpeg(big_thumbnail), ok, 1024, 768},
      {"stream after 128 other bytes", jpeg(after_128), ok, 300, 200},
      {"progressive after 128 other bytes", jpeg(progressive_after_128), ok, 300, 200},
      {"FF C0 at offset 0", jpeg(bare_frame), ok, 17, 9},
      {"SOF0 from 128 before SOF2 from 0", sof2_at_0_and_sof0_at_128(), ok, 111, 222},
      {"EOI does not end the walk", raw({0xFF, 0xD8, 0xFF, 0xD9}) + frame(0xC0, 5, 6), ok, 6, 5},
      {"FF 00 taken as a marker with a length",
       raw({0xFF, 0xD8, 0xFF, 0x00, 0x00, 0x02}) + frame(0xC0, 5, 6), ok, 6, 5},
      {"RST0 taken as a marker with a length",
       raw({0xFF, 0xD8, 0xFF, 0xD0, 0x00, 0x03, 0x00}) + frame(0xC0, 5, 6), ok, 6, 5},
      {"length 2: empty body", raw({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02}) + frame(0xC2, 5, 6), ok, 6, 5},
  };
}

std::vector<Case> frame_not_found_cases() {
  JpegWriterOptions no_frame = plain(64, 64, FrameKind::none);
  JpegWriterOptions header_only = plain(64, 64);
  header_only.truncate_at = 20;  // SOI and APP0
  const auto none = ProbeStatus::no_marker;
  const Bytes soi = raw({0xFF, 0xD8});
  return {
      {"empty file", {}, none},
      {"one byte", raw({0xFF}), none},
      {"short file without a frame", jpeg(header_only), none},
      {"no frame header", jpeg(no_frame), none},
      {"length 0", soi + raw({0xFF, 0xE0, 0x00, 0x00}) + frame(0xC0, 5, 6), none},
      {"length 1", soi + raw({0xFF, 0xE0, 0x00, 0x01}) + frame(0xC0, 5, 6), none},
      {"length past the end", soi + raw({0xFF, 0xE0, 0x10, 0x00}) + frame(0xC0, 5, 6), none},
      {"fill bytes before the frame", soi + raw({0xFF}) + frame(0xC0, 5, 6), none},
      {"no search for the next FF", soi + raw({0x00}) + frame(0xC0, 5, 6), none},
      {"frame only after the scan",
       soi + raw({0xFF, 0xDA, 0x00, 0x02, 0x00, 0x00}) + frame(0xC0, 5, 6), none},
      {"SOF1 only", jpeg(plain(64, 48, FrameKind::extended)), none},
      {"SOF3 only", jpeg(plain(64, 48, FrameKind::lossless)), none},
  };
}

std::vector<Case> value_cases() {
  JpegWriterOptions options = plain(1234, 4321);
  const auto ok = ProbeStatus::ok;
  return {
      {"Y = 0", jpeg(plain(640, 0)), ok, 640, 0},
      {"X and Y = 65535", jpeg(plain(65535, 65535)), ok, 65535, 65535},
      {"X = 0", jpeg(plain(0, 7)), ok, 0, 7},
      {"ends after the marker", cut_after_frame(options, 2), ok, 0, 0},
      {"ends before Y", cut_after_frame(options, 5), ok, 0, 0},
      {"ends inside Y", cut_after_frame(options, 6), ok, 0, 0},
      {"ends after Y", cut_after_frame(options, 7), ok, 0, 4321},
      {"ends inside X", cut_after_frame(options, 8), ok, 0, 4321},
      {"ends after X", cut_after_frame(options, 9), ok, 1234, 4321},
  };
}

void expect_cases(const std::vector<Case>& cases) {
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    test::MemoryFileSystem fs;
    fs.add_file("image.jpg", row.bytes);
    ProbeResult result = test::probe_path(fs, "image.jpg");
    EXPECT_EQ(result.status, row.status);
    if (row.status != ProbeStatus::ok) continue;
    EXPECT_EQ(result.info.width, row.width);
    EXPECT_EQ(result.info.height, row.height);
    EXPECT_EQ(result.info.byte_size, row.bytes.size());
  }
}

TEST(ProbeFile, FindsTheFrame) { expect_cases(frame_found_cases()); }
TEST(ProbeFile, FindsNoFrame) { expect_cases(frame_not_found_cases()); }
TEST(ProbeFile, ReadsTheDimensions) { expect_cases(value_cases()); }

TEST(ProbeFile, CannotOpenADirectoryOrAMissingFile) {
  test::TempDir dir;
  std::filesystem::create_directory(dir / "folder.jpg");
  for (const char* name : {"folder.jpg", "missing.jpg"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(test::probe_path(disk_file_system(), (dir / name).string()).status,
              ProbeStatus::cannot_open);
  }
}

TEST(Samples, MatchTheGeneratorAndProbe) {
  for (const auto& sample : test::shipped_samples()) {
    SCOPED_TRACE(sample.name);
    std::string path = std::string(OSTREL_SAMPLES_DIR) + "/" + sample.name;
    std::ifstream file(path, std::ios::binary);
    Bytes shipped((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(shipped, sample.bytes) << "rerun make_samples";
    ProbeResult result = test::probe_path(disk_file_system(), path);
    EXPECT_EQ(result.status,
              sample.has_frame ? ProbeStatus::ok : ProbeStatus::no_marker);
    EXPECT_EQ(result.info.width, sample.has_frame ? sample.width : 0);
    EXPECT_EQ(result.info.height, sample.has_frame ? sample.height : 0);
  }
}

}  // namespace
}  // namespace ostrel
