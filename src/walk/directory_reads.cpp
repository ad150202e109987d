#include "walk/directory_reads.h"

#include <algorithm>
#include <new>

namespace ostrel {

void DirectoryRead::run() noexcept {
  try {
    auto start = Latency::Clock::now();
    DirectoryResult opened = parent.directory().open_subdirectory(name);
    // The open is one round trip; the listing's time grows with the
    // directory, so it says little of the latency.
    latency->record(Latency::Clock::now() - start);
    if (!opened) return;
    std::optional<DirectoryId> id = (*opened)->id();
    if (id && walked->contains(*id)) {
      walked_before = true;
    } else {
      listing = list_directory(**opened, file_pattern, true);
    }
    directory = std::move(*opened);
  } catch (const std::bad_alloc&) {
    // The walk reads it for itself.
    directory.reset();
  }
}

DirectoryReads::DirectoryReads(Latency& latency, unsigned most_reads,
                               unsigned most_threads)
    : latency_(latency),
      most_reads_(most_reads),
      queue_(latency, most_threads) {}

std::chrono::steady_clock::duration DirectoryReads::listing_lifetime() const {
  return std::max<std::chrono::steady_clock::duration>(
      shortest_lifetime_, latency_.slow_time() * ROUND_TRIPS_KEPT);
}

}  // namespace ostrel
