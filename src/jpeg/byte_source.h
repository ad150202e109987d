// Where the probe's bytes come from: positioned reads, and a cache that
// serves the probe's many 2-byte reads from a few large reads of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace ostrel {

// Positioned reads. Fewer bytes than asked arrive only where the source ends
// (or fails, which ends it as well); that short read is the only way the
// probe learns where a source ends.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::size_t read_at(std::uint64_t offset, unsigned char* buffer,
                              std::size_t size) = 0;
};

// Serves reads from windows of `window_size` bytes read from a file: the
// first window where the first read lands, which is kept, and one more that
// moves to wherever a later read falls outside both. A window starts where
// the read that needs it starts or, `aligned`, at the multiple of its size
// below, where that holds the read: a window then never straddles two of
// the pages a network file system fetches. A window that came back short
// marks where the file ends, so reads at or past that point are answered
// without asking the file again. Reads larger than a window go straight to
// the file, which must outlive the source.
class WindowedByteSource : public ByteSource {
 public:
  WindowedByteSource(const ReadableFile& file, std::size_t window_size,
                     bool aligned = false);
  std::size_t read_at(std::uint64_t offset, unsigned char* buffer,
                      std::size_t size) override;

 private:
  struct Window {
    std::unique_ptr<unsigned char[]> bytes;
    std::uint64_t start = 0;
    std::size_t length = 0;
    bool filled = false;
    bool short_read = false;  // the file ends at start + length
  };

  bool answer_from(const Window& window, std::uint64_t offset,
                   unsigned char* buffer, std::size_t size,
                   std::size_t& count) const;
  void fill(Window& window, std::uint64_t offset, std::size_t size);

  const ReadableFile& file_;
  std::size_t window_size_;
  bool aligned_;
  Window first_;
  Window moving_;
};

}  // namespace ostrel
