#include "support/jpeg_writer.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string_view>

namespace ostrel::test {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t MAX_SEGMENT_BODY = 65533;
constexpr std::size_t MAX_WHOLE_SCAN = 64 * 1024;
constexpr std::size_t CUT_SCAN = 64;

void put8(Bytes& out, unsigned value) {
  out.push_back(static_cast<unsigned char>(value));
}

void put16(Bytes& out, unsigned value) {
  put8(out, value >> 8 & 0xFF);
  put8(out, value & 0xFF);
}

void put16_le(Bytes& out, unsigned value) {
  put8(out, value & 0xFF);
  put8(out, value >> 8 & 0xFF);
}

void put32_le(Bytes& out, std::uint32_t value) {
  put16_le(out, value & 0xFFFF);
  put16_le(out, value >> 16);
}

// Byte by byte: g++ 12 at -O3 takes a range insert into an empty vector
// for a write past its end.
void put_text(Bytes& out, std::string_view text) {
  for (char c : text) out.push_back(static_cast<unsigned char>(c));
}

void put_marker(Bytes& out, unsigned code) { put16(out, 0xFF00 | code); }

void put_segment(Bytes& out, unsigned code, const Bytes& body) {
  if (body.size() > MAX_SEGMENT_BODY)
    throw std::invalid_argument("JPEG segment body too long");
  put_marker(out, code);
  put16(out, static_cast<unsigned>(body.size() + 2));
  out.insert(out.end(), body.begin(), body.end());
}

Bytes filler(std::size_t size, std::string_view pattern) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = pattern[i % pattern.size()];
  return out;
}

Bytes jfif_body() {
  Bytes body;
  put_text(body, std::string_view("JFIF\0", 5));
  put16(body, 0x0101);  // version 1.01
  put8(body, 0);        // no units: the densities give the aspect ratio
  put16(body, 1);
  put16(body, 1);
  put16(body, 0);  // no JFIF thumbnail
  return body;
}

// TIFF structure, little-endian: IFD0 with the orientation, IFD1 describing
// the JPEG thumbnail that follows it.
Bytes exif_body(const Bytes& thumbnail) {
  constexpr std::uint32_t IFD0 = 8;
  constexpr std::uint32_t IFD1 = IFD0 + 2 + 12 + 4;
  constexpr std::uint32_t THUMBNAIL_AT = IFD1 + 2 + 3 * 12 + 4;
  auto entry = [](Bytes& out, unsigned tag, unsigned type, std::uint32_t value) {
    put16_le(out, tag);
    put16_le(out, type);
    put32_le(out, 1);
    if (type == 3) {
      put16_le(out, value);
      put16_le(out, 0);
    } else {
      put32_le(out, value);
    }
  };
  Bytes body;
  put_text(body, std::string_view("Exif\0\0", 6));
  put_text(body, "II");
  put16_le(body, 42);
  put32_le(body, IFD0);
  put16_le(body, 1);
  entry(body, 0x0112, 3, 1);  // Orientation: top-left
  put32_le(body, IFD1);
  put16_le(body, 3);
  entry(body, 0x0103, 3, 6);  // Compression: JPEG
  entry(body, 0x0201, 4, THUMBNAIL_AT);
  entry(body, 0x0202, 4, static_cast<std::uint32_t>(thumbnail.size()));
  put32_le(body, 0);
  body.insert(body.end(), thumbnail.begin(), thumbnail.end());
  return body;
}

Bytes quantisation_body() {
  Bytes body;
  put8(body, 0);  // 8-bit table 0
  for (unsigned k = 0; k < 64; ++k) put8(body, 8 + k);
  return body;
}

// One-symbol tables: DC difference category 0 and the AC end of block, each
// coded as the single bit 0, which is all a flat grey image needs.
Bytes huffman_body() {
  Bytes body;
  for (unsigned table_class : {0u, 1u}) {
    put8(body, table_class << 4);
    put8(body, 1);
    for (int i = 1; i < 16; ++i) put8(body, 0);
    put8(body, 0);
  }
  return body;
}

unsigned frame_code(FrameKind kind) {
  switch (kind) {
    case FrameKind::baseline: return 0xC0;
    case FrameKind::extended: return 0xC1;
    case FrameKind::progressive: return 0xC2;
    case FrameKind::lossless: return 0xC3;
    case FrameKind::none: break;
  }
  return 0xC0;  // a scan without a frame is still written as baseline
}

Bytes frame_body(const JpegWriterOptions& options) {
  Bytes body;
  put8(body, 8);  // sample precision
  put16(body, static_cast<unsigned>(options.height));
  put16(body, static_cast<unsigned>(options.width));
  put8(body, 1);     // one component:
  put8(body, 1);     //   id 1,
  put8(body, 0x11);  //   no subsampling,
  put8(body, 0);     //   quantisation table 0
  return body;
}

Bytes scan_body(FrameKind kind) {
  Bytes body;
  put8(body, 1);
  put8(body, 1);
  put8(body, 0x00);  // DC and AC table 0
  switch (kind) {
    case FrameKind::progressive:  // the DC coefficients only
      put8(body, 0);
      put8(body, 0);
      break;
    case FrameKind::lossless:  // predictor 1
      put8(body, 1);
      put8(body, 0);
      break;
    default:
      put8(body, 0);
      put8(body, 63);
      break;
  }
  put8(body, 0);
  return body;
}

// Every coefficient difference is 0, coded as one 0 bit; the last byte is
// padded with 1 bits.
Bytes entropy_data(const JpegWriterOptions& options) {
  std::uint64_t width = static_cast<unsigned>(options.width);
  std::uint64_t height = static_cast<unsigned>(options.height);
  std::uint64_t blocks = (width + 7) / 8 * ((height + 7) / 8);
  std::uint64_t bits = options.frame == FrameKind::progressive ? blocks
                       : options.frame == FrameKind::lossless  ? width * height
                                                               : 2 * blocks;
  std::uint64_t whole = (bits + 7) / 8;
  std::size_t size = options.entropy_size;
  if (size == JpegWriterOptions::WHOLE_IMAGE)
    size = whole <= MAX_WHOLE_SCAN ? static_cast<std::size_t>(whole) : CUT_SCAN;
  Bytes data(size, 0);
  if (size == whole && bits % 8 != 0)
    data.back() = static_cast<unsigned char>((1u << (8 - bits % 8)) - 1);
  return data;
}

Bytes thumbnail_jpeg(const JpegWriterOptions& options) {
  JpegWriterOptions thumbnail;
  thumbnail.width = options.thumbnail_width;
  thumbnail.height = options.thumbnail_height;
  thumbnail.jfif = false;
  thumbnail.exif = false;
  Bytes bytes = make_jpeg(thumbnail).bytes;
  if (options.thumbnail_size >= bytes.size() + 4) {
    thumbnail.comments = {options.thumbnail_size - bytes.size() - 4};
    bytes = make_jpeg(thumbnail).bytes;
  }
  return bytes;
}

void check_dimension(int value) {
  if (value < 0 || value > 65535)
    throw std::invalid_argument("JPEG dimension out of range");
}

}  // namespace

JpegImage make_jpeg(const JpegWriterOptions& options) {
  check_dimension(options.width);
  check_dimension(options.height);
  JpegImage image;
  Bytes& out = image.bytes;
  out = filler(options.leading_bytes, "leading data; ");
  if (options.soi) put_marker(out, 0xD8);
  if (options.jfif) put_segment(out, 0xE0, jfif_body());
  if (options.exif) put_segment(out, 0xE1, exif_body(thumbnail_jpeg(options)));
  for (std::size_t size : options.comments)
    put_segment(out, 0xFE, filler(size, "ostrel test comment "));
  if (options.tables) put_segment(out, 0xDB, quantisation_body());
  if (options.frame != FrameKind::none) {
    image.frame_offset = out.size();
    put_segment(out, frame_code(options.frame), frame_body(options));
  }
  if (options.tables) put_segment(out, 0xC4, huffman_body());
  if (options.scan) {
    put_segment(out, 0xDA, scan_body(options.frame));
    Bytes data = entropy_data(options);
    out.insert(out.end(), data.begin(), data.end());
  }
  if (options.eoi) put_marker(out, 0xD9);
  if (out.size() > options.truncate_at) out.resize(options.truncate_at);
  return image;
}

void write_file(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace ostrel::test
