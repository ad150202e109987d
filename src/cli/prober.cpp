#include "cli/prober.h"

#include <new>
#include <utility>

namespace ostrel {
namespace {

// A slot keeps its path's room for the next file, unless the room is that
// of a very long path.
constexpr std::size_t KEPT_TEXT_ROOM = 4096;

}  // namespace

ProbeRunner::Worker ProbeRunner::make_worker() {
  try {
    return cache_.file_system().opener_for_this_thread();
  } catch (const std::bad_alloc&) {
    // The directories' own opens serve as well, only slower.
    return nullptr;
  }
}

void ProbeRunner::run(Job& job, Worker* worker, bool slow) {
  std::size_t read_ahead = slow ? PROBE_READ_AHEAD_SIZE : 0;
  if (!worker) {
    job.result = probe_here(job, read_ahead);
    return;
  }
  // A directory that could not be held is left to the walk's thread.
  if (!job.pin) {
    job.result.status = ProbeStatus::out_of_handles;
    return;
  }
  FileOpener& opener =
      *worker ? **worker : static_cast<FileOpener&>(cache_.file_system());
  job.result = probe_jpeg(
      [&] { return opener.open_file(job.pin.directory(), job.name()); },
      read_ahead);
}

ProbeResult ProbeRunner::probe_here(const Job& job, std::size_t read_ahead) {
  return probe_jpeg(
      [&] { return cache_.open_file(job.directory, job.name(), job.path); },
      read_ahead);
}

void ProbeRunner::run_alone(Job& job) {
  job.result = probe_here(job, 0);
  if (job.result.status == ProbeStatus::out_of_handles)
    job.result.status = ProbeStatus::cannot_open;
}

void ProbeRunner::hand_over(Job& job) {
  // Let go of here, on the walk's thread: a worker may hold descriptors of
  // its own, which a directory's closing there would mistake.
  drop(job);
  (*handler)(job.path, job.result);
  if (job.path.capacity() > KEPT_TEXT_ROOM) std::string().swap(job.path);
}

void ProbeRunner::drop(Job& job) {
  job.pin = DirectoryCache::Pin();
  job.directory.reset();
}

Prober::Prober(DirectoryCache& cache, const Shape& shape)
    : cache_(cache), runner_(cache), pool_(runner_, shape, MOST_TEXT_BYTES) {}

void Prober::submit(const FoundFile& file, const ResultHandler& handle) {
  runner_.handler = &handle;
  pool_.submit(
      [&](ProbeJob& job) {
        job.directory = file.directory;
        if (pool_.has_threads()) {
          Result<DirectoryCache::Pin> pin = cache_.pin(file.directory);
          job.pin = pin ? std::move(*pin) : DirectoryCache::Pin();
        }
        job.path.assign(file.path);
        job.name_start = file.path.size() - file.name.size();
      },
      file.path.size());
}

void Prober::drain(const ResultHandler& handle) {
  runner_.handler = &handle;
  pool_.drain();
}

}  // namespace ostrel
