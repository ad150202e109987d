// Writes the seed corpora of the fuzz targets: real marker chains from the
// project's JPEG writer for the probe, and small hand-made texts for the
// path and name targets.
// Usage: make_fuzz_seeds <corpus directory>   (makes probe/, paths/, names/)
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/jpeg_writer.h"

namespace fs = std::filesystem;
using ostrel::test::FrameKind;
using ostrel::test::JpegWriterOptions;
using ostrel::test::make_jpeg;

namespace {

// A literal's bytes, NULs included, without its terminator.
template <std::size_t N>
std::string_view bytes(const char (&text)[N]) {
  return {text, N - 1};
}

void write_seed(const fs::path& dir, const std::string& name,
                std::string_view bytes) {
  ostrel::test::write_file(
      dir / name, std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

JpegWriterOptions small(FrameKind frame) {
  JpegWriterOptions options;
  options.frame = frame;
  options.entropy_size = 16;
  options.thumbnail_width = 8;
  options.thumbnail_height = 8;
  return options;
}

void write_jpeg(const fs::path& dir, const std::string& name,
                const JpegWriterOptions& options) {
  ostrel::test::write_file(dir / name, make_jpeg(options).bytes);
}

void probe_seeds(const fs::path& dir) {
  write_jpeg(dir, "baseline", small(FrameKind::baseline));
  write_jpeg(dir, "progressive", small(FrameKind::progressive));
  write_jpeg(dir, "extended", small(FrameKind::extended));
  write_jpeg(dir, "lossless", small(FrameKind::lossless));
  write_jpeg(dir, "no-frame", small(FrameKind::none));
  JpegWriterOptions bare = small(FrameKind::baseline);
  bare.soi = bare.jfif = bare.exif = bare.tables = false;
  write_jpeg(dir, "frame-at-0", bare);
  JpegWriterOptions late = small(FrameKind::progressive);
  late.leading_bytes = 128;
  write_jpeg(dir, "stream-at-128", late);
  // Cut inside Y and inside X of the frame header.
  ostrel::test::JpegImage image = make_jpeg(small(FrameKind::baseline));
  for (std::size_t cut : {6, 8}) {
    std::vector<unsigned char> bytes = image.bytes;
    bytes.resize(image.frame_offset + cut);
    ostrel::test::write_file(dir / ("cut-at-frame+" + std::to_string(cut)),
                             bytes);
  }
  JpegWriterOptions extremes = small(FrameKind::baseline);
  extremes.width = 65535;
  extremes.height = 0;
  write_jpeg(dir, "extreme-values", extremes);
  JpegWriterOptions far = small(FrameKind::baseline);
  far.comments = {4000, 13000};  // frame header past a 16 KiB window
  write_jpeg(dir, "frame-past-window", far);
  write_seed(dir, "fill-bytes", bytes("\xFF\xD8\xFF\xFF\xC0\x00\x11"));
  write_seed(dir, "short-lengths", bytes("\xFF\xD8\xFF\xE0\x00\x01\xFF\xD9"));
}

void path_seeds(const fs::path& dir) {
  // Style byte: 0 Windows single-byte, 1 code page 932, 2 936, 5 1361,
  // 7 an unknown code page (ranges from bytes 3 and 4), 8 POSIX.
  const std::vector<std::pair<std::string, std::string_view>> seeds = {
      {"windows-table", bytes("\x00\x01\x00\x00\0D:\0D:\\\0\\\0photos\0"
                                         "photos\\\0.\0..\0sub\\a.jpg\0photos\\*.jpg\0"
                                         "D:*.jpg\0D:/\0\\\\server\\share\\")},
      {"windows-separators", bytes("\x00\x02\x00\x00" "a\\\\\0a/\0a\\\0"
                                              "D:\\dir\\name.ext\0dir.d\\name\0a.b.c\0"
                                              ".profile\0" "1:x")},
      {"cp932", bytes("\x01\x03\x00\x00\x95\x5C\0\x95\x5Cx.jpg\0"
                                 "a\x81\x5C\x5C\0\xFD\x5C\0*\x81\0\x81*\0\x81")},
      {"cp936", bytes("\x02\x04\x00\x00\xFE\x5C" "dir\\\0\xFE*\0D:\xFE")},
      {"cp1361", bytes("\x05\x05\x00\x00\xD4\x5C\0\xD8\x5C" "a\0\xF9?")},
      {"cp-other", bytes("\x07\x06\x90\xA0\x95\x5C\0\x9F\\x\0\xA1\\x")},
      {"posix-table", bytes("\x08\x07\x00\x00photos/\0.\0..\0/\0a\\b\0"
                                       "a.b/c\0*.jpg\0dir/[a]?\0-x")},
  };
  for (const auto& [name, bytes] : seeds) write_seed(dir, name, bytes);
}

void name_seeds(const fs::path& dir) {
  const std::vector<std::pair<std::string, std::string_view>> seeds = {
      {"listing-order", bytes("_x.jpg\0A.jpg\0a1.jpg\0img10.jpg")},
      {"case-ties", bytes("A.jpg\0a.jpg\0A.JPG")},
      {"high-bytes", bytes("a\x80\0aZ\0a[\0a{")},
      {"wildcards", bytes("*.jpg\0IMG_0001.JPG\0?*.*\0*.*")},
      {"backtracking", bytes("*a*a*a*a*a*a*a*b\0"
                             "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa")},
  };
  for (const auto& [name, bytes] : seeds) write_seed(dir, name, bytes);
  // Many stars against a long name that almost matches.
  std::string stars;
  for (int i = 0; i < 12; ++i) stars += "*a";
  write_seed(dir, "backtracking-long", stars + "*b" + '\0' + std::string(400, 'a'));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_fuzz_seeds <corpus directory>\n", stderr);
    return 2;
  }
  const fs::path root = argv[1];
  for (const char* target : {"probe", "paths", "names"})
    fs::create_directories(root / target);
  probe_seeds(root / "probe");
  path_seeds(root / "paths");
  name_seeds(root / "names");
  return 0;
}
