// The pool on its own: jobs that take a while that varies from job to job,
// so later ones often end before earlier ones, come back in queue order.
#include "pool/ordered_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ostrel {
namespace {

// Each job squares its number after a pause of its own; job `throwing`
// throws.
struct Squares {
  struct Job {
    int number = 0;
    long result = 0;
  };
  struct Worker {
    int started = 0;
  };

  int throwing = -1;
  // Whether each job pauses a while of its own, and how long it waits
  // besides, as on a slow disk.
  bool pauses = true;
  std::chrono::microseconds wait{0};
  std::atomic<int> running{0};
  std::atomic<int> most_running{0};
  std::vector<int> handed;
  std::vector<int> dropped;

  Worker make_worker() { return Worker{1}; }

  void run(Job& job, Worker*) {
    int now = ++running;
    int most = most_running.load();
    while (now > most && !most_running.compare_exchange_weak(most, now)) {
    }
    if (pauses)
      std::this_thread::sleep_for(
          std::chrono::microseconds(job.number * 37 % 200) + wait);
    --running;
    if (job.number == throwing) throw std::runtime_error("job failed");
    job.result = static_cast<long>(job.number) * job.number;
  }
  void hand_over(Job& job) {
    EXPECT_EQ(job.result, static_cast<long>(job.number) * job.number);
    handed.push_back(job.number);
  }
  void drop(Job& job) { dropped.push_back(job.number); }
};

using Pool = OrderedPool<Squares>;

std::vector<int> numbers(int from, int to) {
  std::vector<int> out;
  for (int i = from; i < to; ++i) out.push_back(i);
  return out;
}

void submit_all(Pool& pool, const std::vector<int>& jobs,
                std::size_t weight = 0) {
  for (int number : jobs)
    pool.submit([number](Squares::Job& job) { job = Squares::Job{number}; },
                weight);
}

struct PoolShape {
  unsigned threads;
  std::size_t window;
};

Pool::Shape fixed(unsigned threads, std::size_t window) {
  return {threads, window, threads, window};
}

class PoolOrder : public ::testing::TestWithParam<PoolShape> {};

TEST_P(PoolOrder, HandsJobsBackInQueueOrderWithinTheWindow) {
  Squares squares;
  Latency latency;
  Pool pool(squares, fixed(GetParam().threads, GetParam().window), latency);
  submit_all(pool, numbers(1, 400));
  pool.drain();
  EXPECT_EQ(squares.handed, numbers(1, 400));
  // Jobs in flight never outnumber the window; the queuing thread may run
  // one too, while it waits.
  EXPECT_LE(squares.most_running.load(),
            static_cast<int>(std::min<std::size_t>(GetParam().threads + 1,
                                                   GetParam().window)));
}

INSTANTIATE_TEST_SUITE_P(Shapes, PoolOrder,
                         ::testing::Values(PoolShape{0, 1}, PoolShape{1, 1},
                                           PoolShape{3, 4}, PoolShape{8, 64}));

TEST(OrderedPool, JobExceptionComesOutWhereItWouldBeHandedOver) {
  Squares squares;
  squares.throwing = 13;
  Latency latency;
  Pool pool(squares, fixed(4, 8), latency);
  EXPECT_THROW(
      {
        submit_all(pool, numbers(1, 40));
        pool.drain();
      },
      std::runtime_error);
  EXPECT_EQ(squares.handed, numbers(1, 13));
  pool.discard();

  // Nothing of the abandoned jobs reaches the next run.
  squares.handed.clear();
  submit_all(pool, numbers(100, 130));
  pool.drain();
  EXPECT_EQ(squares.handed, numbers(100, 130));
  EXPECT_FALSE(squares.dropped.empty());
}

TEST(OrderedPool, WeightInFlightStaysWithinItsBound) {
  Squares squares;
  Latency latency;
  Pool pool(squares, fixed(4, 64), latency, 10);
  submit_all(pool, numbers(1, 100), 4);
  pool.drain();
  EXPECT_EQ(squares.handed, numbers(1, 100));
  // Two jobs of weight 4 fit a bound of 10.
  EXPECT_LE(squares.most_running.load(), 2);
}

// Jobs that wait get more threads and a larger window than jobs that keep
// a processor busy, up to what the shape allows.
TEST(OrderedPool, WaitingJobsGetAsManyThreadsAsTheyCallFor) {
  struct Row {
    bool pauses;
    std::chrono::microseconds wait;
    int fewest_running;
    int most_running;
  };
  const Row rows[] = {{false, std::chrono::microseconds(0), 1, 3},
                      {true, std::chrono::microseconds(2000), 6, 17}};
  for (const Row& row : rows) {
    Squares squares;
    squares.pauses = row.pauses;
    squares.wait = row.wait;
    Latency latency;
    Pool pool(squares, {2, 8, 16, 64}, latency);
    submit_all(pool, numbers(1, 300));
    pool.drain();
    EXPECT_EQ(squares.handed, numbers(1, 300));
    EXPECT_GE(squares.most_running.load(), row.fewest_running);
    EXPECT_LE(squares.most_running.load(), row.most_running);
  }
}

TEST(OrderedPool, OneJobNeedsNoThreadToEnd) {
  Squares squares;
  Latency latency;
  Pool pool(squares, fixed(4, 8), latency);
  submit_all(pool, {7});
  pool.drain();
  EXPECT_EQ(squares.handed, std::vector<int>{7});
  EXPECT_EQ(pool.thread_count(), 0u);
}

// Many runs on one pool, each ended by a drain, by a discard part way or by
// a job that throws, while the latency swings between quick and waiting
// (which grows the ring once and moves the window): every job is handed
// over or dropped at most once, the handed ones in queue order, and nothing
// of one run reaches the next. CI runs it under ThreadSanitizer, which sees
// the slots change hands between the threads.
TEST(OrderedPool, EveryWayARunCanEndUnderLoad) {
  Squares squares;
  Latency latency;
  Pool pool(squares, {3, 4, 12, 64}, latency);
  unsigned seed = 12345;
  auto next_random = [&seed](unsigned below) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % below;
  };
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    squares.handed.clear();
    squares.dropped.clear();
    squares.pauses = next_random(2) == 0;
    for (int i = 0; i < 8; ++i)
      latency.record(next_random(3) == 0 ? std::chrono::milliseconds(2)
                                         : std::chrono::microseconds(1));
    int first = round * 1000;
    int count = 1 + static_cast<int>(next_random(150));
    unsigned ending = next_random(3);
    squares.throwing = ending == 2 ? first + static_cast<int>(next_random(
                                                 static_cast<unsigned>(count)))
                                   : -1;
    try {
      submit_all(pool, numbers(first, first + count));
      if (ending == 1)
        pool.discard();
      else
        pool.drain();
    } catch (const std::runtime_error&) {
      pool.discard();
    }
    std::vector<int> seen = squares.handed;
    seen.insert(seen.end(), squares.dropped.begin(), squares.dropped.end());
    std::sort(seen.begin(), seen.end());
    // A job that throws stops the queuing where it is handed over.
    EXPECT_EQ(seen, numbers(first, first + static_cast<int>(seen.size())));
    if (ending != 2) {
      EXPECT_EQ(seen.size(), static_cast<std::size_t>(count));
    }
    EXPECT_TRUE(std::is_sorted(squares.handed.begin(), squares.handed.end()));
    if (ending == 0) {
      EXPECT_EQ(squares.handed, numbers(first, first + count));
    }
  }
}

}  // namespace
}  // namespace ostrel
