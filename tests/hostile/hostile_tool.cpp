// Builds the parts of hostile trees that a shell can't make quickly or at
// all. Usage:
//   hostile_tool jpeg PATH WIDTH HEIGHT        a small baseline JPEG
//   hostile_tool sparse PATH SIZE WIDTH HEIGHT a JPEG header, then a hole
//                                              up to SIZE bytes
//   hostile_tool truncations DIR WIDTH HEIGHT  DIR/cut-NNNNN.jpg: a JPEG cut
//                                              at every offset; prints the
//                                              frame header's offset and the
//                                              whole length
//   hostile_tool socket PATH                   a bound UNIX socket
//   hostile_tool many DIR COUNT                empty files f000000.jpg ...,
//                                              most of them hard links
//   hostile_tool chain DIR DEPTH               DEPTH nested directories "d"
//                                              below DIR, each but the last
//                                              holding an empty f.jpg
//   hostile_tool jpegchain DIR DEPTH NAME EVERY
//                                              DEPTH nested directories NAME
//                                              below DIR; DIR and every
//                                              EVERYth of them hold a.jpg
//   hostile_tool ladder DIR DEPTH              DEPTH nested directories "d"
//                                              below DIR; DIR and each of
//                                              them but the last also hold
//                                              "z", a leaf holding a.jpg
//   hostile_tool spread DIR COUNT              directories d000000 ... in
//                                              DIR, each holding a.jpg
//   hostile_tool remove DIR                    removes a tree of any depth
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/jpeg_writer.h"
#include "walk/disk_tree.h"

namespace {

using ostrel::test::JpegImage;

JpegImage small_jpeg(const char* width, const char* height) {
  ostrel::test::JpegWriterOptions options;
  options.width = std::atoi(width);
  options.height = std::atoi(height);
  options.entropy_size = 16;
  options.thumbnail_width = 8;
  options.thumbnail_height = 8;
  return ostrel::test::make_jpeg(options);
}

bool write_sparse(const std::string& path, const JpegImage& image,
                  long long size) {
  ostrel::test::write_file(path, image.bytes);
  return ::truncate(path.c_str(), size) == 0;
}

// Every cut must fail before the frame header and find it from there on:
// no walk from offset 128 may find anything, so the byte there is no 0xFF.
bool write_truncations(const std::string& dir, const JpegImage& image) {
  if (image.bytes.size() <= 128 || image.bytes[128] == 0xFF) return false;
  for (std::size_t cut = 0; cut < image.bytes.size(); ++cut) {
    char name[32];
    std::snprintf(name, sizeof name, "/cut-%05zu.jpg", cut);
    ostrel::test::write_file(
        dir + name,
        std::vector<unsigned char>(image.bytes.begin(), image.bytes.begin() + cut));
  }
  std::printf("%zu %zu\n", image.frame_offset, image.bytes.size());
  return true;
}

bool make_socket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address),
                                 sizeof address) == 0;
  if (fd >= 0) ::close(fd);  // the socket file stays
  return bound;
}

// Each file but one in every LINKS_PER_FILE is a hard link to the one
// before it: ext4 looks for a free inode near the directory's for every new
// file, slower and slower once that part of the disk is full (30 to 55 s of
// system time for 200,000 files on a test machine), while a link takes no
// inode. Below ext4's limit of 65,000 links to one file.
bool make_many(const std::string& dir, long count) {
  constexpr long LINKS_PER_FILE = 50000;
  int directory = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return false;
  bool ok = true;
  char target[32] = "";
  for (long i = 0; ok && i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%06ld.jpg", i);
    if (i % LINKS_PER_FILE != 0) {
      ok = ::linkat(directory, target, directory, name, 0) == 0;
      continue;
    }
    int fd = ::openat(directory, name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ok = fd >= 0 && ::close(fd) == 0;
    std::memcpy(target, name, sizeof name);
  }
  ::close(directory);
  return ok;
}

bool write_at(int directory, const char* name,
              const std::vector<unsigned char>& bytes) {
  int fd = ::openat(directory, name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = ::write(fd, bytes.data(), bytes.size()) ==
                 static_cast<ssize_t>(bytes.size());
  return ::close(fd) == 0 && written;
}

// Goes one level down from `directory` (which it closes) into a new
// subdirectory `name`: deeper than any path, so always by descriptor.
int make_and_enter(int directory, const char* name) {
  int below = -1;
  if (::mkdirat(directory, name, 0755) == 0)
    below = ::openat(directory, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ::close(directory);
  return below;
}

bool make_jpeg_chain(const std::string& dir, int depth, const std::string& name,
                     int every, const JpegImage& image) {
  int directory = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; directory >= 0; ++level) {
    if (level % every == 0 && !write_at(directory, "a.jpg", image.bytes))
      break;
    if (level == depth) return ::close(directory) == 0;
    directory = make_and_enter(directory, name.c_str());
  }
  if (directory >= 0) ::close(directory);
  return false;
}

bool make_ladder(const std::string& dir, int depth, const JpegImage& image) {
  int directory = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; directory >= 0; ++level) {
    if (level == depth) return ::close(directory) == 0;
    int leaf = -1;
    if (::mkdirat(directory, "z", 0755) == 0)
      leaf = ::openat(directory, "z", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool written = leaf >= 0 && write_at(leaf, "a.jpg", image.bytes);
    if (leaf >= 0) ::close(leaf);
    if (!written) break;
    directory = make_and_enter(directory, "d");
  }
  if (directory >= 0) ::close(directory);
  return false;
}

bool make_spread(const std::string& dir, long count, const JpegImage& image) {
  int directory = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return false;
  bool ok = true;
  for (long i = 0; ok && i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "d%06ld", i);
    int leaf = -1;
    if (::mkdirat(directory, name, 0755) == 0)
      leaf = ::openat(directory, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = leaf >= 0 && write_at(leaf, "a.jpg", image.bytes);
    if (leaf >= 0) ::close(leaf);
  }
  ::close(directory);
  return ok;
}

bool run(const std::vector<std::string>& args) {
  const std::string& command = args[0];
  std::size_t count = args.size();
  if (command == "jpeg" && count == 4) {
    ostrel::test::write_file(
        args[1], small_jpeg(args[2].c_str(), args[3].c_str()).bytes);
    return true;
  }
  if (command == "sparse" && count == 5)
    return write_sparse(args[1], small_jpeg(args[3].c_str(), args[4].c_str()),
                        std::atoll(args[2].c_str()));
  if (command == "truncations" && count == 4)
    return write_truncations(args[1], small_jpeg(args[2].c_str(), args[3].c_str()));
  if (command == "socket" && count == 2) return make_socket(args[1]);
  if (command == "many" && count == 3)
    return make_many(args[1], std::atol(args[2].c_str()));
  if (command == "chain" && count == 3)
    return ostrel::test::make_chain(args[1], std::atoi(args[2].c_str()), "d",
                                    "f.jpg");
  if (command == "jpegchain" && count == 5)
    return make_jpeg_chain(args[1], std::atoi(args[2].c_str()), args[3],
                           std::max(std::atoi(args[4].c_str()), 1),
                           small_jpeg("64", "48"));
  if (command == "ladder" && count == 3)
    return make_ladder(args[1], std::atoi(args[2].c_str()),
                       small_jpeg("64", "48"));
  if (command == "spread" && count == 3)
    return make_spread(args[1], std::atol(args[2].c_str()),
                       small_jpeg("64", "48"));
  if (command == "remove" && count == 2)
    return ostrel::test::remove_tree(args[1]);
  std::fputs("hostile_tool: unknown command or wrong arguments\n", stderr);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: hostile_tool COMMAND ARGUMENTS...\n", stderr);
    return 2;
  }
  try {
    if (run(std::vector<std::string>(argv + 1, argv + argc))) return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "hostile_tool: %s\n", error.what());
  }
  std::fprintf(stderr, "hostile_tool: %s failed\n", argv[1]);
  return 1;
}
