#include "cli/probe_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace ostrel {
namespace {

std::atomic<int> probes_running{0};
std::atomic<int> most_probes_running{0};

// Takes a while that varies from file to file, so later files often finish
// before earlier ones; the width is the file's number.
ProbeResult slow_probe(const std::string& path) {
  int running = ++probes_running;
  int most = most_probes_running.load();
  while (running > most &&
         !most_probes_running.compare_exchange_weak(most, running)) {
  }
  int number = std::stoi(path);
  std::this_thread::sleep_for(std::chrono::microseconds(number * 37 % 200));
  --probes_running;
  ProbeResult result;
  result.status = number % 5 == 0 ? ProbeStatus::no_marker : ProbeStatus::ok;
  result.info.width = number;
  return result;
}

ProbeResult failing_probe(const std::string& path) {
  if (path == "13") throw std::bad_alloc();
  return slow_probe(path);
}

struct Handed {
  std::vector<std::string> paths;
  std::size_t most_in_flight = 0;
};

ProbePool::ResultHandler collect(Handed& handed, const ProbePool& pool) {
  return [&handed, &pool](const std::string& path, const ProbeResult& result) {
    EXPECT_EQ(result.info.width, std::stoi(path));
    handed.paths.push_back(path);
    handed.most_in_flight = std::max(handed.most_in_flight, pool.in_flight());
  };
}

std::vector<std::string> numbers(int from, int to) {
  std::vector<std::string> out;
  for (int i = from; i < to; ++i) out.push_back(std::to_string(i));
  return out;
}

struct PoolShape {
  unsigned threads;
  std::size_t window;
};

class PoolOrder : public ::testing::TestWithParam<PoolShape> {};

TEST_P(PoolOrder, HandsResultsBackInQueueOrderWithinTheWindow) {
  probes_running = 0;
  most_probes_running = 0;
  ProbePool pool(GetParam().threads, GetParam().window, slow_probe);
  Handed handed;
  auto handle = collect(handed, pool);
  std::vector<std::string> files = numbers(1, 400);
  for (const std::string& file : files) {
    pool.submit(file, handle);
    EXPECT_LE(pool.in_flight(), GetParam().window);
  }
  pool.drain(handle);
  EXPECT_EQ(handed.paths, files);
  EXPECT_EQ(pool.in_flight(), 0u);
  // The queuing thread may probe too, while it waits.
  EXPECT_LE(most_probes_running.load(),
            static_cast<int>(GetParam().threads) + 1);
}

INSTANTIATE_TEST_SUITE_P(Shapes, PoolOrder,
                         ::testing::Values(PoolShape{0, 8}, PoolShape{1, 1},
                                           PoolShape{3, 4}, PoolShape{8, 64}));

TEST(ProbePool, ProbeExceptionComesOutWhereItsResultWouldBe) {
  ProbePool pool(4, 8, failing_probe);
  Handed handed;
  auto handle = collect(handed, pool);
  EXPECT_THROW(
      {
        for (const std::string& file : numbers(1, 40))
          pool.submit(file, handle);
        pool.drain(handle);
      },
      std::bad_alloc);
  EXPECT_EQ(handed.paths, numbers(1, 13));
  pool.discard();
  EXPECT_EQ(pool.in_flight(), 0u);

  // Nothing of the abandoned files reaches the next run.
  handed.paths.clear();
  for (const std::string& file : numbers(100, 130)) pool.submit(file, handle);
  pool.drain(handle);
  EXPECT_EQ(handed.paths, numbers(100, 130));
}

TEST(ProbePool, OneFileNeedsNoThreadToEnd) {
  ProbePool pool(4, 8, slow_probe);
  Handed handed;
  auto handle = collect(handed, pool);
  pool.submit("7", handle);
  pool.drain(handle);
  EXPECT_EQ(handed.paths, std::vector<std::string>{"7"});
}

}  // namespace
}  // namespace ostrel
