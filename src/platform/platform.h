// The one interface between ostrel and the operating system. Everything that
// lists directories, asks for a status, opens a file or learns the code page
// goes through here; `posix.cpp` and `win32.cpp` implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel {

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

  // Asks for the first `size` bytes to be brought in at once, where reads
  // wait for a disk: one request serves the reads that follow.
  virtual void read_ahead(std::size_t /*size*/) const {}
};

// One entry of a directory search: its own name (no directory part) and
// whether it is a directory (after following a symbolic link).
struct DirectoryEntry {
  std::string_view name;
  bool is_directory = false;
};

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

// Drive types as the platform numbers them: undeterminable, and no such
// root. Every other type is a drive that exists.
inline constexpr unsigned DRIVE_TYPE_UNKNOWN = 0;
inline constexpr unsigned DRIVE_TYPE_NO_ROOT = 1;

// A directory held open: its entries are read, its files opened and its
// subdirectories opened relative to it, whatever becomes of its path text.
// On POSIX a descriptor; where directories are searched by text (Windows),
// the text it was opened by. Closes itself when its last holder lets go.
class OpenDirectory {
 public:
  explicit OpenDirectory(std::optional<DirectoryId> id) : id_(id) {}
  virtual ~OpenDirectory() = default;
  OpenDirectory(const OpenDirectory&) = delete;
  OpenDirectory& operator=(const OpenDirectory&) = delete;

  // Its identity, from the open directory itself; nothing where the
  // platform cannot tell.
  std::optional<DirectoryId> id() const { return id_; }

 private:
  std::optional<DirectoryId> id_;
};
using DirectoryHandle = std::shared_ptr<const OpenDirectory>;

// An open that failed for want of a descriptor says so: that failure passes
// once the process has closed some, unlike any other.
struct DirectoryOpening {
  DirectoryHandle directory;
  bool out_of_handles = false;
};
struct FileOpening {
  std::unique_ptr<ReadableFile> file;
  bool out_of_handles = false;
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

// Opens files of open directories.
class FileOpener {
 public:
  virtual ~FileOpener() = default;

  // Opens an existing regular file `name` of `directory` (`path` is its full
  // text) for reading, without denying others reading or writing it. A
  // missing name, a directory, a FIFO, a socket, a device or anything
  // unreadable gives no file, and nothing is ever read from such an entry.
  // May throw std::bad_alloc.
  virtual FileOpening open_file(const OpenDirectory& directory,
                                std::string_view name,
                                const std::string& path) = 0;
};

// The status lookups, the directories held open and the opening of files.
// The walk, the path operations and the probe only ever see the file system
// through this, so tests can hand them an in-memory one. Every operation may
// be called from several threads at once. Texts may be of any length.
class FileSystem : public FileOpener {
 public:
  // Looks one text up, unchanged: nothing when no entry is found, otherwise
  // whether the entry is a directory.
  virtual std::optional<bool> lookup(const std::string& text) = 0;

  // The full path of a text for the root rescue; nothing where the platform
  // has no such notion or gives no answer.
  virtual std::optional<std::string> full_path(const std::string& text) = 0;

  // The drive type of a full path: DRIVE_TYPE_UNKNOWN, DRIVE_TYPE_NO_ROOT or
  // the type of a drive that exists.
  virtual unsigned drive_type(const std::string& full_path) = 0;

  // Opens the directory that `text` names: the directory part of a search
  // text, with its trailing separator ("" is the current directory).
  virtual DirectoryOpening open_directory(const std::string& text) = 0;

  // Opens `name`, a subdirectory of `parent`, following a link; `text` is
  // its own directory text, as `open_directory` takes it.
  virtual DirectoryOpening open_subdirectory(const OpenDirectory& parent,
                                             std::string_view name,
                                             const std::string& text) = 0;

  // Reads a directory once. Hands `sink` every entry that is no directory
  // (after following a link) and whose name matches `file_pattern`; a
  // pattern without wildcards names one entry, looked up as it is, so a
  // dangling link counts. With `directories`, also every subdirectory, links
  // followed, "." and ".." left out. Entries come in the file system's own
  // order. May throw std::bad_alloc.
  virtual void read_directory(const OpenDirectory& directory,
                              std::string_view file_pattern, bool directories,
                              EntrySink& sink) = 0;

  // An opener for the calling thread alone, where one opens files faster
  // than the file system itself; nothing where it would not. Call it on the
  // thread that will use it. That thread may then hold descriptors apart
  // from the process's: from then on it uses the file system only through
  // this opener, and leaves every directory's last release to another
  // thread.
  virtual std::unique_ptr<FileOpener> opener_for_this_thread() {
    return nullptr;
  }
};

// A file system whose directories are searched by pattern text, as Windows
// searches them: an open directory is its text, a read is a search of its
// files with the pattern and one of its subdirectories with "*.*", and a
// file opens by its full path.
class SearchByText : public FileSystem {
 public:
  // Calls `on_entry` for every entry of one directory whose name matches the
  // last component of `search_text`, in the search's own order ("." and ".."
  // may come too). Returns false when the search finds nothing at its first
  // step (no match, no such directory, any failure). `on_entry` returns
  // false to end the search early. May throw std::bad_alloc.
  virtual bool search(
      const std::string& search_text,
      const std::function<bool(const DirectoryEntry&)>& on_entry) = 0;

  // The identity of the directory a text names; nothing when it cannot be had.
  virtual std::optional<DirectoryId> directory_id(const std::string& text) = 0;

  // Opens a file by its full path, as `open_file` does.
  virtual std::unique_ptr<ReadableFile> open_path(const std::string& path) = 0;

  DirectoryOpening open_directory(const std::string& text) override;
  DirectoryOpening open_subdirectory(const OpenDirectory& parent,
                                     std::string_view name,
                                     const std::string& text) override;
  void read_directory(const OpenDirectory& directory,
                      std::string_view file_pattern, bool directories,
                      EntrySink& sink) override;
  FileOpening open_file(const OpenDirectory& directory, std::string_view name,
                        const std::string& path) override;
};

// The real file system of this platform.
FileSystem& disk_file_system();

// How many files the process may hold open at once, directories included.
std::size_t open_file_limit();

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
// Nothing else is ever written, and never to standard error.
void write_output(std::string_view text);
void flush_output();

// Start-up work of the process (SIGPIPE to its default action on POSIX,
// text-mode output on Windows).
void prepare_process();

}  // namespace ostrel
