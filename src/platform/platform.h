// The one interface between ostrel and the operating system. Everything that
// lists directories, asks for a status, opens a file or learns the code page
// goes through here; `posix.cpp` and `win32.cpp` implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/result.h"

namespace ostrel {

// Bytes of a file, from `offset` on.
struct ByteRange {
  std::uint64_t offset = 0;
  std::size_t size = 0;
};

// An open file, read by position. Each read names its own offset, so any
// number of threads may read one file at once. Closes itself.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;

  // Reads up to `size` bytes at `offset`. Fewer arrive only at the end of the
  // file or on an error, which both end what can be read.
  virtual std::size_t read_at(std::uint64_t offset, unsigned char* buffer,
                              std::size_t size) const = 0;

  // The file's size from its status, taken when it was opened.
  virtual std::uint64_t size() const = 0;

  // Says, before the reads, that they will fall in these ranges, where
  // reads wait for a disk or a network: all are asked for at once, and
  // nothing beyond them is brought in on a read's account (at most two).
  virtual void will_read(std::span<const ByteRange> /*ranges*/) const {}
};

using FileResult = Result<std::unique_ptr<ReadableFile>>;

// Identifies one directory on one volume, so that a walk can tell a
// directory it has already walked (device and inode; volume serial number
// and file index).
struct DirectoryId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const DirectoryId&, const DirectoryId&) = default;
};

struct DirectoryIdHash {
  std::size_t operator()(const DirectoryId& id) const noexcept {
    return std::hash<std::uint64_t>()(id.volume * 0x9E3779B97F4A7C15ull ^
                                      id.index);
  }
};

// One entry of a directory search: its own name (no directory part) and
// whether it is a directory (after following a symbolic link).
struct DirectoryEntry {
  std::string_view name;
  bool is_directory = false;
};

// Receives what one read of a directory finds.
class EntrySink {
 public:
  virtual ~EntrySink() = default;
  // May throw std::bad_alloc, which ends the read.
  virtual void add_file(std::string_view name) = 0;
  // Never throws: a subdirectory that cannot be stored is the sink's to note.
  virtual void add_directory(std::string_view name) = 0;
  // The subdirectories could not all be found for want of memory.
  virtual void lose_directories() = 0;
};

class Directory;
using DirectoryResult = Result<std::unique_ptr<Directory>>;

// A directory held open: its entries are read, its files and subdirectories
// opened and its parent found through it, whatever becomes of the text it
// was reached by. On POSIX a descriptor; where directories are searched by
// text (Windows), that text. Every operation may be called from several
// threads at once, but a directory is read by one thread at a time.
class Directory {
 public:
  explicit Directory(std::optional<DirectoryId> id) : id_(id) {}
  virtual ~Directory() = default;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  // Its identity, from the open directory itself; nothing where the
  // platform cannot tell.
  std::optional<DirectoryId> id() const { return id_; }

  // Reads the directory once. Hands `sink` every entry that is no directory
  // (after following a link) and whose name matches `file_pattern`; a
  // pattern without wildcards names one entry, looked up as it is, so a
  // dangling link counts. With `directories`, also every subdirectory, links
  // followed, "." and ".." left out. Entries come in the file system's own
  // order. May throw std::bad_alloc.
  virtual void read(std::string_view file_pattern, bool directories,
                    EntrySink& sink) const = 0;

  // Opens the existing regular file `name` for reading, without denying
  // others reading or writing it. A missing name, a directory, a FIFO, a
  // socket, a device or anything unreadable gives no file, and nothing is
  // ever read from such an entry. May throw std::bad_alloc.
  virtual FileResult open_file(std::string_view name) const = 0;

  // Opens the subdirectory `name`, following a link.
  virtual DirectoryResult open_subdirectory(std::string_view name) const = 0;

  // Opens the directory that holds this one: on POSIX its ".." (for a
  // directory reached through a link, the link target's own parent).
  virtual DirectoryResult open_parent() const = 0;

  // The descriptor of this directory in the process's table, as
  // std::thread::native_handle gives a thread's, for a thread whose table is
  // its own to fetch; -1 where there is none.
  virtual int native_handle() const { return -1; }

 private:
  std::optional<DirectoryId> id_;
};

// Opens files of open directories: the directory itself, or where a thread
// has descriptors of its own, through those.
class FileOpener {
 public:
  virtual ~FileOpener() = default;
  virtual FileResult open_file(const Directory& directory,
                               std::string_view name) = 0;
};

// The status lookups and the opening of directories and files by their
// texts. The walk, the path operations and the probe only ever see the file
// system through this and the directories it opens, so tests can hand them
// an in-memory one. Every operation may be called from several threads at
// once. Texts may be of any length.
class FileSystem : public FileOpener {
 public:
  // Looks one text up, unchanged: whether the entry is a directory, or
  // `none_found`.
  virtual Result<bool> lookup(const std::string& text) = 0;

  // True for a text that names a drive root or a reachable network share
  // root, which a directory search never finds; only where paths have them.
  virtual bool is_reachable_root(const std::string& /*text*/) { return false; }

  // Opens the directory that `text` names: the directory part of a search
  // text, with its trailing separator ("" is the current directory).
  virtual DirectoryResult open_directory(const std::string& text) = 0;

  // Opens a file by its full text, as `Directory::open_file` opens one by
  // its name: the way to a file when no descriptor is left for its
  // directory.
  virtual FileResult open_path(const std::string& path) = 0;

  // The longest text the system takes whole, which opening by text costs a
  // single descriptor for; a longer one is resolved a piece at a time.
  virtual std::size_t longest_whole_text() const { return SIZE_MAX; }

  FileResult open_file(const Directory& directory,
                       std::string_view name) override {
    return directory.open_file(name);
  }

  // An opener for the calling thread alone, where one opens files faster
  // than the directories themselves; nothing where it would not. Call it on
  // the thread that will use it. That thread may then hold descriptors apart
  // from the process's: from then on it opens files only through this
  // opener, opens no directory, and leaves every directory's closing to
  // another thread.
  virtual std::unique_ptr<FileOpener> opener_for_this_thread() {
    return nullptr;
  }
};

// A file system whose directories are searched by pattern text, as Windows
// searches them: an open directory is its text, a read is a search of its
// files with the pattern and one of its subdirectories with "*.*", and a
// file opens by its full path. Nothing is held open, so nothing runs out.
class SearchByText : public FileSystem {
 public:
  // Calls `on_entry` for every entry of one directory whose name matches the
  // last component of `search_text`, in the search's own order ("." and ".."
  // may come too). Returns
  // false when the search finds nothing at its first step (no match, no
  // such directory, any failure). `on_entry` returns false to end the
  // search early. May throw std::bad_alloc.
  virtual bool search(
      const std::string& search_text,
      const std::function<bool(const DirectoryEntry&)>& on_entry) = 0;

  // The identity of the directory a text names; nothing when it cannot be had.
  virtual std::optional<DirectoryId> directory_id(const std::string& text) = 0;

  // The full path of a text, as the platform resolves it against the
  // current directory; nothing when it gives no answer.
  virtual std::optional<std::string> full_path(const std::string& text) = 0;

  // What the platform knows of the root of a full path.
  enum class DriveType { unknown, no_root, exists };
  virtual DriveType drive_type(const std::string& full_path) = 0;

  // A drive root (`X:\`) or a share root (`\\server\share\`) whose drive
  // exists, told by the text's full path; a full path too long for a path
  // buffer is no root.
  bool is_reachable_root(const std::string& text) override;

  // Opens nothing, so it cannot fail for want of handles: a directory the
  // search cannot read simply has no entries.
  DirectoryResult open_directory(const std::string& text) override;
};

// A Windows path buffer: 259 bytes of text and the terminator. A full path
// that does not fit it is never taken for a drive or share root.
inline constexpr std::size_t WINDOWS_PATH_BUFFER_SIZE = 260;

// True for a full path that is the root of a network share:
// two separators, a server, one separator, a share, at most one separator.
bool is_unc_share_root(std::string_view full_path);

// The stack of the pools' threads: their jobs keep their data on the heap,
// so a small one lets hundreds of threads wait at little cost.
inline constexpr std::size_t WORKER_STACK_SIZE = 128 << 10;

// A thread of its own with a stack of `stack_size` bytes (rounded up to what
// the platform allows), joined when it goes. Throws std::system_error when
// the thread cannot be started.
class Thread {
 public:
  Thread(std::function<void()> body, std::size_t stack_size);
  ~Thread();
  Thread(Thread&& other) noexcept;
  Thread& operator=(Thread&&) = delete;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

// The real file system of this platform.
FileSystem& disk_file_system();

// Raises the process's limit on open files as far as a walk could use
// (65,536, or the hard limit where that is lower), and returns how many
// more files it may open, directories included, beside those open already.
std::size_t raise_descriptor_limit();

// The most address space the process may map (`ulimit -v`), in bytes;
// SIZE_MAX where it is not limited.
std::size_t address_space_limit();

// The ANSI code page in force, as the platform describes it: its number and,
// for a multibyte code page, the lead-byte ranges it reports. On POSIX there
// is none (number 0, no ranges).
struct CodePageInfo {
  unsigned number = 0;
  std::vector<std::pair<unsigned char, unsigned char>> lead_byte_ranges;
};
CodePageInfo ansi_code_page();

// True where paths follow the Windows conventions (drive prefixes, `\`).
bool windows_paths();

// Standard output: fully buffered, text mode (CR LF line ends on Windows).
// Nothing else is ever written. The first write that fails, at a full
// buffer or at the flush, ends the run (platform/write_error.h).
void write_output(std::string_view text);
void flush_output();

// Ends the process at once with `status`, while other threads may still be
// running: no destructor, no exit handler and no lock of theirs is waited
// for.
[[noreturn]] void end_process_now(int status);

// Start-up work of the process (SIGPIPE to its default action on POSIX,
// text-mode output on Windows).
void prepare_process();

}  // namespace ostrel
