// Arbitrary bytes as a file. The windowed probe must give exactly what a
// plain walk over the bytes gives, for several window sizes, and every read
// that it answers must hold the file's own bytes at that offset.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "jpeg/byte_source.h"
#include "jpeg/probe.h"

namespace {

using ostrel::ByteSource;
using Bytes = std::span<const unsigned char>;

[[noreturn]] void fail() { std::abort(); }

void check(bool condition) {
  if (!condition) fail();
}

// The reference: one marker or length at a time straight from the bytes,
// with 64-bit offsets, as the segment walk is defined.
std::int64_t reference_scan(Bytes file, std::uint64_t start,
                            std::uint32_t code) {
  const std::uint64_t size = file.size();
  auto has_pair = [&](std::uint64_t at) { return at < size && size - at >= 2; };
  auto pair = [&](std::uint64_t at) {
    return static_cast<unsigned>(file[at] << 8 | file[at + 1]);
  };
  std::uint64_t at = start;
  for (;;) {
    if (!has_pair(at)) return -1;
    unsigned marker = pair(at);
    if (marker == (code & 0xFFFF)) return static_cast<std::int64_t>(at);
    if (marker == 0xFFD8 || marker == 0xFFD9) {
      at += 2;
      continue;
    }
    if (file[at] != 0xFF) return -1;
    if (!has_pair(at + 2)) return -1;
    unsigned length = pair(at + 2);
    if (length < 2) return -1;
    at += 2 + length;
  }
}

std::int64_t reference_find(Bytes file, std::uint32_t code) {
  std::int64_t found = reference_scan(file, 0, code);
  return found >= 0 ? found : reference_scan(file, 128, code);
}

// A dimension whose two bytes are not both in the file reads 0.
int reference_dimension(Bytes file, std::uint64_t at) {
  if (at >= file.size() || file.size() - at < 2) return 0;
  return file[at] << 8 | file[at + 1];
}

// The file itself; counts the reads that reach it.
class FuzzFile : public ostrel::ReadableFile {
 public:
  explicit FuzzFile(Bytes file) : file_(file) {}
  std::size_t read_at(std::uint64_t offset, unsigned char* buffer,
                      std::size_t size) const override {
    ++reads;
    check(size > 0);
    if (offset >= file_.size()) return 0;
    std::size_t count = std::min<std::uint64_t>(size, file_.size() - offset);
    std::memcpy(buffer, file_.data() + offset, count);
    return count;
  }
  std::uint64_t size() const override { return file_.size(); }
  mutable int reads = 0;

 private:
  Bytes file_;
};

// Between the probe and the window: every answer must be the file's bytes.
class CheckedSource : public ByteSource {
 public:
  CheckedSource(ByteSource& inner, Bytes file) : inner_(inner), file_(file) {}
  std::size_t read_at(std::uint64_t offset, unsigned char* buffer,
                      std::size_t size) override {
    ++reads;
    std::vector<unsigned char> got(size);
    std::size_t count = inner_.read_at(offset, got.data(), size);
    std::size_t expected =
        offset >= file_.size() ? 0
                               : std::min<std::uint64_t>(size, file_.size() - offset);
    check(count == expected);
    check(count == 0 || std::memcmp(got.data(), file_.data() + offset, count) == 0);
    std::memcpy(buffer, got.data(), count);
    return count;
  }
  int reads = 0;

 private:
  ByteSource& inner_;
  Bytes file_;
};

void check_window(Bytes file, std::size_t window_size) {
  FuzzFile disk(file);
  ostrel::WindowedByteSource window(disk, window_size);
  CheckedSource probe_view(window, file);

  for (std::uint32_t code : {0xFFC0u, 0xFFC2u}) {
    check(ostrel::find_marker(probe_view, code) == reference_find(file, code));
    // Only the low 16 bits of the wanted code take part.
    check(ostrel::scan_for_marker(probe_view, 128, code | 0xABCD0000u) ==
          reference_scan(file, 128, code));
  }

  ostrel::JpegInfo info;
  info.width = info.height = -7;
  bool found = ostrel::find_dimensions(probe_view, info);
  std::int64_t frame = reference_find(file, 0xFFC0);
  if (frame < 0) frame = reference_find(file, 0xFFC2);
  check(found == (frame >= 0));
  if (found) {
    auto at = static_cast<std::uint64_t>(frame);
    check(info.height == reference_dimension(file, at + 5));
    check(info.width == reference_dimension(file, at + 7));
  } else {
    check(info.width == -7 && info.height == -7);
  }
  // The window never asks the file more often than the probe asks it.
  check(disk.reads <= probe_view.reads);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  Bytes file(data, size);
  // Tiny windows put every edge case of the window inside small inputs.
  for (std::size_t window : {std::size_t{1}, std::size_t{2}, std::size_t{3},
                             std::size_t{7}, std::size_t{128},
                             ostrel::PROBE_WINDOW_SIZE})
    check_window(file, window);
  return 0;
}
