// The pools change when files are probed and directories read, never what
// is printed: on a tree with failures, nested directories, a link cycle and
// a listing that runs out of memory, runs with pools of probes and with
// directories read ahead (every call of the file system delayed a little,
// at random) print the same bytes as a run that reads each directory and
// probes each file in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/prober.h"
#include "cli/report.h"
#include "support/jpeg_writer.h"
#include "support/memory_fs.h"

namespace ostrel {
namespace {

using test::FrameKind;
using test::JpegWriterOptions;
using test::MemoryFileSystem;

std::vector<unsigned char> file_bytes(int i) {
  JpegWriterOptions options;
  options.width = 100 + i;
  options.height = 50 + i % 7;
  options.thumbnail_size = static_cast<std::size_t>(i * 97 % 9000);
  options.entropy_size = 64;
  switch (i % 6) {
    case 1:
      options.frame = FrameKind::progressive;
      break;
    case 2:
      options.frame = FrameKind::extended;
      break;  // no marker
    case 3:
      options.truncate_at = 300;
      break;  // cut in Exif
    case 4:
      options.truncate_at = 0;
      break;  // empty
    default:
      break;
  }
  return make_jpeg(options).bytes;
}

// Three levels of directories under `t` with a dozen files each, in
// mixed-case names, a few that the pattern skips, a file that cannot be
// opened and a link back to the top.
using Tree = std::vector<std::pair<std::string, std::vector<unsigned char>>>;

Tree make_tree() {
  const char* const directories[] = {"t",          "t\\b",           "t\\A",
                                     "t\\A\\deep", "t\\A\\deep\\er", "t\\c"};
  const char* const extensions[] = {".jpg", ".JPG", ".png", ".Jpg"};
  Tree tree;
  int i = 0;
  for (const char* directory : directories) {
    for (int k = 0; k < 12; ++k, ++i) {
      std::string name =
          (k % 2 ? "img" : "IMG") + std::to_string(i) + extensions[i % 4];
      tree.emplace_back(std::string(directory) + "\\" + name, file_bytes(i));
    }
  }
  return tree;
}

void fill(MemoryFileSystem& fs, const Tree& tree) {
  for (const auto& [path, bytes] : tree) fs.add_file(path, bytes);
  fs.add_unreadable_file("t\\b\\gone.jpg");
  fs.add_link("t\\A\\deep\\loop", "t");
}

// The reference: each file probed when the walk meets it.
void run_in_turn(const ArgumentRun& run, const std::string& argument) {
  RunTotals totals;
  WalkResult walked = walk_pattern(
      run.style, run.cache, argument, "*.jpg",
      [&](const FoundFile& file) {
        ProbeResult result = probe_jpeg([&] {
          return run.cache.open_file(file.directory, file.name, file.path);
        });
        report_result(file.path, result, totals, run.options.verbosity,
                      run.print);
      },
      run.options.recursive);
  if (walked.code == WALK_NO_MEMORY)
    print_memory_error(walked.listing,
                       walked.subdirectory ? *walked.subdirectory : argument,
                       run.print);
  if (run.options.summary) run.print(format_summary_line(totals));
}

struct Outcome {
  std::string output;
  std::vector<std::string> searches;
};

// How a run goes: in turn, or through a pool of `threads` and `window`,
// with up to `reads_ahead` directories read ahead; a search that runs out
// of memory, named by its text and the how-manieth of that text it is.
struct Shape {
  unsigned threads = 0;
  std::size_t window = 0;
  unsigned reads_ahead = 0;
};
struct Failing {
  std::string text;
  int occurrence = 0;
};

// A pause of a few microseconds, the same for a call whenever it is made.
void pause_for(const std::string& text) {
  std::size_t hash = std::hash<std::string>()(text);
  std::this_thread::sleep_for(std::chrono::microseconds(hash % 40));
}

// Every argument, on a fresh tree.
Outcome run_all(const Tree& tree, const std::vector<std::string>& arguments,
                RunOptions options, const Failing& failing,
                const Shape& shape = {}) {
  Outcome outcome;
  MemoryFileSystem fs;
  fill(fs, tree);
  fs.fail_search_of(failing.text, failing.occurrence);
  if (shape.reads_ahead > 0)
    fs.watch([](test::Call, const std::string& text) { pause_for(text); });
  DirectoryCache cache(fs, DEFAULT_OPEN_DIRECTORIES, '\\');
  Prober prober(cache, {shape.threads, shape.window, shape.threads,
                        shape.window});
  ReadAhead ahead("*.jpg", shape.reads_ahead, READ_AHEAD_BYTES,
                  [] { return true; });
  ArgumentRun run{windows_path_style({}), cache, prober,
                  [&outcome](std::string_view line) { outcome.output += line; },
                  options, &ahead};
  for (const std::string& argument : arguments) {
    if (shape.window > 0)
      run_argument(run, argument);
    else
      run_in_turn(run, argument);
  }
  outcome.searches = fs.searches();
  return outcome;
}

TEST(PoolEquivalence, PooledRunPrintsWhatTheSequentialRunPrints) {
  const Tree tree = make_tree();
  const std::vector<std::string> arguments{"t", "t\\A", "t\\A\\i*",
                                           "t\\nosuch"};
  RunOptions options;
  options.recursive = true;
  options.summary = true;

  Outcome whole = run_all(tree, arguments, options, {});
  ASSERT_GT(whole.searches.size(), 10u);
  ASSERT_NE(whole.output.find("can't find marker"), std::string::npos);
  ASSERT_NE(whole.output.find("can't open file"), std::string::npos);
  // Every search in turn runs out of memory, and then none.
  std::vector<Failing> failures;
  for (std::size_t i = 0; i < whole.searches.size(); ++i) {
    const std::string& text = whole.searches[i];
    auto first = whole.searches.begin();
    failures.push_back(Failing{
        text, static_cast<int>(std::count(first, first + i + 1, text))});
  }
  failures.push_back({});
  for (int verbosity : {0, 2}) {
    options.verbosity = verbosity;
    for (const Failing& failing : failures) {
      SCOPED_TRACE("verbosity " + std::to_string(verbosity) + ", search " +
                   failing.text + " (" + std::to_string(failing.occurrence) +
                   ") fails");
      std::string expected = run_all(tree, arguments, options, failing).output;
      if (failing.occurrence > 0) {
        ASSERT_NE(expected.find("memory error"), std::string::npos);
      }
      for (const Shape& shape :
           {Shape{3, 4, 0}, Shape{8, 64, 0}, Shape{8, 256, 16}})
        EXPECT_EQ(run_all(tree, arguments, options, failing, shape).output,
                  expected)
            << shape.threads << " threads, " << shape.reads_ahead
            << " read ahead";
    }
  }
}

}  // namespace
}  // namespace ostrel
