// The pools change when files are probed and directories read, never what
// is printed: on a tree with failures, nested directories, a link cycle and
// a listing that runs out of memory, runs with pools of probes and with
// directories read ahead (every call of the file system delayed a little,
// at random) print the same bytes as a run that reads each directory and
// probes each file in turn; so do runs with few descriptors, with an
// ancestor renamed, with a directory whose read is held up, and with
// listings read ahead that went stale while the tree changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/prober.h"
#include "cli/report.h"
#include "cli/session.h"
#include "support/jpeg_writer.h"
#include "support/memory_fs.h"

namespace ostrel {
namespace {

using test::FrameKind;
using test::JpegWriterOptions;
using test::MemoryFileSystem;
using test::PathRules;

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
// opened and a link back to the top; `/` separates under POSIX rules.
using Tree = std::vector<std::pair<std::string, std::vector<unsigned char>>>;

Tree make_tree(char separator) {
  const char* const directories[] = {"t",          "t/b",           "t/A",
                                     "t/A/deep", "t/A/deep/er", "t/c"};
  const char* const extensions[] = {".jpg", ".JPG", ".png", ".Jpg"};
  Tree tree;
  int i = 0;
  for (const char* directory : directories) {
    for (int k = 0; k < 12; ++k, ++i) {
      std::string name =
          (k % 2 ? "img" : "IMG") + std::to_string(i) + extensions[i % 4];
      std::string path = std::string(directory) + "/" + name;
      std::replace(path.begin(), path.end(), '/', separator);
      tree.emplace_back(path, file_bytes(i));
    }
  }
  return tree;
}

std::string native(std::string text, PathRules rules) {
  if (rules == PathRules::windows)
    std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

void fill(MemoryFileSystem& fs, const Tree& tree, PathRules rules) {
  for (const auto& [path, bytes] : tree) fs.add_file(path, bytes);
  fs.add_unreadable_file(native("t/b/gone.jpg", rules));
  fs.add_link(native("t/A/deep/loop", rules), "t");
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
// with up to `reads` directories read ahead; a search that runs out of
// memory, named by its text and the how-manieth of that text it is.
struct Shape {
  unsigned threads = 0;
  std::size_t window = 0;
  unsigned reads = 0;
};
struct Failing {
  std::string text;
  int occurrence = 0;
};

// What else a run meets: the rules of its file system, the handles it may
// hold (0: any number), the descriptors the run believes it has, what
// becomes of the tree and when (after a search, or as a line is printed),
// and how long a listing read ahead stays good.
struct Setting {
  PathRules rules = PathRules::windows;
  int handle_limit = 0;
  std::size_t descriptors = SIZE_MAX;
  std::function<void(MemoryFileSystem&)> change;
  std::string change_after_search;
  std::string change_at_line;
  // The change at that line waits for `t/b` and `t/c` to be read ahead.
  bool change_after_reads_ahead = false;
  std::function<void(test::Call, const std::string&)> watcher;
  std::optional<std::chrono::milliseconds> listing_lifetime;
};

// A pause of a few microseconds, the same for a call whenever it is made.
void pause_for(const std::string& text) {
  std::size_t hash = std::hash<std::string>()(text);
  std::this_thread::sleep_for(std::chrono::microseconds(hash % 40));
}

// Waits until the reads ahead of `t/b` and `t/c` have listed them; ten
// seconds at most.
void wait_until_read_ahead(const MemoryFileSystem& fs) {
  auto listed = [&fs] {
    std::vector<std::string> searches = fs.searches();
    auto has = [&](const char* text) {
      return std::find(searches.begin(), searches.end(), text) !=
             searches.end();
    };
    return has("t/b/*.jpg") && has("t/c/*.jpg");
  };
  for (int i = 0; i < 1000 && !listed(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(listed());
}


// Every argument, on a fresh tree.
Outcome run_all(const Tree& tree, const std::vector<std::string>& arguments,
                RunOptions options, const Failing& failing,
                const Shape& shape = {}, const Setting& setting = {}) {
  Outcome outcome;
  MemoryFileSystem fs(setting.rules);
  fill(fs, tree, setting.rules);
  fs.fail_search_of(failing.text, failing.occurrence);
  if (setting.watcher)
    fs.watch(setting.watcher);
  else if (shape.reads > 0)
    fs.watch([](test::Call, const std::string& text) { pause_for(text); });
  if (setting.handle_limit > 0) fs.set_handle_limit(setting.handle_limit);
  if (!setting.change_after_search.empty())
    fs.change_after_search(setting.change_after_search,
                           [&] { setting.change(fs); });
  DescriptorBudget budget = budget_descriptors(setting.descriptors);
  char separator = setting.rules == PathRules::windows ? '\\' : '/';
  DirectoryCache cache(fs, budget.directories, separator);
  Latency latency;
  Prober prober(cache, latency,
                {shape.threads, shape.window, shape.threads, shape.window});
  DirectoryReads reads(latency, std::min(shape.reads, budget.reads), 8);
  reads.read_ahead_always();
  if (setting.listing_lifetime)
    reads.set_listing_lifetime(*setting.listing_lifetime);
  bool changed = false;
  LinePrinter print = [&](std::string_view line) {
    outcome.output += line;
    if (!changed && !setting.change_at_line.empty() &&
        line.substr(0, setting.change_at_line.size()) ==
            setting.change_at_line) {
      changed = true;
      if (setting.change_after_reads_ahead) wait_until_read_ahead(fs);
      setting.change(fs);
    }
  };
  ArgumentRun run{setting.rules == PathRules::windows ? windows_path_style({})
                                                       : posix_path_style(),
                  cache, prober, print, options, &reads};
  for (const std::string& argument : arguments) {
    if (shape.window > 0)
      run_argument(run, argument);
    else
      run_in_turn(run, argument);
  }
  outcome.searches = fs.searches();
  return outcome;
}

const std::vector<std::string> ARGUMENTS{"t", "t/A", "t/A/i*", "t/nosuch"};

RunOptions recursive_with_summary() {
  RunOptions options;
  options.recursive = true;
  options.summary = true;
  return options;
}

std::vector<std::string> native_arguments(PathRules rules) {
  std::vector<std::string> arguments;
  for (const std::string& argument : ARGUMENTS)
    arguments.push_back(native(argument, rules));
  return arguments;
}

TEST(PoolEquivalence, PooledRunPrintsWhatTheSequentialRunPrints) {
  const Tree tree = make_tree('\\');
  const std::vector<std::string> arguments =
      native_arguments(PathRules::windows);
  RunOptions options = recursive_with_summary();

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
            << shape.threads << " threads, " << shape.reads << " read ahead";
    }
  }
}

// Holds the opening of `t/b` until a file of `t/A/deep/er`, which comes
// before it in walk order, is opened: a walk that waited for `t/b` before
// it walked that far would never get there, and after 10 s the opening
// goes on and the row fails.
class HeldUpDirectory {
 public:
  void operator()(test::Call call, const std::string& text) {
    std::unique_lock lock(mutex_);
    if (call == test::Call::open_file && text.rfind("t/A/deep/er/", 0) == 0) {
      walked_past_ = true;
      released_.notify_all();
    } else if (call == test::Call::open_subdirectory && text == "t/b/" &&
               !released_.wait_for(lock, std::chrono::seconds(10),
                                   [this] { return walked_past_; })) {
      timed_out_ = true;
    }
  }
  bool timed_out() {
    std::lock_guard lock(mutex_);
    return timed_out_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool walked_past_ = false;
  bool timed_out_ = false;
};

// Under POSIX rules, with handles that run out, an ancestor renamed while
// the walk is below it, a directory whose read is held up, and listings
// read ahead that went stale while the walk was held up and the tree
// changed: a listing read again when the walk takes it shows the change, as
// the walk that reads each directory when it gets there does.
TEST(PoolEquivalence, PosixRunsWithFewHandlesRenamesAndStaleListings) {
  const Tree tree = make_tree('/');
  const std::vector<std::string> arguments = native_arguments(PathRules::posix);
  const RunOptions options = recursive_with_summary();
  auto with = [](Setting setting, auto edit) {
    edit(setting);
    return setting;
  };
  const Setting posix =
      with(Setting(), [](Setting& s) { s.rules = PathRules::posix; });
  const std::vector<Shape> pooled{Shape{3, 4, 0}, Shape{8, 256, 16}};
  // Probes in turn, so that the walk is held where a line is printed.
  const std::vector<Shape> printing_in_turn{Shape{0, 1, 16}};
  struct Row {
    const char* name;
    Setting setting;
    std::vector<Shape> shapes;
    // `t/b` is held up while it is read ahead.
    bool held_up = false;
  };
  const Row rows[] = {
      {"plenty of handles", posix, pooled},
      {"a budget of 12 descriptors", with(posix, [](Setting& s) {
         s.handle_limit = 12;
         s.descriptors = 12;
       }), pooled},
      {"handles running out before the budget says",
       with(posix, [](Setting& s) {
         s.handle_limit = 9;
         s.descriptors = 64;
       }), pooled},
      {"an ancestor renamed while the walk is below it",
       with(posix, [](Setting& s) {
         s.change = [](MemoryFileSystem& fs) { fs.rename("t/A", "t/Z"); };
         s.change_at_line = "t/A/deep/IMG36";
       }), pooled},
      {"a directory whose read is held up", posix, {Shape{8, 256, 16}}, true},
      // Held at the first file of `t/A` until `t/b` and `t/c`, after it in
      // walk order, are read ahead; then they change, and so does a
      // directory below `t/A` that is read later.
      {"listings read ahead, then changed", with(posix, [](Setting& s) {
         s.change = [](MemoryFileSystem& fs) {
           fs.add_file("t/b/new.jpg", file_bytes(0));
           fs.remove("t/c/IMG60.jpg");
           fs.rename("t/A/deep/er", "t/A/deep/moved");
         };
         s.change_at_line = "t/A/IMG24";
         s.change_after_reads_ahead = true;
         s.listing_lifetime = std::chrono::milliseconds(0);
       }), printing_in_turn},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Setting reference = posix;
    reference.change = row.setting.change;
    reference.change_at_line = row.setting.change_at_line;
    std::string expected =
        run_all(tree, arguments, options, {}, {}, reference).output;
    for (const Shape& shape : row.shapes) {
      Setting setting = row.setting;
      auto held_up = std::make_shared<HeldUpDirectory>();
      if (row.held_up)
        setting.watcher = [held_up](test::Call call, const std::string& text) {
          (*held_up)(call, text);
        };
      EXPECT_EQ(run_all(tree, arguments, options, {}, shape, setting).output,
                expected)
          << shape.threads << " threads, " << shape.reads << " read ahead";
      EXPECT_FALSE(held_up->timed_out());
    }
  }
}

}  // namespace
}  // namespace ostrel
