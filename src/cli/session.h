// What a run of the program holds across its arguments, and how the
// descriptors the process may open are shared out among its parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/prober.h"
#include "cli/report.h"
#include "pool/latency.h"
#include "walk/directory_cache.h"
#include "walk/directory_reads.h"

namespace ostrel {

// How the descriptors the process may still open are shared out: the
// prober's threads, each with one file open at a time; the directory
// cache, which holds every directory open anywhere (the walk's, those of
// files queued for probing, those read ahead) and hands out room to read
// ahead in; and how many directories may be read ahead at once, by how
// many threads. A low limit slows a run but loses nothing: with few, files
// are probed one at a time beside the directories; with one, everything is
// opened by its text. Where address space is limited, the threads' stacks
// take an eighth of it at most, so that the listings and the probes never
// want for it.
struct DescriptorBudget {
  Prober::Shape probes;
  std::size_t directories = 0;
  unsigned reads = 0;
  unsigned read_threads = 0;
};
DescriptorBudget budget_descriptors(std::size_t available,
                                    std::size_t address_space = SIZE_MAX);
// The same without a limit on address space.
DescriptorBudget share_descriptors(std::size_t available);

// Probes in flight where descriptors are plenty: enough to keep a disk's
// queue busy when the cache is cold, with only as many threads awake as
// there are processors while the cache is warm; where every request waits
// (a network share), as many as the latency calls for, up to the slow
// bounds.
inline constexpr Prober::Shape PLENTIFUL_PROBES{32, 256, 256, 512};
// Directories read ahead at once and the threads that read them, where
// descriptors are plenty.
inline constexpr unsigned MOST_READS = 256;
inline constexpr unsigned MOST_READ_THREADS = 64;

struct Session {
  explicit Session(const DescriptorBudget& budget);
  Latency latency;
  DirectoryCache cache;
  Prober prober;
  DirectoryReads reads;
};

// `run_argument` on the disk, to standard output, with `run_options`.
void process_argument(const std::string& argument, Session& session);

}  // namespace ostrel
