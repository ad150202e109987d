// Runs the built program against a tree made in a temporary folder and
// compares standard output byte for byte, the exit status and an empty
// standard error.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "e2e/process.h"
#include "support/jpeg_writer.h"
#include "support/temp_dir.h"

namespace ostrel::test {
namespace {

namespace fs = std::filesystem;

const std::string USAGE =
    "usage:ostrel [-v[012]] [-r] [-s] file ...\n"
    "\t-v: verbose, -v0: quiet, -v1: width/height only, -v2: bytes\n"
    "\t-r: Recursive (sub directories)\n"
    "\t-s: show Summary\n"
    "\tsummary: # of files/total bytes/average bytes/width/height\n";

// A JPEG of the given dimensions, padded after its end to exactly `size`
// bytes so that expected lines can name the size.
void write_jpeg(const fs::path& path, int width, int height,
                std::size_t size) {
  JpegWriterOptions options;
  options.width = width;
  options.height = height;
  options.exif = false;
  options.entropy_size = 16;
  std::vector<unsigned char> bytes = make_jpeg(options).bytes;
  ASSERT_LE(bytes.size(), size) << path;
  bytes.resize(size, 0);
  write_file(path, bytes);
}

void write_text(const fs::path& path, const std::string& text) {
  write_file(path, std::vector<unsigned char>(text.begin(), text.end()));
}

// a.jpg; photos/ with A.jpg, b.jpg, a file with no frame, a text file and
// the subdirectories W (2.jpg, sub/3.jpg) and x (1.jpg); w/ with three files
// whose average width truncates.
void make_tree(const fs::path& root) {
  fs::create_directories(root / "photos/W/sub");
  fs::create_directories(root / "photos/x");
  fs::create_directories(root / "w");
  write_jpeg(root / "a.jpg", 640, 480, 700);
  write_jpeg(root / "photos/A.jpg", 640, 480, 300);
  write_jpeg(root / "photos/b.jpg", 800, 600, 401);
  write_text(root / "photos/bad.jpg", "not a picture");
  write_text(root / "photos/note.txt", "notes");
  write_jpeg(root / "photos/W/2.jpg", 10, 20, 500);
  write_jpeg(root / "photos/W/sub/3.jpg", 30, 40, 600);
  write_jpeg(root / "photos/x/1.jpg", 50, 60, 700);
  write_jpeg(root / "w/c1.jpg", 100, 1, 1000);
  write_jpeg(root / "w/c2.jpg", 100, 1, 1000);
  write_jpeg(root / "w/c3.jpg", 101, 1, 1001);
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { make_tree(dir_.path()); }

  ProcessResult run(const std::vector<std::string>& args,
                    ProcessOptions options = {}) {
    options.working_directory = dir_.path().string();
    return run_process(OSTREL_BINARY, args, options);
  }

  TempDir dir_;
};

struct RunCase {
  const char* name;
  std::vector<std::string> args;
  std::string out;
  int exit_code = 0;
  std::string err = "";
  bool failing_output = false;  // standard output to /dev/full
};

// `-r`, then `photos` 3,000 times: far more output than one buffer holds.
std::vector<std::string> photos_many_times() {
  std::vector<std::string> args{"-r"};
  args.insert(args.end(), 3000, "photos");
  return args;
}

const std::string FULL_DISK = "ostrel: write error: No space left on device\n";

const std::string PHOTOS_LINES =
    "photos/A.jpg 640 480\n"
    "photos/b.jpg 800 600\n"
    "photos/bad.jpg:can't find marker\n";
const std::string PHOTOS_BELOW =
    "photos/W/2.jpg 10 20\n"
    "photos/W/sub/3.jpg 30 40\n"
    "photos/x/1.jpg 50 60\n";
const std::string W_LINES =
    "w/c1.jpg 100 1\nw/c2.jpg 100 1\nw/c3.jpg 101 1\n";

const RunCase RUN_CASES[] = {
    // The option scan and the usage text.
    {"NoArguments", {}, USAGE, 1},
    {"OptionsOnly", {"-r", "-s"}, USAGE, 1},
    {"HelpFirst", {"-?", "a.jpg"}, USAGE, 1},
    {"HelpAfterFile", {"a.jpg", "-?"}, "a.jpg 640 480\n"},
    {"UnknownLevelKeepsDefault", {"-v5", "a.jpg"}, "a.jpg 640 480\n"},
    {"LastLevelWinsQuiet", {"-v", "-v0", "a.jpg"}, ""},
    {"LastLevelWinsBytes", {"-v0", "-v", "a.jpg"}, "a.jpg 640 480 700\n"},
    {"TrailingDigits", {"-v12", "a.jpg"}, "a.jpg 640 480\n"},
    {"CombinedLettersAreAFile", {"-rs", "a.jpg"}, "a.jpg 640 480\n"},
    {"UpperCaseIsAFile", {"-S", "a.jpg"}, "a.jpg 640 480\n"},
    {"OptionAfterFileIsAFile", {"a.jpg", "-s"}, "a.jpg 640 480\n"},
    // Verbosity levels and line formats.
    {"Quiet", {"-v0", "photos"}, "photos/bad.jpg:can't find marker\n"},
    {"WidthHeight", {"-v1", "photos"}, PHOTOS_LINES},
    {"Bytes",
     {"-v2", "photos"},
     "photos/A.jpg 640 480 300\nphotos/b.jpg 800 600 401\n"
     "photos/bad.jpg:can't find marker\n"},
    // Summaries.
    {"QuietSummary",
     {"-v0", "-s", "photos"},
     "photos/bad.jpg:can't find marker\n2 701 350 720 540\n"},
    {"TruncatedAverages", {"-s", "w"}, W_LINES + "3 3001 1000 100 1\n"},
    {"SummaryPerArgument",
     {"-s", "a.jpg", "w"},
     "a.jpg 640 480\n1 700 700 640 480\n" + W_LINES + "3 3001 1000 100 1\n"},
    {"EmptySummary", {"-s", "nosuch"}, "0 0 0 0 0\n"},
    {"AllFailedSummary",
     {"-s", "photos/bad.jpg"},
     "photos/bad.jpg:can't find marker\n0 0 0 0 0\n"},
    // Arguments.
    {"Directory", {"photos"}, PHOTOS_LINES},
    {"DirectoryWithTrailingSeparator", {"photos/"}, PHOTOS_LINES},
    {"Dot", {"."}, "./a.jpg 640 480\n"},
    {"EmptyArgument", {""}, "a.jpg 640 480\n"},
    {"FileOfAnyExtension", {"photos/note.txt"},
     "photos/note.txt:can't find marker\n"},
    {"Wildcard",
     {"photos/*"},
     PHOTOS_LINES + "photos/note.txt:can't find marker\n"},
    {"WildcardIgnoresCase", {"photos/B.*"}, "photos/b.jpg 800 600\n"},
    {"MissingName", {"nosuch.jpg"}, ""},
    {"Recursive", {"-r", "photos"}, PHOTOS_LINES + PHOTOS_BELOW},
    {"RecursiveWildcard",
     {"-r", "photos/a*.jpg"},
     "photos/A.jpg 640 480\n" + PHOTOS_BELOW},
    {"RecursiveMissingNameWalksItsDirectory",
     {"-r", "photos/nosuch"},
     PHOTOS_BELOW},
    // A failed write ends the run with status 2 and one line, whether a full
    // buffer meets it or the final flush; the usage text's status gives way.
    {"FullDiskMidRun", photos_many_times(), "", 2, FULL_DISK, true},
    {"FullDiskAtTheFinalFlush", {"a.jpg"}, "", 2, FULL_DISK, true},
    {"FullDiskUsageText", {}, "", 2, FULL_DISK, true},
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class RunTable : public EndToEnd,
                 public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunTable, PrintsExactly) {
  const RunCase& c = GetParam();
  if (c.failing_output && !fs::exists("/dev/full"))
    GTEST_SKIP() << "no /dev/full on this system";
  ProcessOptions options;
  options.failing_output = c.failing_output;
  ProcessResult result = run(c.args, options);
  EXPECT_EQ(result.out, c.out);
  EXPECT_EQ(result.exit_code, c.exit_code);
  EXPECT_EQ(result.err, c.err);
  EXPECT_FALSE(result.timed_out);
}

INSTANTIATE_TEST_SUITE_P(Cases, RunTable, ::testing::ValuesIn(RUN_CASES),
                         [](const auto& info) { return info.param.name; });

TEST_F(EndToEnd, TotalsPastFourGibibytesStayExact) {
  // Sparse files: a real header, then a hole up to 3 GiB each.
  fs::create_directory(dir_ / "big");
  for (const char* name : {"big/1.jpg", "big/2.jpg"}) {
    write_jpeg(dir_ / name, 4000, 3000, 2000);
    fs::resize_file(dir_ / name, 3221225472u);
  }
  ProcessResult result = run({"-v2", "-s", "big"});
  EXPECT_EQ(result.out,
            "big/1.jpg 4000 3000 3221225472\n"
            "big/2.jpg 4000 3000 3221225472\n"
            "2 6442450944 3221225472 4000 3000\n");
  EXPECT_EQ(result.err, "");
}

TEST_F(EndToEnd, ClosedPipeEndsTheRun) {
  // Far more output than one buffer holds; the reader leaves after one line.
  // The child starts with SIGPIPE ignored, so ending on it shows that the
  // program restores the default itself instead of walking on.
  ProcessOptions options;
  options.ignore_sigpipe = true;
  options.first_line_only = true;
  ProcessResult result = run(photos_many_times(), options);
  EXPECT_EQ(result.out, "photos/A.jpg 640 480\n");
  EXPECT_EQ(result.signal, SIGPIPE);
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace ostrel::test
