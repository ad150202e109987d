// The pool changes when files are probed, never what is printed: on a tree
// on disk with failures, nested directories, a link cycle and a listing that
// runs out of memory, the pooled run prints the same bytes as the run that
// probes each file in turn.
#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "cli/probe_pool.h"
#include "cli/report.h"
#include "support/forwarding_fs.h"
#include "support/jpeg_writer.h"
#include "support/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using testing::ForwardingFileSystem;
using testing::FrameKind;
using testing::JpegWriterOptions;

// The disk, except that the `fail_at`th search runs out of memory.
class FailingSearch final : public ForwardingFileSystem {
 public:
  FailingSearch(FileSystem& disk, int fail_at)
      : ForwardingFileSystem(disk), fail_at_(fail_at) {}

  bool search(
      const std::string& text,
      const std::function<bool(const DirectoryEntry&)>& on_entry) override {
    if (++searches_ == fail_at_) throw std::bad_alloc();
    return ForwardingFileSystem::search(text, on_entry);
  }
  int searches() const { return searches_; }

 private:
  int fail_at_;
  int searches_ = 0;
};

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

// Three levels of directories with a dozen files each, in mixed-case names,
// a few that the pattern skips, a dangling link that cannot be opened and,
// where the platform allows, a link back to the top.
void make_tree(const fs::path& root) {
  const char* const directories[] = {"", "b", "A", "A/deep", "A/deep/er", "c"};
  const char* const extensions[] = {".jpg", ".JPG", ".png", ".Jpg"};
  int i = 0;
  for (const char* directory : directories) {
    fs::create_directories(root / directory);
    for (int k = 0; k < 12; ++k, ++i) {
      std::string name =
          (k % 2 ? "img" : "IMG") + std::to_string(i) + extensions[i % 4];
      testing::write_file(root / directory / name, file_bytes(i));
    }
  }
  try {
    fs::create_symlink(root / "nowhere", root / "b" / "gone.jpg");
    fs::create_directory_symlink("../..", root / "A" / "deep" / "loop");
  } catch (const fs::filesystem_error&) {
    // No links here: the rest of the tree still counts.
  }
}

struct Outcome {
  std::string output;
  int searches = 0;
};

Outcome run_all(const std::vector<std::string>& arguments, RunOptions options,
                ProbePool* pool, int fail_at) {
  Outcome outcome;
  FailingSearch fs(disk_file_system(), fail_at);
  ArgumentRun run{native_path_style(), fs,
                  [&outcome](std::string_view line) { outcome.output += line; },
                  options, pool};
  for (const std::string& argument : arguments) run_argument(run, argument);
  outcome.searches = fs.searches();
  return outcome;
}

TEST(PoolEquivalence, PooledRunPrintsWhatTheSequentialRunPrints) {
  testing::TempDir dir;
  make_tree(dir.path());
  std::string root = dir.path().generic_string();
  std::vector<std::string> arguments{root, root + "/A", root + "/A/i*",
                                     root + "/nosuch"};
  RunOptions options;
  options.recursive = 1;
  options.summary = 1;

  Outcome whole = run_all(arguments, options, nullptr, 0);
  ASSERT_GT(whole.searches, 10);
  ASSERT_NE(whole.output.find("can't find marker"), std::string::npos);
  ProbePool narrow(3, 4);
  ProbePool wide(8, 64);
  for (int verbosity : {0, 2}) {
    options.verbosity = verbosity;
    // Every search in turn runs out of memory, and then none.
    for (int fail_at = 1; fail_at <= whole.searches + 1; ++fail_at) {
      SCOPED_TRACE("verbosity " + std::to_string(verbosity) + ", search " +
                   std::to_string(fail_at) + " fails");
      std::string expected =
          run_all(arguments, options, nullptr, fail_at).output;
      if (fail_at <= whole.searches) {
        ASSERT_NE(expected.find("memory error"), std::string::npos);
      }
      EXPECT_EQ(run_all(arguments, options, &narrow, fail_at).output, expected);
      EXPECT_EQ(run_all(arguments, options, &wide, fail_at).output, expected);
    }
  }
}

}  // namespace
}  // namespace ostrel
