// The pool on its own: jobs that take a while that varies from job to job,
// so later ones often end before earlier ones, come back in queue order.
#include "pool/ordered_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ostrel {
namespace {

// Each job squares its number after a pause of its own; job `throwing`
// throws, and a job whose number is a multiple of `alone_every` asks to run
// again with nothing else in flight.
struct Squares {
  struct Job {
    int number = 0;
    long result = 0;
    bool ran_alone = false;
  };
  struct Worker {
    int started = 0;
  };

  int throwing = -1;
  int alone_every = 0;
  // Whether each job pauses a while of its own, and how long it waits
  // besides, as on a slow disk.
  bool pauses = true;
  std::chrono::microseconds wait{0};
  std::atomic<int> running{0};
  std::atomic<int> most_running{0};
  std::vector<int> handed;
  std::vector<int> dropped;
  std::vector<int> running_beside_alone;
  std::size_t in_flight_at_most = 0;

  Worker make_worker() { return Worker{1}; }

  void run(Job& job, Worker*, bool) {
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
  bool must_run_alone(const Job& job) const {
    return alone_every > 0 && job.number % alone_every == 0 && !job.ran_alone;
  }
  void run_alone(Job& job) {
    running_beside_alone.push_back(running.load());
    job.ran_alone = true;
  }
  void hand_over(Job& job) {
    EXPECT_EQ(job.result, static_cast<long>(job.number) * job.number);
    EXPECT_EQ(job.ran_alone, alone_every > 0 && job.number % alone_every == 0);
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
  squares.alone_every = 50;
  Pool pool(squares, fixed(GetParam().threads, GetParam().window));
  submit_all(pool, numbers(1, 400));
  pool.drain();
  EXPECT_EQ(squares.handed, numbers(1, 400));
  // Jobs in flight never outnumber the window; the queuing thread may run
  // one too, while it waits.
  EXPECT_LE(squares.most_running.load(),
            static_cast<int>(std::min<std::size_t>(GetParam().threads + 1,
                                                   GetParam().window)));
  for (int beside : squares.running_beside_alone) EXPECT_EQ(beside, 0);
  EXPECT_EQ(squares.running_beside_alone.size(), 7u);
}

INSTANTIATE_TEST_SUITE_P(Shapes, PoolOrder,
                         ::testing::Values(PoolShape{0, 1}, PoolShape{1, 1},
                                           PoolShape{3, 4}, PoolShape{8, 64}));

TEST(OrderedPool, JobExceptionComesOutWhereItWouldBeHandedOver) {
  Squares squares;
  squares.throwing = 13;
  Pool pool(squares, fixed(4, 8));
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
  Pool pool(squares, fixed(4, 64), 10);
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
    Pool pool(squares, {2, 8, 16, 64});
    submit_all(pool, numbers(1, 300));
    pool.drain();
    EXPECT_EQ(squares.handed, numbers(1, 300));
    EXPECT_GE(squares.most_running.load(), row.fewest_running);
    EXPECT_LE(squares.most_running.load(), row.most_running);
  }
}

TEST(OrderedPool, OneJobNeedsNoThreadToEnd) {
  Squares squares;
  Pool pool(squares, fixed(4, 8));
  submit_all(pool, {7});
  pool.drain();
  EXPECT_EQ(squares.handed, std::vector<int>{7});
}

}  // namespace
}  // namespace ostrel
