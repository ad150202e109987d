#include "walk/read_ahead.h"

#include <new>
#include <utility>

namespace ostrel {
namespace {

// What a listing's names hold, roughly: their bytes and their strings.
std::size_t bytes_of(const std::optional<NameList>& names) {
  if (!names) return 0;
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < names->count(); ++i)
    bytes += (*names)[i].size() + sizeof(std::string) + sizeof(void*);
  return bytes;
}

}  // namespace

AheadRead::~AheadRead() {
  if (held_bytes) held_bytes->fetch_sub(bytes, std::memory_order_relaxed);
  if (held_reads) held_reads->fetch_sub(1, std::memory_order_relaxed);
}

void ReadRunner::run(Job& job, Worker*, bool) {
  // Let go of as soon as it is done: what it holds counts against what may
  // be read ahead, whenever the pool hands the job back.
  std::shared_ptr<AheadRead> held = std::move(job.read);
  AheadRead& read = *held;
  try {
    DirectoryResult opened = job.parent->open_subdirectory(job.name);
    std::optional<DirectoryId> id = opened ? (*opened)->id() : std::nullopt;
    if (id && job.walked->contains(*id)) {
      read.walked = true;
      read.directory = std::move(*opened);
    } else if (opened) {
      read.listing = list_directory(**opened, file_pattern_, true);
      read.directory = std::move(*opened);
      read.bytes = bytes_of(read.listing.files) +
                   bytes_of(read.listing.directories);
    } else {
      read.failure = opened.failure();
    }
  } catch (const std::bad_alloc&) {
    read.out_of_memory = true;
  }
  job.parent.reset();
  if (read.held_bytes)
    read.held_bytes->fetch_add(read.bytes, std::memory_order_relaxed);
  read.done.store(true, std::memory_order_release);
}

ReadAhead::ReadAhead(std::string_view file_pattern, unsigned most_reads,
                     std::size_t most_bytes, std::function<bool()> wanted)
    : runner_(file_pattern),
      pool_(runner_, {most_reads, most_reads, most_reads, most_reads, true}),
      most_reads_(most_reads),
      most_bytes_(most_bytes),
      wanted_(std::move(wanted)) {}

ReadAhead::~ReadAhead() { pool_.discard(); }

std::size_t ReadAhead::room() const {
  if (most_reads_ == 0 || !wanted_()) return 0;
  if (held_bytes_.load(std::memory_order_relaxed) >= most_bytes_) return 0;
  std::size_t held = held_reads_.load(std::memory_order_relaxed);
  return held < most_reads_ ? most_reads_ - held : 0;
}

std::shared_ptr<AheadRead> ReadAhead::request(
    std::shared_ptr<const Directory> parent, const std::string& name,
    const WalkedSet& walked) {
  auto read = std::make_shared<AheadRead>();
  read->held_bytes = &held_bytes_;
  read->held_reads = &held_reads_;
  held_reads_.fetch_add(1, std::memory_order_relaxed);
  read->job = pool_.submit([&](ReadJob& job) {
    job.read = read;
    job.parent = std::move(parent);
    job.name = name;
    job.walked = &walked;
  });
  return read;
}

void ReadAhead::wait(const AheadRead& read) {
  if (!read.done.load(std::memory_order_acquire)) pool_.wait(read.job);
}

}  // namespace ostrel
