// A fresh folder under the temporary directory for one Windows test, made
// the current directory while it lives and removed with its contents after.
#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

namespace ostrel::testing {

class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<unsigned> serial{0};
    path_ = std::filesystem::temp_directory_path() /
            ("ostrel-" + std::to_string(::GetCurrentProcessId()) + "-" +
             std::to_string(serial++));
    std::filesystem::create_directories(path_);
    char previous[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    previous_ = previous;
    ::SetCurrentDirectoryA(text().c_str());
  }
  ~ScratchFolder() {
    ::SetCurrentDirectoryA(previous_.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder's full path, with its drive letter and `\` separators.
  std::string text() const { return path_.string(); }

  void make_folder(const std::string& relative) const {
    std::filesystem::create_directories(path_ / relative);
  }
  void write(const std::string& relative, const std::string& bytes) const {
    std::ofstream(path_ / relative, std::ios::binary) << bytes;
  }

 private:
  std::filesystem::path path_;
  std::string previous_;
};

}  // namespace ostrel::testing
