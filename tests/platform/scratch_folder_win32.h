// A temporary folder for one Windows test, made the current directory while
// it lives.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/jpeg_writer.h"
#include "support/temp_dir.h"

namespace ostrel::test {

// The Windows disk, which searches its directories by text.
inline SearchByText& windows_disk() {
  return dynamic_cast<SearchByText&>(disk_file_system());
}

class ScratchFolder {
 public:
  ScratchFolder() {
    char previous[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    previous_ = previous;
    ::SetCurrentDirectoryA(text().c_str());
  }
  ~ScratchFolder() { ::SetCurrentDirectoryA(previous_.c_str()); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder's full path, with its drive letter and `\` separators.
  std::string text() const { return dir_.path().string(); }

  void make_folder(const std::string& relative) const {
    std::filesystem::create_directories(dir_ / relative);
  }
  void write(const std::string& relative, const std::string& bytes) const {
    write_file(dir_ / relative,
               std::vector<unsigned char>(bytes.begin(), bytes.end()));
  }

 private:
  TempDir dir_;  // removed after the current directory has moved away
  std::string previous_;
};

}  // namespace ostrel::test
