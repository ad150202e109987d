// What only POSIX systems have: FIFOs, sockets and devices named like JPEG
// files, and sparse files.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "jpeg/probe.h"
#include "support/probe_path.h"
#include "support/jpeg_writer.h"
#include "support/temp_dir.h"

namespace ostrel {
namespace {

bool make_socket(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  bool made =
      ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);  // the socket's entry stays behind
  return made;
}

TEST(ProbePosix, NeverReadsAnythingButARegularFile) {
  test::TempDir dir;
  std::string fifo = (dir / "fifo.jpg").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string socket = (dir / "socket.jpg").string();
  bool have_socket = make_socket(socket);
  std::filesystem::create_symlink("/dev/null", dir / "device.jpg");
  // A FIFO nobody writes to would block an ordinary open or read.
  for (const std::string& path :
       {fifo, (dir / "device.jpg").string(), socket}) {
    if (path == socket && !have_socket) continue;
    SCOPED_TRACE(path);
    EXPECT_EQ(test::probe_path(disk_file_system(), path).status,
              ProbeStatus::cannot_open);
  }
}

TEST(ProbePosix, FollowsALinkToARegularFile) {
  test::TempDir dir;
  test::write_file(dir / "image.jpg", test::make_jpeg({}).bytes);
  std::filesystem::create_symlink("image.jpg", dir / "link.jpg");
  ProbeResult result =
      test::probe_path(disk_file_system(), (dir / "link.jpg").string());
  EXPECT_EQ(result.status, ProbeStatus::ok);
  EXPECT_EQ(result.info.width, 640);
}

TEST(ProbePosix, ReportsTheTrueSizeOfASparseFileOver4GiB) {
  test::TempDir dir;
  std::string path = (dir / "huge.jpg").string();
  test::JpegWriterOptions options;
  options.width = 4000;
  options.height = 3000;
  test::write_file(path, test::make_jpeg(options).bytes);
  const std::uint64_t size = (std::uint64_t{5} << 30) + 3;
  if (::truncate(path.c_str(), static_cast<off_t>(size)) != 0)
    GTEST_SKIP() << "no sparse file of 5 GiB here";
  ProbeResult result = test::probe_path(disk_file_system(), path);
  EXPECT_EQ(result.status, ProbeStatus::ok);
  EXPECT_EQ(result.info.width, 4000);
  EXPECT_EQ(result.info.height, 3000);
  EXPECT_EQ(result.info.byte_size, size);
}

}  // namespace
}  // namespace ostrel
