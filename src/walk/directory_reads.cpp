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
  if (fixed_lifetime_) return *fixed_lifetime_;
  return std::max<std::chrono::steady_clock::duration>(
      SHORTEST_LIFETIME, latency_.slow_time() * ROUND_TRIPS_KEPT);
}

std::size_t DirectoryReads::places_to_read(
    std::chrono::duration<double> take_interval) const {
  std::chrono::duration<double> horizon = listing_lifetime() / 2;
  if (take_interval.count() <= 0 || horizon / take_interval >= most_reads_)
    return most_reads_;
  auto places = static_cast<std::size_t>(horizon / take_interval);
  return std::min<std::size_t>(std::max(places, FEWEST_PLACES), most_reads_);
}

}  // namespace ostrel
