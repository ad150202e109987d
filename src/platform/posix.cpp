// The platform interface on POSIX systems.
#include <dirent.h>
#include <pthread.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif
#ifdef __linux__
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/long_text.h"
#include "platform/platform.h"
#include "platform/wildcard.h"
#include "platform/write_error.h"

namespace ostrel {

namespace {

#ifdef O_PATH
// Enough to resolve names relative to a directory, with no right to read it.
constexpr int DIRECTORY_PATH_FLAGS = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int DIRECTORY_PATH_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
constexpr int DIRECTORY_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
// Non-blocking so that a FIFO nobody writes to cannot stall the open; the
// type is then checked on the descriptor itself, so nothing but a regular
// file is ever read.
constexpr int FILE_FLAGS = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

Failure failure_of(int error) {
  if (error == EMFILE || error == ENFILE) return Failure::out_of_handles;
  if (error == ENOENT || error == ENOTDIR) return Failure::none_found;
  return Failure::other;
}

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// The longest text the kernel takes whole, its terminator left out.
constexpr std::size_t LONGEST_WHOLE_TEXT = PATH_MAX - 1;

// A text longer than the system's path limit cannot be handed to the kernel
// whole, so it is resolved a piece at a time: the leading pieces open the
// directory that the last one is taken relative to.
class ResolvedText {
 public:
  explicit ResolvedText(const std::string& text) {
    std::vector<std::string_view> pieces =
        long_text_pieces(text, LONGEST_WHOLE_TEXT);
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
      std::string piece(pieces[i]);
      Descriptor next(::openat(dir(), piece.c_str(), DIRECTORY_PATH_FLAGS));
      if (next.get() < 0) {
        error_ = errno;
        return;
      }
      dir_ = std::move(next);
    }
    rest_.assign(pieces.back());
    if (rest_.empty()) rest_.push_back('.');
  }

  int dir() const { return dir_.get() >= 0 ? dir_.get() : AT_FDCWD; }
  const char* rest() const { return rest_.c_str(); }
  // 0, or why the leading pieces could not be resolved.
  int error() const { return error_; }

 private:
  Descriptor dir_;
  std::string rest_;
  int error_ = 0;
};

DirectoryResult open_directory_at(int dir, const char* name);
FileResult open_file_at(int dir, std::string_view name);
void read_entries(int dir, std::string_view file_pattern, bool directories,
                  EntrySink& sink);

// A directory held by its descriptor.
class PosixDirectory final : public Directory {
 public:
  PosixDirectory(Descriptor fd, DirectoryId id)
      : Directory(id), fd_(std::move(fd)) {}

  void read(std::string_view file_pattern, bool directories,
            EntrySink& sink) const override {
    read_entries(fd_.get(), file_pattern, directories, sink);
  }

  FileResult open_file(std::string_view name) const override {
    return open_file_at(fd_.get(), name);
  }

  DirectoryResult open_subdirectory(std::string_view name) const override {
    return open_directory_at(fd_.get(), std::string(name).c_str());
  }

  DirectoryResult open_parent() const override {
    return open_directory_at(fd_.get(), "..");
  }

  int native_handle() const override { return fd_.get(); }

 private:
  Descriptor fd_;
};

// Opens a directory relative to `dir`: to read it where it may be read, and
// otherwise only to find names in it, as a lookup through it could.
DirectoryResult open_directory_at(int dir, const char* name) {
  Descriptor fd(::openat(dir, name, DIRECTORY_FLAGS));
  if (fd.get() < 0 && errno == EACCES)
    fd = Descriptor(::openat(dir, name, DIRECTORY_PATH_FLAGS));
  if (fd.get() < 0) return failure_of(errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return failure_of(errno);
  if (!S_ISDIR(st.st_mode)) return Failure::none_found;
  DirectoryId id{static_cast<std::uint64_t>(st.st_dev),
                 static_cast<std::uint64_t>(st.st_ino)};
  return std::make_unique<PosixDirectory>(std::move(fd), id);
}

bool is_directory_at(int dir, const char* name, int flags) {
  struct stat st;
  return ::fstatat(dir, name, &st, flags) == 0 && S_ISDIR(st.st_mode);
}

// The type comes from the entry itself; only a link, or a file system that
// does not say, costs a status query.
bool entry_is_directory(int dir, const char* name, unsigned char type) {
  if (type != DT_UNKNOWN && type != DT_LNK) return type == DT_DIR;
  return is_directory_at(dir, name, 0);
}

// A name without wildcards is one entry, looked up as it is: a dangling
// link is a file (its probe then fails to open it).
void look_up_one(int dir, std::string_view name, EntrySink& sink) {
  if (name.empty() || name == "." || name == "..") return;
  std::string text(name);
  struct stat st;
  if (::fstatat(dir, text.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  bool is_dir = S_ISDIR(st.st_mode) ||
                (S_ISLNK(st.st_mode) && is_directory_at(dir, text.c_str(), 0));
  if (!is_dir) sink.add_file(name);
}

#if defined(__linux__) && defined(__GLIBC__)
// What one getdents64 call fills; on the heap, since a thread's stack may
// be small (`ulimit -s`).
constexpr std::size_t ENTRY_BUFFER_SIZE = 32 * 1024;

// Calls `each(name, type)` for every entry of an open directory, read
// straight from its descriptor, which is read only this once. May throw
// std::bad_alloc.
template <typename Each>
void for_each_entry(int dir, Each&& each) {
  struct alignas(dirent64) Buffer {
    char bytes[ENTRY_BUFFER_SIZE];
  };
  auto buffer = std::make_unique_for_overwrite<Buffer>();
  for (;;) {
    ssize_t got = ::getdents64(dir, buffer->bytes, sizeof buffer->bytes);
    if (got <= 0) return;
    for (ssize_t at = 0; at < got;) {
      const auto* ent = reinterpret_cast<const dirent64*>(buffer->bytes + at);
      each(ent->d_name, ent->d_type);
      at += ent->d_reclen;
    }
  }
}
#else
struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

template <typename Each>
void for_each_entry(int dir, Each&& each) {
  Descriptor reading(::dup(dir));
  if (reading.get() < 0) return;
  std::unique_ptr<DIR, DirCloser> entries(::fdopendir(reading.get()));
  if (!entries) return;
  reading.release();
  while (const dirent* ent = ::readdir(entries.get()))
    each(ent->d_name, ent->d_type);
}
#endif

// One pass over the entries. Without `directories` only the entries that
// match are ever asked for their type.
void read_entries(int dir, std::string_view file_pattern, bool directories,
                  EntrySink& sink) {
  bool wildcard = has_wildcard(file_pattern);
  if (!wildcard) look_up_one(dir, file_pattern, sink);
  if (!wildcard && !directories) return;
  for_each_entry(dir, [&](const char* entry, unsigned char type) {
    std::string_view name = entry;
    if (name == "." || name == "..") return;
    bool match = wildcard && wildcard_match(file_pattern, name);
    if (!match && !directories) return;
    if (entry_is_directory(dir, entry, type)) {
      if (directories) sink.add_directory(name);
    } else if (match) {
      sink.add_file(name);
    }
  });
}

// A regular file, open for positioned reads.
class PosixFile final : public ReadableFile {
 public:
  PosixFile(Descriptor fd, std::uint64_t size)
      : fd_(std::move(fd)), size_(size) {}

  std::size_t read_at(std::uint64_t offset, unsigned char* buffer,
                      std::size_t size) const override {
    // Never past the size from the status: on a network file system a
    // read beyond what the client last saw of the file costs a round trip
    // to ask for its attributes again.
    if (size_ > 0) size = offset < size_ ? std::min<std::uint64_t>(size, size_ - offset) : 0;
    if (outside_what_was_asked(offset, size)) read_randomly();
    std::size_t done = 0;
    while (done < size) {
      ssize_t got = ::pread(fd_.get(), buffer + done, size - done,
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

  void will_read(std::span<const ByteRange> ranges) const override {
    asked_count_ = std::min(ranges.size(), asked_.size());
    std::copy_n(ranges.begin(), asked_count_, asked_.begin());
#ifdef POSIX_FADV_WILLNEED
    for (const ByteRange& range : ranges)
      ::posix_fadvise(fd_.get(), static_cast<off_t>(range.offset),
                      static_cast<off_t>(range.size), POSIX_FADV_WILLNEED);
#endif
  }

 private:
  // A read past what was asked for, of a file that was told what would be
  // read: the first such read turns off the read-ahead that it and each
  // later read would start, which on a share costs bytes on the wire. Most
  // files never get there, and are spared the request.
  bool outside_what_was_asked(std::uint64_t offset, std::size_t size) const {
    if (asked_count_ == 0 || random_.load(std::memory_order_relaxed))
      return false;
    return std::none_of(
        asked_.begin(), asked_.begin() + asked_count_,
        [&](const ByteRange& range) {
          return offset >= range.offset &&
                 offset + size <= range.offset + range.size;
        });
  }

  void read_randomly() const {
    random_.store(true, std::memory_order_relaxed);
#ifdef POSIX_FADV_RANDOM
    ::posix_fadvise(fd_.get(), 0, 0, POSIX_FADV_RANDOM);
#endif
  }

  Descriptor fd_;
  std::uint64_t size_ = 0;
  // What `will_read` asked for, set before the reads.
  mutable std::array<ByteRange, 2> asked_{};
  mutable std::size_t asked_count_ = 0;
  mutable std::atomic<bool> random_{false};
};

FileResult open_file_named(int dir, const char* name) {
  Descriptor fd(::openat(dir, name, FILE_FLAGS));
  if (fd.get() < 0) return failure_of(errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return failure_of(errno);
  if (!S_ISREG(st.st_mode)) return Failure::none_found;
  return std::make_unique<PosixFile>(std::move(fd),
                                     static_cast<std::uint64_t>(st.st_size));
}

FileResult open_file_at(int dir, std::string_view name) {
  return open_file_named(dir, std::string(name).c_str());
}

// ThreadSanitizer counts a descriptor as one object of the whole process,
// so two tables' descriptors of one number would look like a race on it.
#if defined(__SANITIZE_THREAD__)
#define OSTREL_SHARED_DESCRIPTORS_ONLY 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define OSTREL_SHARED_DESCRIPTORS_ONLY 1
#endif
#endif

#if defined(__linux__) && defined(SYS_pidfd_open) && \
    defined(SYS_pidfd_getfd) && !defined(OSTREL_SHARED_DESCRIPTORS_ONLY)
#define OSTREL_THREAD_OPENER 1

// Threads that open and close files in one descriptor table, on two
// processors, take turns at the table's lock and pass between them the
// counts of the directory they open through and of the credentials every
// open file records. A thread with its own table and its own credentials
// shares none of that: it fetches each directory's descriptor from the
// process's table once (`pidfd_getfd` on the process itself) and opens the
// files through its copy.
class PosixThreadOpener final : public FileOpener {
 public:
  explicit PosixThreadOpener(int process) : process_(process) {}

  FileResult open_file(const Directory& directory,
                       std::string_view name) override {
    int dir = own_copy(directory);
    // A directory not fetched is left to a thread of the process's table,
    // like a file that found no descriptor.
    if (dir < 0) return Failure::out_of_handles;
    return open_file_at(dir, name);
  }

 private:
  // The same directory while both its descriptor and its identity are.
  int own_copy(const Directory& directory) {
    int shared = directory.native_handle();
    std::optional<DirectoryId> id = directory.id();
    if (copy_.get() >= 0 && shared == copied_from_ && id && id == copied_id_)
      return copy_.get();
    copy_ = Descriptor();
    if (shared < 0) return -1;
    copy_ = Descriptor(
        static_cast<int>(::syscall(SYS_pidfd_getfd, process_, shared, 0)));
    copied_from_ = shared;
    copied_id_ = id;
    return copy_.get();
  }

  int process_;  // a descriptor of this process, the same in both tables
  Descriptor copy_;
  int copied_from_ = -1;
  std::optional<DirectoryId> copied_id_;
};

// Closes every descriptor above the standard three but `keep`, where the
// kernel can; the copies it leaves only hold their files open longer.
void close_all_but(int keep) {
#ifdef SYS_close_range
  constexpr unsigned FIRST = 3;
  auto kept = static_cast<unsigned>(keep);
  if (kept < FIRST) {
    ::syscall(SYS_close_range, FIRST, ~0u, 0u);
    return;
  }
  if (kept > FIRST) ::syscall(SYS_close_range, FIRST, kept - 1, 0u);
  ::syscall(SYS_close_range, kept + 1, ~0u, 0u);
#else
  (void)keep;
#endif
}

// A credential record of the calling thread's own, the same in every field.
void own_credentials() {
  int keep = ::prctl(PR_GET_KEEPCAPS, 0, 0, 0, 0);
  if (keep >= 0) ::prctl(PR_SET_KEEPCAPS, keep, 0, 0, 0);
}
#endif

class PosixFileSystem final : public FileSystem {
 public:
  Result<bool> lookup(const std::string& text) override {
    ResolvedText resolved(text);
    if (resolved.error() != 0) return failure_of(resolved.error());
    struct stat st;
    if (::fstatat(resolved.dir(), resolved.rest(), &st, 0) != 0)
      return failure_of(errno);
    return S_ISDIR(st.st_mode);
  }

  DirectoryResult open_directory(const std::string& text) override {
    ResolvedText resolved(text);
    if (resolved.error() != 0) return failure_of(resolved.error());
    return open_directory_at(resolved.dir(), resolved.rest());
  }

  FileResult open_path(const std::string& path) override {
    ResolvedText resolved(path);
    if (resolved.error() != 0) return failure_of(resolved.error());
    return open_file_named(resolved.dir(), resolved.rest());
  }

  std::size_t longest_whole_text() const override {
    return LONGEST_WHOLE_TEXT;
  }

#ifdef OSTREL_THREAD_OPENER
  std::unique_ptr<FileOpener> opener_for_this_thread() override {
    std::call_once(process_opened_, [this] {
      process_ = Descriptor(static_cast<int>(
          ::syscall(SYS_pidfd_open, ::getpid(), 0u)));
    });
    if (process_.get() < 0 || !can_fetch_descriptors()) return nullptr;
    // Made first: once the table is the thread's own, it must not fail.
    auto opener = std::make_unique<PosixThreadOpener>(process_.get());
    if (::unshare(CLONE_FILES) != 0) return nullptr;
    close_all_but(process_.get());
    own_credentials();
    return opener;
  }

 private:
  // Whether a descriptor can be fetched from the process's table, which a
  // sandbox may forbid: fetches a copy of the process's own descriptor.
  bool can_fetch_descriptors() const {
    Descriptor copy(static_cast<int>(
        ::syscall(SYS_pidfd_getfd, process_.get(), process_.get(), 0u)));
    return copy.get() >= 0;
  }

  std::once_flag process_opened_;
  Descriptor process_;
#endif
};

// Descriptors already open (the standard streams, whatever the parent left
// open), counted from the kernel's list of them; where there is none to
// read, the standard three.
std::size_t descriptors_open() {
  constexpr std::size_t STANDARD_STREAMS = 3;
  for (const char* list : {"/proc/self/fd", "/dev/fd"}) {
    Descriptor listing(::open(list, DIRECTORY_FLAGS));
    if (listing.get() < 0) continue;
    std::size_t open = 0;
    try {
      for_each_entry(listing.get(), [&](const char* name, unsigned char) {
        if (name[0] != '.') ++open;
      });
    } catch (const std::bad_alloc&) {
      return STANDARD_STREAMS;
    }
    // The listing's own descriptor was among them.
    return open > 0 ? open - 1 : STANDARD_STREAMS;
  }
  return STANDARD_STREAMS;
}

void* run_thread_body(void* body) {
  std::unique_ptr<std::function<void()>> owned(
      static_cast<std::function<void()>*>(body));
  (*owned)();
  return nullptr;
}

}  // namespace

struct Thread::Handle {
  pthread_t thread;
};

Thread::Thread(std::function<void()> body, std::size_t stack_size)
    : handle_(std::make_unique<Handle>()) {
  pthread_attr_t attributes;
  if (int error = ::pthread_attr_init(&attributes))
    throw std::system_error(error, std::generic_category());
  // Below the platform's least the default stays.
  ::pthread_attr_setstacksize(
      &attributes, std::max<std::size_t>(stack_size, PTHREAD_STACK_MIN));
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  int error = ::pthread_create(&handle_->thread, &attributes, run_thread_body,
                               owned.get());
  ::pthread_attr_destroy(&attributes);
  if (error) throw std::system_error(error, std::generic_category());
  owned.release();
}

Thread::Thread(Thread&& other) noexcept = default;

Thread::~Thread() {
  if (handle_) ::pthread_join(handle_->thread, nullptr);
}

FileSystem& disk_file_system() {
  static PosixFileSystem file_system;
  return file_system;
}

std::size_t raise_descriptor_limit() {
  // As many as a walk could use, and no more: a larger table costs the
  // kernel memory and every thread that copies it.
  constexpr rlim_t MOST_USEFUL = 64 << 10;
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return SIZE_MAX;
  rlim_t wanted = std::min(MOST_USEFUL, limit.rlim_max);
  if (limit.rlim_cur < wanted) {
    struct rlimit raised = limit;
    raised.rlim_cur = wanted;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  auto most = static_cast<std::size_t>(limit.rlim_cur);
  return most - std::min(most, descriptors_open());
}

std::size_t address_space_limit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    return SIZE_MAX;
  return static_cast<std::size_t>(
      std::min<rlim_t>(limit.rlim_cur, static_cast<rlim_t>(SIZE_MAX)));
}

CodePageInfo ansi_code_page() { return {}; }

bool windows_paths() { return false; }

void end_process_now(int status) { std::_Exit(status); }

void write_output(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) < text.size())
    end_on_write_error(errno);
}

void flush_output() {
  if (std::fflush(stdout) != 0) end_on_write_error(errno);
}

void prepare_process() {
  // A reader that goes away (`ostrel -r big | head`) ends the run at once.
  ::signal(SIGPIPE, SIG_DFL);
#ifdef M_ARENA_MAX
  // Under a limit on address space (`ulimit -v`), one heap for every
  // thread: glibc would give each thread that waits on a share an arena of
  // its own, reserving 64 MiB of address space apiece, which the limit
  // soon runs out of. Without one, the arenas spare the threads each
  // other's lock.
  if (address_space_limit() != SIZE_MAX) ::mallopt(M_ARENA_MAX, 1);
#endif
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

}  // namespace ostrel
