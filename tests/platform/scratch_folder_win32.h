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

// A folder text past the ANSI functions' limit, relative, ending in `\`:
// five levels of 60-byte names under `deep`.
inline std::string long_folder() {
  std::string text = "deep\\";
  for (char level = '1'; level <= '5'; ++level)
    text += std::string(59, 'n') + level + '\\';
  return text;
}

// A text past the wide functions' limit too.
inline const std::string TOO_LONG(33000, 'x');

class ScratchFolder {
 public:
  ScratchFolder() {
    char previous[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    previous_ = previous;
    ::SetCurrentDirectoryA(text().c_str());
  }
  // Its contents go by extended paths first: the runtime's removal stops
  // at paths past MAX_PATH.
  ~ScratchFolder() {
    ::SetCurrentDirectoryA(previous_.c_str());
    remove_contents(L"\\\\?\\" + dir_.path().wstring());
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder's full path, with its drive letter and `\` separators.
  std::string text() const { return dir_.path().string(); }

  // Texts in the ANSI code page, of any length.
  void make_folder(const std::string& relative) const {
    std::filesystem::create_directories(dir_ / wide(relative));
  }
  void write(const std::string& relative, const std::string& bytes) const {
    write_file(dir_ / wide(relative),
               std::vector<unsigned char>(bytes.begin(), bytes.end()));
  }

  static std::wstring wide(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    out.resize(::MultiByteToWideChar(CP_ACP, 0, text.data(),
                                     static_cast<int>(text.size()), out.data(),
                                     static_cast<int>(out.size())));
    return out;
  }

 private:
  static void remove_contents(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
      const std::wstring name = data.cFileName;
      const std::wstring path = folder + L"\\" + name;
      if (name == L"." || name == L"..") continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_contents(path);
        ::RemoveDirectoryW(path.c_str());
      } else {
        ::DeleteFileW(path.c_str());
      }
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }

  TempDir dir_;  // removed after the current directory has moved away
  std::string previous_;
};

}  // namespace ostrel::test
