#include "jpeg/byte_source.h"

#include <algorithm>
#include <cstring>

namespace ostrel {

WindowedByteSource::WindowedByteSource(const ReadableFile& file,
                                       std::size_t window_size, bool aligned)
    : file_(file),
      window_size_(std::max<std::size_t>(window_size, 1)),
      aligned_(aligned) {}

std::size_t WindowedByteSource::read_at(std::uint64_t offset,
                                        unsigned char* buffer,
                                        std::size_t size) {
  if (size > window_size_) return file_.read_at(offset, buffer, size);
  std::size_t count = 0;
  if (answer_from(first_, offset, buffer, size, count) ||
      answer_from(moving_, offset, buffer, size, count))
    return count;
  // Read at the position asked for, not from the end of the last window:
  // a segment length that jumps far ahead skips the gap unread.
  Window& window = first_.filled ? moving_ : first_;
  fill(window, offset, size);
  answer_from(window, offset, buffer, size, count);
  return count;
}

bool WindowedByteSource::answer_from(const Window& window,
                                     std::uint64_t offset,
                                     unsigned char* buffer, std::size_t size,
                                     std::size_t& count) const {
  if (!window.filled || offset < window.start) return false;
  std::uint64_t skip = offset - window.start;
  if (size <= window.length && skip <= window.length - size) {
    count = size;
  } else if (window.short_read) {
    // The file ends inside or before the asked-for bytes.
    count = skip < window.length
                ? std::min(size, window.length - static_cast<std::size_t>(skip))
                : 0;
  } else {
    return false;
  }
  if (count > 0)
    std::memcpy(buffer, window.bytes.get() + skip, count);
  return true;
}

void WindowedByteSource::fill(Window& window, std::uint64_t offset,
                              std::size_t size) {
  if (!window.bytes)
    window.bytes = std::make_unique_for_overwrite<unsigned char[]>(window_size_);
  std::uint64_t below = offset - offset % window_size_;
  window.start = aligned_ && offset + size <= below + window_size_ ? below : offset;
  window.length = file_.read_at(window.start, window.bytes.get(), window_size_);
  window.short_read = window.length < window_size_;
  window.filled = true;
}

}  // namespace ostrel
