// A memory source that records where each read starts.
#pragma once

#include <cstdint>
#include <vector>

#include "jpeg/byte_source.h"

namespace ostrel {

class RecordingSource : public ByteSource {
 public:
  explicit RecordingSource(const std::vector<unsigned char>& bytes)
      : memory_(bytes) {}
  std::size_t read_at(std::uint64_t offset, unsigned char* buffer,
                      std::size_t size) override {
    reads.push_back(offset);
    return memory_.read_at(offset, buffer, size);
  }

  std::vector<std::uint64_t> reads;

 private:
  MemoryByteSource memory_;
};

}  // namespace ostrel
