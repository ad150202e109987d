// The built program on Windows, run against a tree in the test's temporary
// folder: CR LF line ends, `\` in joined paths, drive-letter and `/`
// arguments, names matched without regard to case, device names, and
// wildcards that reach the program unexpanded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/process.h"
#include "support/jpeg_writer.h"
#include "support/temp_dir.h"

namespace ostrel::test {
namespace {

namespace fs = std::filesystem;

std::uintmax_t write_jpeg(const fs::path& path, int width, int height) {
  JpegWriterOptions options;
  options.width = width;
  options.height = height;
  options.entropy_size = 16;
  write_file(path, make_jpeg(options).bytes);
  return fs::file_size(path);
}

// Every "\n" as the console program writes it.
std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Puts the test's folder in: %T as the program sees it (Z:\...\tmp\...
// under Wine), %F the same with `/` separators.
std::string expand(std::string text, const std::string& folder) {
  std::string forward = folder;
  for (char& c : forward)
    if (c == '\\') c = '/';
  for (std::size_t at; (at = text.find("%T")) != std::string::npos;)
    text.replace(at, 2, folder);
  for (std::size_t at; (at = text.find("%F")) != std::string::npos;)
    text.replace(at, 2, forward);
  return text;
}

class EndToEndWin32 : public ::testing::Test {
 protected:
  // a.jpg; photos\ with A.jpg, b.jpg, a file with no frame, a text file and
  // the subdirectories W (2.jpg, sub\3.jpg) and x (1.jpg).
  void SetUp() override {
    fs::create_directories(dir_ / "photos/W/sub");
    fs::create_directories(dir_ / "photos/x");
    a_size_ = write_jpeg(dir_ / "a.jpg", 640, 480);
    write_jpeg(dir_ / "photos/A.jpg", 640, 480);
    write_jpeg(dir_ / "photos/b.jpg", 800, 600);
    write_file(dir_ / "photos/bad.jpg", {'n', 'o', 'p', 'e'});
    write_file(dir_ / "photos/note.txt", {'n', 'o', 't', 'e'});
    write_jpeg(dir_ / "photos/W/2.jpg", 10, 20);
    write_jpeg(dir_ / "photos/W/sub/3.jpg", 30, 40);
    write_jpeg(dir_ / "photos/x/1.jpg", 50, 60);
  }

  ProcessResult run(const std::vector<std::string>& args,
                    ProcessOptions options = {}) {
    options.working_directory = folder();
    std::vector<std::string> expanded;
    for (const std::string& arg : args) expanded.push_back(expand(arg, folder()));
    return run_process(OSTREL_BINARY, expanded, options);
  }

  std::string folder() const { return dir_.path().string(); }

  TempDir dir_;
  std::uintmax_t a_size_ = 0;
};

struct RunCase {
  const char* name;
  std::vector<std::string> args;
  std::string out;  // with "\n" line ends, %T and %F as in `expand`
  int exit_code = 0;
  std::string err = "";         // with "\n" line ends
  bool failing_output = false;  // standard output to NUL opened for reading
};

// `-r`, then `photos` 3,000 times: far more output than one buffer holds.
std::vector<std::string> photos_many_times() {
  std::vector<std::string> args{"-r"};
  args.insert(args.end(), 3000, "photos");
  return args;
}

// The runtime's report of a write to a handle without the right to write.
const std::string NO_WRITE = "ostrel: write error: Bad file descriptor\n";

const std::string PHOTOS =
    "photos\\A.jpg 640 480\n"
    "photos\\b.jpg 800 600\n"
    "photos\\bad.jpg:can't find marker\n";
const std::string PHOTOS_BELOW =
    "photos\\W\\2.jpg 10 20\n"
    "photos\\W\\sub\\3.jpg 30 40\n"
    "photos\\x\\1.jpg 50 60\n";

const RunCase RUN_CASES[] = {
    {"UsageText",
     {},
     "usage:ostrel [-v[012]] [-r] [-s] file ...\n"
     "\t-v: verbose, -v0: quiet, -v1: width/height only, -v2: bytes\n"
     "\t-r: Recursive (sub directories)\n"
     "\t-s: show Summary\n"
     "\tsummary: # of files/total bytes/average bytes/width/height\n",
     1},
    {"Directory", {"photos"}, PHOTOS},
    {"TrailingBackslash", {"photos\\"}, PHOTOS},
    {"TrailingSlash",
     {"photos/"},
     "photos/\\A.jpg 640 480\n"
     "photos/\\b.jpg 800 600\n"
     "photos/\\bad.jpg:can't find marker\n"},
    {"SlashWildcard",
     {"photos/*.jpg"},
     "photos/A.jpg 640 480\n"
     "photos/b.jpg 800 600\n"
     "photos/bad.jpg:can't find marker\n"},
    {"WildcardIgnoresCase", {"photos\\*.JPG"}, PHOTOS},
    {"NameIgnoresCase", {"PHOTOS\\B.JPG"}, "PHOTOS\\b.jpg 800 600\n"},
    {"DirectoryIgnoresCase", {"PHOTOS\\w"}, "PHOTOS\\w\\2.jpg 10 20\n"},
    {"Recursive", {"-r", "photos"}, PHOTOS + PHOTOS_BELOW},
    {"RecursiveSlashWildcard",
     {"-r", "photos/a*.jpg"},
     "photos/A.jpg 640 480\n"
     "photos/W\\2.jpg 10 20\n"
     "photos/W\\sub\\3.jpg 30 40\n"
     "photos/x\\1.jpg 50 60\n"},
    {"DriveLetterPath",
     {"-r", "%T\\photos\\W"},
     "%T\\photos\\W\\2.jpg 10 20\n%T\\photos\\W\\sub\\3.jpg 30 40\n"},
    {"DriveLetterSlashes", {"%F/photos/x"}, "%F/photos/x\\1.jpg 50 60\n"},
    {"DriveLetterFile", {"%T\\a.jpg"}, "%T\\a.jpg 640 480\n"},
    {"EmptyArgument", {""}, "a.jpg 640 480\n"},
    // The search reports a device name as the device (`nul`, any folder,
    // any extension); it opens, but is no disk file and is never read.
    {"DeviceName", {"nul.jpg"}, "nul;can't open file\n"},
    {"DeviceNameInFolder",
     {"photos\\NUL.jpg"},
     "photos\\NUL;can't open file\n"},
    {"ConsoleDevice", {"con.jpg"}, "con;can't open file\n"},
    // The runtime expands no wildcard: `*` is one argument, whose pattern
    // lists the files of the folder (only a.jpg) in one summary.
    {"StarIsOneArgument", {"-v0", "-s", "*"}, "1 %S %S 640 480\n"},
    {"QuestionMarkIsOneArgument", {"?.jpg"}, "a.jpg 640 480\n"},
    // A failed write ends the run with status 2 and one line, whether a full
    // buffer meets it or the final flush.
    {"FailedWriteMidRun", photos_many_times(), "", 2, NO_WRITE, true},
    {"FailedWriteAtTheFinalFlush", {"a.jpg"}, "", 2, NO_WRITE, true},
};

class RunTable : public EndToEndWin32,
                 public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunTable, PrintsExactly) {
  const RunCase& c = GetParam();
  ProcessOptions options;
  options.failing_output = c.failing_output;
  ProcessResult result = run(c.args, options);
  std::string out = expand(c.out, folder());
  for (std::size_t at; (at = out.find("%S")) != std::string::npos;)
    out.replace(at, 2, std::to_string(a_size_));
  EXPECT_EQ(result.out, crlf(out));
  EXPECT_EQ(result.exit_code, c.exit_code);
  EXPECT_EQ(result.err, crlf(c.err));
  EXPECT_FALSE(result.timed_out);
}

INSTANTIATE_TEST_SUITE_P(Cases, RunTable, ::testing::ValuesIn(RUN_CASES),
                         [](const auto& info) { return info.param.name; });

TEST_F(EndToEndWin32, ClosedPipeEndsTheRun) {
  // Far more output than one buffer holds; the reader leaves after one line
  // and the program stops with the status a shell shows for that on POSIX.
  ProcessOptions options;
  options.first_line_only = true;
  ProcessResult result = run(photos_many_times(), options);
  EXPECT_EQ(result.out, "photos\\A.jpg 640 480\r\n");
  EXPECT_EQ(result.exit_code, 141);
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace ostrel::test
