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

// Where requests wait, the bytes the probe will read are asked for as it
// opens the file: the first page, and where earlier files steadily had
// their frame header.
ReadPlan ProbeRunner::plan_for(const Job& job) const {
  ReadPlan plan;
  plan.ask_first = latency_.is_slow();
  if (plan.ask_first && job.hint) job.hint->plan(plan);
  return plan;
}

void ProbeRunner::probe(Job& job, FileResult opened, const ReadPlan& plan) {
  if (!opened && opened.failure() == Failure::out_of_handles) {
    job.open_by_cache = true;
    return;
  }
  job.result = probe_opened(std::move(opened), plan);
  if (job.hint && job.result.status == ProbeStatus::ok)
    job.hint->found_at(job.result.frame_offset);
}

void ProbeRunner::run(Job& job, Worker* worker) {
  job.open_by_cache = false;
  ReadPlan plan = plan_for(job);
  try {
    if (!worker) {
      probe(job, cache_.open_file(job.directory, job.name(), job.path), plan);
      return;
    }
    // A directory that could not be held is left to the walk's thread.
    if (!job.pin) {
      job.open_by_cache = true;
      return;
    }
    FileOpener& opener =
        *worker ? **worker : static_cast<FileOpener&>(cache_.file_system());
    probe(job, opener.open_file(job.pin.directory(), job.name()), plan);
  } catch (const std::bad_alloc&) {
    // No memory to open it: the file cannot be read.
    job.result = ProbeResult{};
  }
}

void ProbeRunner::hand_over(Job& job) {
  // Let go of here, on the walk's thread: a worker may hold descriptors of
  // its own, which a directory's closing there would mistake.
  job.pin = DirectoryCache::Pin();
  if (job.open_by_cache) {
    job.result = probe_jpeg(
        [&] { return cache_.open_file(job.directory, job.name(), job.path); });
  }
  drop(job);
  (*handler)(job.path, job.result);
  if (job.path.capacity() > KEPT_TEXT_ROOM) std::string().swap(job.path);
}

void ProbeRunner::drop(Job& job) {
  job.pin = DirectoryCache::Pin();
  job.directory.reset();
  job.hint.reset();
}

Prober::Prober(DirectoryCache& cache, Latency& latency, const Shape& shape)
    : cache_(cache),
      runner_(cache, latency),
      pool_(runner_, shape, latency, MOST_TEXT_BYTES) {}

// The files of one directory come one after another, so they share one
// hint.
std::shared_ptr<FrameHint> Prober::hint_for(const DirectoryCache::NodeRef& node) {
  if (node != hinted_directory_ || !hint_) {
    hint_ = std::make_shared<FrameHint>(&all_files_);
    hinted_directory_ = node;
  }
  return hint_;
}

void Prober::submit(const FoundFile& file, const ResultHandler& handle) {
  runner_.handler = &handle;
  std::shared_ptr<FrameHint> hint = hint_for(file.directory);
  pool_.submit(
      [&](ProbeJob& job) {
        job.directory = file.directory;
        if (pool_.has_threads()) {
          Result<DirectoryCache::Pin> pin = cache_.pin(file.directory);
          job.pin = pin ? std::move(*pin) : DirectoryCache::Pin();
        }
        job.path.assign(file.path);
        job.name_start = file.path.size() - file.name.size();
        job.hint = std::move(hint);
      },
      file.path.size());
}

void Prober::drain(const ResultHandler& handle) {
  runner_.handler = &handle;
  pool_.drain();
}

}  // namespace ostrel
