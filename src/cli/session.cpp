#include "cli/session.h"

#include <algorithm>
#include <bit>

namespace ostrel {

namespace {

// How many threads' stacks an eighth of the address space holds, with
// room for what the system keeps beside each stack.
std::size_t threads_within(std::size_t address_space) {
  constexpr std::size_t PER_THREAD = WORKER_STACK_SIZE + (16 << 10);
  return address_space / 8 / PER_THREAD;
}

}  // namespace

DescriptorBudget budget_descriptors(std::size_t available,
                                    std::size_t address_space) {
  DescriptorBudget budget = share_descriptors(available);
  std::size_t threads = threads_within(address_space);
  // Three quarters for the probes, which are most of the requests.
  auto probe_threads = static_cast<unsigned>(
      std::min<std::size_t>(budget.probes.slow_threads, threads - threads / 4));
  budget.probes.slow_threads = probe_threads;
  budget.probes.threads = std::min(budget.probes.threads, probe_threads);
  budget.read_threads = static_cast<unsigned>(
      std::min<std::size_t>(budget.read_threads, threads / 4));
  return budget;
}

DescriptorBudget share_descriptors(std::size_t available) {
  // A few for the process itself (the probe threads' handle on it).
  constexpr std::size_t RESERVED = 4;
  // Below this, one file at a time beside the directories.
  constexpr std::size_t SCARCE = 12;
  constexpr Prober::Shape ONE_AT_A_TIME{0, 1, 0, 1};
  if (available <= 1) return DescriptorBudget{ONE_AT_A_TIME, 0, 0, 0};
  if (available < SCARCE)
    return DescriptorBudget{ONE_AT_A_TIME, available - 1, 0, 0};
  // A quarter for the probes' threads and three for the directories: those
  // of the walk, of the files queued (up to the slow window of them) and
  // those read ahead.
  std::size_t share = (available - RESERVED) / 4;
  auto within = [share](std::size_t most) { return std::min(share, most); };
  DescriptorBudget budget;
  budget.probes.threads = static_cast<unsigned>(within(PLENTIFUL_PROBES.threads));
  budget.probes.window = std::bit_floor(within(PLENTIFUL_PROBES.window));
  budget.probes.slow_threads =
      static_cast<unsigned>(within(PLENTIFUL_PROBES.slow_threads));
  budget.probes.slow_window = std::bit_floor(within(PLENTIFUL_PROBES.slow_window));
  budget.directories =
      std::min(3 * share, DirectoryReads::HELD_PER_PLACE * MOST_READS +
                              PLENTIFUL_PROBES.slow_window +
                              DEFAULT_OPEN_DIRECTORIES);
  budget.reads = static_cast<unsigned>(within(MOST_READS));
  budget.read_threads = MOST_READ_THREADS;
  return budget;
}

Session::Session(const DescriptorBudget& budget)
    : cache(disk_file_system(), budget.directories,
            native_path_style().separator()),
      prober(cache, latency, budget.probes),
      reads(latency, budget.reads, budget.read_threads) {}

void process_argument(const std::string& argument, Session& session) {
  run_argument(ArgumentRun{native_path_style(), session.cache, session.prober,
                           write_output, run_options, &session.reads},
               argument);
}

}  // namespace ostrel
