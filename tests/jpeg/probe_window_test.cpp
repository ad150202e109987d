// How the probe reads: one window from the start of the file, another only
// where the walk leaves what was read, at the position it jumps to.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "jpeg/probe.h"
#include "recording_file.h"
#include "support/jpeg_writer.h"

namespace ostrel {
namespace {

using test::FrameKind;
using test::JpegImage;
using test::JpegWriterOptions;
using test::make_jpeg;
using Bytes = std::vector<unsigned char>;
using Reads = std::vector<std::uint64_t>;

constexpr std::size_t WINDOW = PROBE_WINDOW_SIZE;
constexpr std::size_t DQT_SIZE = 69;  // the segment just before the frame

struct Probed {
  bool found = false;
  JpegInfo info;
  Reads reads;
};

Probed probe_bytes(const Bytes& bytes, std::size_t window = PROBE_WINDOW_SIZE,
                   bool aligned = false) {
  RecordingFile source(bytes);
  WindowedByteSource windowed(source, window, aligned);
  Probed probed;
  probed.found = find_dimensions(windowed, probed.info);
  probed.reads = source.reads;
  return probed;
}

JpegWriterOptions without_exif(int width, int height) {
  JpegWriterOptions options;
  options.width = width;
  options.height = height;
  options.exif = false;
  return options;
}

TEST(ProbeWindow, ReadsOnceWhenEverythingIsInTheFirstWindow) {
  JpegWriterOptions long_file = without_exif(3000, 2000);
  long_file.entropy_size = 3 * PROBE_WINDOW_SIZE;
  JpegWriterOptions no_frame = without_exif(30, 20);
  no_frame.frame = FrameKind::none;  // all four walks run
  for (const JpegWriterOptions& options :
       {JpegWriterOptions{}, long_file, no_frame}) {
    Probed probed = probe_bytes(make_jpeg(options).bytes);
    EXPECT_EQ(probed.found, options.frame != FrameKind::none);
    EXPECT_EQ(probed.reads, Reads{0});
  }
}

TEST(ProbeWindow, ReadsAgainOnlyAtTheJumpTarget) {
  JpegWriterOptions thumbnail;
  thumbnail.thumbnail_size = PROBE_WINDOW_SIZE + 3000;
  JpegWriterOptions far = without_exif(100, 50);
  far.comments = {65533};
  JpegWriterOptions progressive = thumbnail;  // found by the third walk
  progressive.frame = FrameKind::progressive;
  for (const JpegWriterOptions& options : {thumbnail, far, progressive}) {
    JpegImage image = make_jpeg(options);
    ASSERT_GT(image.frame_offset, WINDOW);
    Probed probed = probe_bytes(image.bytes);
    EXPECT_TRUE(probed.found);
    EXPECT_EQ(probed.info.width, options.width);
    EXPECT_EQ(probed.reads, (Reads{0, image.frame_offset - DQT_SIZE}));
  }
}

// The frame header placed around the first window's end: `shift` is its
// offset from there, and `again` where the second read starts (0: none).
TEST(ProbeWindow, FrameHeaderAroundTheWindowEnd) {
  struct Row {
    int shift;
    std::uint64_t again;
  };
  const Row rows[] = {
      {-9, 0},           // X ends at the window's end
      {-8, WINDOW - 1},  // X straddles it
      {-7, WINDOW},      // X just past it
      {-6, WINDOW - 1},  // Y straddles it
      {-5, WINDOW},      // Y just past it
      {-2, WINDOW + 3},  // marker ends at the window's end
      {-1, WINDOW - 1},  // marker straddles it
      {0, WINDOW},       // DQT ends at the window's end
      {1, WINDOW + 1},   // the frame just past it
  };
  JpegWriterOptions options = without_exif(1111, 2222);
  const std::size_t unshifted = make_jpeg(options).frame_offset;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shift);
    // A comment segment is 4 bytes and its body.
    options.comments = {WINDOW + row.shift - unshifted - 4};
    JpegImage image = make_jpeg(options);
    ASSERT_EQ(image.frame_offset, WINDOW + row.shift);
    Probed probed = probe_bytes(image.bytes);
    EXPECT_TRUE(probed.found);
    EXPECT_EQ(probed.info.width, 1111);
    EXPECT_EQ(probed.info.height, 2222);
    EXPECT_EQ(probed.reads, (row.again ? Reads{0, row.again} : Reads{0}));
  }
}

// Where reads wait, windows are pages at page boundaries, unless the read
// that needs one would not fit: the jump target's page is read, and the
// frame header found in it.
TEST(ProbeWindow, AlignedWindowsReadWholePages) {
  constexpr std::size_t PAGE = PROBE_PAGE_SIZE;
  struct Row {
    std::size_t comment;  // before the frame, pushing it back
    Reads reads;
  };
  JpegWriterOptions options = without_exif(321, 123);
  const std::size_t unshifted = make_jpeg(options).frame_offset;
  const std::uint64_t dqt_from_frame = DQT_SIZE;
  auto comment_putting_dqt_at = [&](std::uint64_t dqt) {
    return static_cast<std::size_t>(dqt + dqt_from_frame - unshifted - 4);
  };
  const Row rows[] = {
      {comment_putting_dqt_at(3 * PAGE + 100), {0, 3 * PAGE}},
      // The marker's two bytes would not fit the page: read from there.
      {comment_putting_dqt_at(5 * PAGE - 1), {0, 5 * PAGE - 1}},
      // The marker fits, its length is in the next page.
      {comment_putting_dqt_at(5 * PAGE - 2), {0, 4 * PAGE, 5 * PAGE}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reads.back());
    options.comments = {row.comment};
    JpegImage image = make_jpeg(options);
    Probed probed = probe_bytes(image.bytes, PAGE, true);
    EXPECT_TRUE(probed.found);
    EXPECT_EQ(probed.info.width, 321);
    EXPECT_EQ(probed.info.height, 123);
    EXPECT_EQ(probed.reads, row.reads);
  }
}

TEST(ProbeWindow, AShortReadMarksTheEnd) {
  // A length past the end of a file longer than the window: every later walk
  // that reaches that point knows the file ends there without reading.
  Bytes bytes(WINDOW + 100, 'x');
  const unsigned char head[] = {0xFF, 0xD8, 0xFF, 0xFE, 0xFF, 0xF0};
  std::copy(std::begin(head), std::end(head), bytes.begin());
  Probed probed = probe_bytes(bytes);
  EXPECT_FALSE(probed.found);
  EXPECT_EQ(probed.reads, (Reads{0, 4 + 0xFFF0}));
}

TEST(ProbeWindow, DimensionsTakeTheirFirstByteAsTheHighByte) {
  const Bytes frame = {0xFF, 0xC0, 0x00, 0x11, 0x08,
                       0x78, 0x56, 0x00, 0xFF};
  Probed probed = probe_bytes(frame);
  ASSERT_TRUE(probed.found);
  EXPECT_EQ(probed.info.height, 0x7856);
  EXPECT_EQ(probed.info.width, 0x00FF);
}

}  // namespace
}  // namespace ostrel
