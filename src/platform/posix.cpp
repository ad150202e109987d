// The platform interface on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/platform.h"
#include "platform/wildcard.h"

namespace ostrel {

namespace {

bool is_directory_after_links(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The type comes from the entry itself; only a link, or a file system that
// does not say, costs a status query, made relative to the open directory
// so that no path is built and none can grow too long.
bool entry_is_directory(DIR* dir, const dirent& ent) {
  if (ent.d_type != DT_UNKNOWN && ent.d_type != DT_LNK)
    return ent.d_type == DT_DIR;
  struct stat st;
  return ::fstatat(::dirfd(dir), ent.d_name, &st, 0) == 0 &&
         S_ISDIR(st.st_mode);
}

// A regular file, open for positioned reads.
class PosixFile final : public ReadableFile {
 public:
  PosixFile() = default;
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool open(const std::string& path) {
    // Non-blocking so that a FIFO nobody writes to cannot stall the open;
    // the type is then checked on the descriptor itself, so nothing but a
    // regular file is ever read.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size_ = static_cast<std::uint64_t>(st.st_size);
    return true;
  }

  std::size_t read_at(std::uint64_t offset, unsigned char* buffer,
                      std::size_t size) const override {
    std::size_t done = 0;
    while (done < size) {
      ssize_t got = ::pread(fd_, buffer + done, size - done,
                            static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
      // A short read that reaches the size from the status is the end, which
      // saves the read of nothing; where the status shows no size (as under
      // /proc) or the file shrank, only that read of nothing ends it.
      if (size_ > 0 && offset + done >= size_) break;
    }
    return done;
  }

  std::uint64_t size() const override { return size_; }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

class PosixFileSystem final : public FileSystem {
 public:
  bool search(const std::string& search_text,
              const std::function<bool(const DirectoryEntry&)>& on_entry)
      override {
    auto slash = search_text.rfind('/');
    std::string dir = slash == std::string::npos
                          ? std::string()
                          : search_text.substr(0, slash + 1);
    std::string_view last = std::string_view(search_text).substr(dir.size());
    if (last.empty() || last == "." || last == "..") return false;
    if (!has_wildcard(last)) return search_one(search_text, last, on_entry);

    std::unique_ptr<DIR, DirCloser> handle(
        ::opendir(dir.empty() ? "." : dir.c_str()));
    if (!handle) return false;
    bool found = false;
    while (const dirent* ent = ::readdir(handle.get())) {
      std::string_view name = ent->d_name;
      if (name == "." || name == ".." || !wildcard_match(last, name)) continue;
      found = true;
      bool is_dir = entry_is_directory(handle.get(), *ent);
      if (!on_entry(DirectoryEntry{name, is_dir})) break;
    }
    return found;
  }

  std::optional<bool> lookup(const std::string& text) override {
    struct stat st;
    if (::stat(text.c_str(), &st) != 0) return std::nullopt;
    return S_ISDIR(st.st_mode);
  }

  std::optional<std::string> full_path(const std::string&) override {
    return std::nullopt;
  }

  unsigned drive_type(const std::string&) override { return 0; }

  std::optional<DirectoryId> directory_id(const std::string& text) override {
    struct stat st;
    if (::stat(text.empty() ? "." : text.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode))
      return std::nullopt;
    return DirectoryId{static_cast<std::uint64_t>(st.st_dev),
                       static_cast<std::uint64_t>(st.st_ino)};
  }

  std::unique_ptr<ReadableFile> open_file(const std::string& path) override {
    // Allocated before anything is opened, so running out of memory leaves
    // nothing open.
    auto file = std::make_unique<PosixFile>();
    if (!file->open(path)) return nullptr;
    return file;
  }

 private:
  // A last component without wildcards names one entry, byte for byte; a
  // dangling link is still an entry (its probe then fails to open it).
  static bool search_one(
      const std::string& path, std::string_view name,
      const std::function<bool(const DirectoryEntry&)>& on_entry) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return false;
    bool is_dir = S_ISDIR(st.st_mode) ||
                  (S_ISLNK(st.st_mode) && is_directory_after_links(path));
    on_entry(DirectoryEntry{name, is_dir});
    return true;
  }
};

}  // namespace

FileSystem& disk_file_system() {
  static PosixFileSystem file_system;
  return file_system;
}

CodePageInfo ansi_code_page() { return {}; }

bool windows_paths() { return false; }

void write_output(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void flush_output() { std::fflush(stdout); }

void prepare_process() {
  // A reader that goes away (`ostrel -r big | head`) ends the run at once.
  ::signal(SIGPIPE, SIG_DFL);
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

}  // namespace ostrel
