#include "cli/session.h"

#include <algorithm>
#include <bit>

namespace ostrel {

DescriptorBudget budget_descriptors(std::size_t available) {
  // A few for the process itself (the probe threads' handle on it).
  constexpr std::size_t RESERVED = 4;
  // Below this, one file at a time beside the directories.
  constexpr std::size_t SCARCE = 12;
  constexpr Prober::Shape ONE_AT_A_TIME{0, 1, 0, 1};
  if (available <= 1) return DescriptorBudget{ONE_AT_A_TIME, 0, 0};
  if (available < SCARCE)
    return DescriptorBudget{ONE_AT_A_TIME, available - 1, 0};
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
      std::min(3 * share, MOST_READS + PLENTIFUL_PROBES.slow_window +
                              DEFAULT_OPEN_DIRECTORIES);
  budget.reads = static_cast<unsigned>(within(MOST_READS));
  return budget;
}

Session::Session(const DescriptorBudget& budget)
    : cache(disk_file_system(), budget.directories,
            native_path_style().separator()),
      prober(cache, latency, budget.probes),
      reads(latency, budget.reads, MOST_READ_THREADS) {}

void process_argument(const std::string& argument, Session& session) {
  run_argument(ArgumentRun{native_path_style(), session.cache, session.prober,
                           write_output, run_options, &session.reads},
               argument);
}

}  // namespace ostrel
