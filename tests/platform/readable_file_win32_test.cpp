// The Win32 byte stream: disk files only, positioned reads, sharing.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "scratch_folder_win32.h"

namespace ostrel {
namespace {

std::string read_string(const ReadableFile& file, std::uint64_t offset,
                        std::size_t size) {
  std::string bytes(size, '\0');
  bytes.resize(file.read_at(
      offset, reinterpret_cast<unsigned char*>(bytes.data()), size));
  return bytes;
}

TEST(ReadableFileWin32, ReadsAtOffsetsUpToTheEnd) {
  test::ScratchFolder folder;
  folder.write("a.jpg", "0123456789");
  auto file = test::windows_disk().open_path("a.jpg");
  ASSERT_TRUE(file);
  EXPECT_EQ((*file)->size(), 10u);
  EXPECT_EQ(read_string(**file, 0, 4), "0123");
  EXPECT_EQ(read_string(**file, 8, 4), "89");
  EXPECT_EQ(read_string(**file, 10, 4), "");
  EXPECT_EQ(read_string(**file, 3, 0), "");
  // An offset of 4 GiB or more must not wrap round to the start.
  EXPECT_EQ(read_string(**file, std::uint64_t{1} << 32, 4), "");
  // The file pointer plays no part: reads do not move each other.
  EXPECT_EQ(read_string(**file, 2, 2), "23");
}

TEST(ReadableFileWin32, OpensOnlyExistingDiskFiles) {
  test::ScratchFolder folder;
  folder.make_folder("photos");
  folder.write("photos\\a.jpg", "x");
  const std::string deep = test::long_folder();
  folder.make_folder(deep);
  folder.write(deep + "a.jpg", "x");
  const std::string full = folder.text() + "\\photos\\a.jpg";
  const struct {
    std::string path;
    bool opens;
  } cases[] = {
      {"photos\\a.jpg", true},
      {"photos/a.jpg", true},
      {"PHOTOS\\A.JPG", true},
      {full, true},
      {"photos", false},
      {"photos\\", false},
      {"photos\\missing.jpg", false},
      {"", false},
      // Device names, in any folder and with any extension: never read.
      {"nul.jpg", false},
      {"NUL", false},
      {"photos\\nul.jpg", false},
      {"con.jpg", false},
      // Past the ANSI functions' limit, and past the wide functions' too.
      {deep + "a.jpg", true},
      {folder.text() + "\\" + deep + "a.jpg", true},
      {deep, false},
      {deep + "b.jpg", false},
      {test::TOO_LONG, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(test::windows_disk().open_path(c.path).ok(), c.opens)
        << c.path;
}

TEST(ReadableFileWin32, DeniesNobodyReadingOrWriting) {
  test::ScratchFolder folder;
  folder.write("a.jpg", "abcd");
  // A writer that shares its file with readers and writers is no obstacle.
  HANDLE writer = ::CreateFileA("a.jpg", GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  auto file = test::windows_disk().open_path("a.jpg");
  EXPECT_TRUE(file);
  // ...and an open file does not keep a new writer out.
  HANDLE second = ::CreateFileA("a.jpg", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  if (second != INVALID_HANDLE_VALUE) ::CloseHandle(second);
  ::CloseHandle(writer);
}

TEST(ReadableFileWin32, ThreadsReadOneFileAtTheirOwnOffsets) {
  test::ScratchFolder folder;
  std::string bytes;
  for (int i = 0; i < 4096; ++i) bytes += static_cast<char>(i * 7 % 251);
  folder.write("a.jpg", bytes);
  auto file = test::windows_disk().open_path("a.jpg");
  ASSERT_TRUE(file);
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&, t] {
      for (int round = 0; round < 200; ++round) {
        std::size_t offset = (round * 61 + t * 1021) % (bytes.size() - 16);
        if (read_string(**file, offset, 16) != bytes.substr(offset, 16))
          ++mismatches[t];
      }
    });
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace ostrel
