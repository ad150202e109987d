// A file in memory that records where each read starts; read by one thread.
#pragma once

#include <cstdint>
#include <vector>

#include "support/memory_fs.h"

namespace ostrel {

class RecordingFile : public ReadableFile {
 public:
  explicit RecordingFile(const std::vector<unsigned char>& bytes)
      : memory_(bytes) {}
  std::size_t read_at(std::uint64_t offset, unsigned char* buffer,
                      std::size_t size) const override {
    reads.push_back(offset);
    return memory_.read_at(offset, buffer, size);
  }
  std::uint64_t size() const override { return memory_.size(); }

  mutable std::vector<std::uint64_t> reads;

 private:
  test::MemoryFile memory_;
};

}  // namespace ostrel
