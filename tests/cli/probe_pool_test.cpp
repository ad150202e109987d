#include "cli/probe_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/jpeg_writer.h"
#include "support/memory_fs.h"

namespace ostrel {
namespace {

// Files named by their number, each a JPEG whose width is that number, but
// for every fifth, which has no frame. Opening one takes a while that varies
// from file to file, so later files often finish before earlier ones; the
// file named `throwing`, if any, throws on its open.
void add_numbered_files(test::MemoryFileSystem& fs, int from, int to,
                        const std::string& throwing = "") {
  for (int i = from; i < to; ++i) {
    test::JpegWriterOptions options;
    options.width = i;
    options.exif = false;
    options.entropy_size = 16;
    if (i % 5 == 0) options.frame = test::FrameKind::none;
    fs.add_file(std::to_string(i), test::make_jpeg(options).bytes);
  }
  fs.watch([throwing](test::Call call, const std::string& path) {
    if (call != test::Call::open_file) return;
    if (path == throwing) throw std::runtime_error("probe failed");
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::stoi(path) * 37 % 200));
  });
}

struct Handed {
  std::vector<std::string> paths;
  std::size_t most_in_flight = 0;
};

ProbePool::ResultHandler collect(Handed& handed, const ProbePool& pool) {
  return [&handed, &pool](const std::string& path, const ProbeResult& result) {
    int number = std::stoi(path);
    EXPECT_EQ(result.status,
              number % 5 ? ProbeStatus::ok : ProbeStatus::no_marker);
    if (result.status == ProbeStatus::ok) {
      EXPECT_EQ(result.info.width, number);
    }
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
  test::MemoryFileSystem fs;
  add_numbered_files(fs, 1, 400);
  ProbePool pool(fs, GetParam().threads, GetParam().window);
  const DirectoryHandle root = fs.open_directory("").directory;
  Handed handed;
  auto handle = collect(handed, pool);
  std::vector<std::string> files = numbers(1, 400);
  for (const std::string& file : files) {
    pool.submit(FoundFile{root, file, file}, handle);
    EXPECT_LE(pool.in_flight(), GetParam().window);
  }
  pool.drain(handle);
  EXPECT_EQ(handed.paths, files);
  EXPECT_EQ(pool.in_flight(), 0u);
  // The queuing thread may probe too, while it waits.
  EXPECT_LE(fs.most_open_files(), static_cast<int>(GetParam().threads) + 1);
}

INSTANTIATE_TEST_SUITE_P(Shapes, PoolOrder,
                         ::testing::Values(PoolShape{0, 8}, PoolShape{1, 1},
                                           PoolShape{3, 4}, PoolShape{8, 64}));

TEST(ProbePool, ProbeExceptionComesOutWhereItsResultWouldBe) {
  test::MemoryFileSystem fs;
  add_numbered_files(fs, 1, 130, "13");
  ProbePool pool(fs, 4, 8);
  const DirectoryHandle root = fs.open_directory("").directory;
  Handed handed;
  auto handle = collect(handed, pool);
  EXPECT_THROW(
      {
        for (const std::string& file : numbers(1, 40))
          pool.submit(FoundFile{root, file, file}, handle);
        pool.drain(handle);
      },
      std::runtime_error);
  EXPECT_EQ(handed.paths, numbers(1, 13));
  pool.discard();
  EXPECT_EQ(pool.in_flight(), 0u);

  // Nothing of the abandoned files reaches the next run.
  handed.paths.clear();
  for (const std::string& file : numbers(100, 130))
    pool.submit(FoundFile{root, file, file}, handle);
  pool.drain(handle);
  EXPECT_EQ(handed.paths, numbers(100, 130));
}

TEST(ProbePool, OneFileNeedsNoThreadToEnd) {
  test::MemoryFileSystem fs;
  add_numbered_files(fs, 7, 8);
  ProbePool pool(fs, 4, 8);
  const DirectoryHandle root = fs.open_directory("").directory;
  Handed handed;
  auto handle = collect(handed, pool);
  const std::string seven = "7";
  pool.submit(FoundFile{root, seven, seven}, handle);
  pool.drain(handle);
  EXPECT_EQ(handed.paths, std::vector<std::string>{"7"});
}

}  // namespace
}  // namespace ostrel
