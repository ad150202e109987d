// The platform interface on Win32, through the ANSI ("A") functions, so that
// path texts stay bytes in the ANSI code page; texts past their limit go
// through the wide ("W") ones as extended paths (platform/extended_path.h).
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "platform/extended_path.h"
#include "platform/platform.h"
#include "platform/write_error.h"

// The arguments reach `main` as typed: `*` and `?` are the program's to
// expand, never the runtime's.
extern "C" {
int _dowildcard = 0;
}

namespace ostrel {

namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct FindCloser {
  void operator()(HANDLE handle) const { ::FindClose(handle); }
};
using UniqueFind = std::unique_ptr<void, FindCloser>;

// Every call that takes a text comes in two kinds: the ANSI one for texts
// within its limit, the wide one for extended paths past it.
HANDLE create_file(const char* path, DWORD access, DWORD flags) {
  return ::CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, flags, nullptr);
}
HANDLE create_file(const wchar_t* path, DWORD access, DWORD flags) {
  return ::CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, flags, nullptr);
}

template <typename Char>
using FindData = std::conditional_t<std::is_same_v<Char, char>,
                                    WIN32_FIND_DATAA, WIN32_FIND_DATAW>;

HANDLE find_first_file(const char* text, WIN32_FIND_DATAA& data) {
  return ::FindFirstFileA(text, &data);
}
HANDLE find_first_file(const wchar_t* text, WIN32_FIND_DATAW& data) {
  return ::FindFirstFileW(text, &data);
}

HANDLE find_first_file_ex(const char* text, FINDEX_INFO_LEVELS level,
                          WIN32_FIND_DATAA& data, DWORD flags) {
  return ::FindFirstFileExA(text, level, &data, FindExSearchNameMatch, nullptr,
                            flags);
}
HANDLE find_first_file_ex(const wchar_t* text, FINDEX_INFO_LEVELS level,
                          WIN32_FIND_DATAW& data, DWORD flags) {
  return ::FindFirstFileExW(text, level, &data, FindExSearchNameMatch, nullptr,
                            flags);
}

BOOL find_next_file(HANDLE find, WIN32_FIND_DATAA& data) {
  return ::FindNextFileA(find, &data);
}
BOOL find_next_file(HANDLE find, WIN32_FIND_DATAW& data) {
  return ::FindNextFileW(find, &data);
}

// The text converted from the ANSI code page in force, as the ANSI
// functions convert it.
std::optional<std::wstring> to_wide(std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return std::nullopt;
  const int length = static_cast<int>(text.size());
  int size = ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), size);
  return wide;
}

// A name in the ANSI code page, as the ANSI functions report it: a
// character the code page lacks becomes its default character (`?`).
std::string to_ansi(const wchar_t* name) {
  int size =
      ::WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string ansi(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, name, -1, ansi.data(), size, nullptr,
                        nullptr);
  ansi.pop_back();  // the terminator
  return ansi;
}

std::string_view name_of(const WIN32_FIND_DATAA& data) {
  return data.cFileName;
}
std::string name_of(const WIN32_FIND_DATAW& data) {
  return to_ansi(data.cFileName);
}

// Without the terminator.
std::size_t current_directory_length() {
  DWORD size = ::GetCurrentDirectoryW(0, nullptr);
  return size > 0 ? size - 1 : 0;
}

std::wstring current_directory() {
  std::wstring current(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(current.size()),
                                          current.data());
    // Too small a buffer gives the size needed, terminator included.
    if (length < current.size()) {
      current.resize(length);
      return current;
    }
    current.resize(length);
  }
}

// The current directory of another drive, which Windows keeps in the
// hidden variable `=X:`; empty where it keeps none (then the drive's root).
std::wstring drive_current_directory(wchar_t drive) {
  const wchar_t name[] = {L'=', drive, L':', L'\0'};
  DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  DWORD length = ::GetEnvironmentVariableW(name, value.data(), size);
  if (length == 0 || length >= size) return {};
  value.resize(length);
  return value;
}

// How a text reaches the file system: as it is, through the ANSI functions,
// while it and its full path fit their limit (nearly always, and decided
// without converting it); past it, through the wide ones as an extended
// path; or not at all, past the limit of those too.
struct Route {
  std::optional<std::wstring> extended;
  bool reachable = true;
};

Route route_to(const std::string& text) {
  if (surely_fits_ansi(text, current_directory_length())) return {};
  std::optional<std::wstring> wide = to_wide(text);
  if (!wide) return {std::nullopt, false};
  std::wstring current = current_directory();
  std::optional<wchar_t> drive = other_drive(*wide, current);
  std::wstring drive_current =
      drive ? drive_current_directory(*drive) : std::wstring();
  std::wstring full = full_path_of(*wide, current, drive_current);
  if (fits_ansi(wide->size(), full.size())) return {};
  std::optional<std::wstring> extended = extended_path(full);
  return {extended, extended.has_value()};
}

// `call` with the text as the route takes it: the ANSI text or its extended
// path; `unreachable` where there is no route.
template <typename T, typename Call>
T through_route(const std::string& text, T unreachable, Call call) {
  Route route = route_to(text);
  if (!route.reachable) return unreachable;
  if (route.extended) return call(route.extended->c_str());
  return call(text.c_str());
}

UniqueHandle open_existing(const std::string& path, DWORD access,
                           DWORD flags) {
  HANDLE handle = through_route(
      path, INVALID_HANDLE_VALUE,
      [&](auto text) { return create_file(text, access, flags); });
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return UniqueHandle(handle);
}

bool is_directory(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The fast listing: no short names looked up (FindExInfoBasic) and more
// entries fetched per call (FIND_FIRST_EX_LARGE_FETCH). Windows before 7
// refuses both with ERROR_INVALID_PARAMETER, and then lists the way
// FindFirstFile does. The information level only chooses what is returned:
// the file system still matches the pattern against each entry's short
// (8.3) name as well as its long one, as it does for FindFirstFile, so
// `*.jpg` finds `photo.jpgx` (short name PHOTO~1.JPG) either way, in the
// same order.
template <typename Char>
bool list_entries(const Char* search_text,
                  const std::function<bool(const DirectoryEntry&)>& on_entry) {
  FindData<Char> data;
  HANDLE first = find_first_file_ex(search_text, FindExInfoBasic, data,
                                    FIND_FIRST_EX_LARGE_FETCH);
  if (first == INVALID_HANDLE_VALUE &&
      ::GetLastError() == ERROR_INVALID_PARAMETER)
    first = find_first_file_ex(search_text, FindExInfoStandard, data, 0);
  if (first == INVALID_HANDLE_VALUE) return false;
  UniqueFind find(first);
  do {
    const auto& name = name_of(data);
    if (!on_entry(DirectoryEntry{name, is_directory(data.dwFileAttributes)}))
      break;
  } while (find_next_file(find.get(), data));
  return true;
}

template <typename Char>
Result<bool> look_up(const Char* text) {
  FindData<Char> data;
  HANDLE find = find_first_file(text, data);
  if (find == INVALID_HANDLE_VALUE) return Failure::none_found;
  ::FindClose(find);
  return is_directory(data.dwFileAttributes);
}

// A disk file, open for positioned reads.
class Win32File final : public ReadableFile {
 public:
  bool open(const std::string& path) {
    // A directory fails to open here. A device name such as `nul.jpg` or
    // `con.jpg` opens, but is no disk file: a read from it could wait on the
    // console for ever, so it is closed unread.
    handle_ = open_existing(path, GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
    LARGE_INTEGER size;
    if (!handle_ || ::GetFileType(handle_.get()) != FILE_TYPE_DISK ||
        !::GetFileSizeEx(handle_.get(), &size) || size.QuadPart < 0)
      return false;
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    return true;
  }

  std::size_t read_at(std::uint64_t offset, unsigned char* buffer,
                      std::size_t size) const override {
    constexpr std::size_t MAX_CHUNK = 1u << 30;
    std::size_t done = 0;
    while (done < size) {
      std::uint64_t at = offset + done;
      OVERLAPPED where{};
      where.Offset = static_cast<DWORD>(at);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
      DWORD chunk = static_cast<DWORD>(std::min(size - done, MAX_CHUNK));
      DWORD got = 0;
      if (!::ReadFile(handle_.get(), buffer + done, chunk, &got, &where) ||
          got == 0)
        break;
      done += got;
    }
    return done;
  }

  std::uint64_t size() const override { return size_; }

 private:
  UniqueHandle handle_;
  std::uint64_t size_ = 0;
};

class Win32FileSystem final : public SearchByText {
 public:
  bool search(const std::string& search_text,
              const std::function<bool(const DirectoryEntry&)>& on_entry)
      override {
    return through_route(search_text, false, [&](auto text) {
      return list_entries(text, on_entry);
    });
  }

  Result<bool> lookup(const std::string& text) override {
    return through_route(text, Result<bool>(Failure::none_found),
                         [](auto path) { return look_up(path); });
  }

  std::optional<std::string> full_path(const std::string& text) override {
    // The answer is the required size (terminator included) when it does not
    // fit; a second try with that size normally succeeds.
    std::string result(MAX_PATH, '\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD length = ::GetFullPathNameA(
          text.c_str(), static_cast<DWORD>(result.size()), result.data(),
          nullptr);
      if (length == 0) return std::nullopt;
      if (length < result.size()) {
        result.resize(length);
        return result;
      }
      result.assign(length, '\0');
    }
    return std::nullopt;
  }

  DriveType drive_type(const std::string& full_path) override {
    switch (::GetDriveTypeA(full_path.c_str())) {
      case DRIVE_UNKNOWN:
        return DriveType::unknown;
      case DRIVE_NO_ROOT_DIR:
        return DriveType::no_root;
      default:
        return DriveType::exists;
    }
  }

  std::optional<DirectoryId> directory_id(const std::string& text) override {
    // Backup semantics are what let CreateFileA open a directory.
    UniqueHandle dir = open_existing(text.empty() ? "." : text,
                                     FILE_READ_ATTRIBUTES,
                                     FILE_FLAG_BACKUP_SEMANTICS);
    BY_HANDLE_FILE_INFORMATION info;
    if (!dir || !::GetFileInformationByHandle(dir.get(), &info) ||
        !is_directory(info.dwFileAttributes))
      return std::nullopt;
    return DirectoryId{
        info.dwVolumeSerialNumber,
        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  }

  FileResult open_path(const std::string& path) override {
    // Allocated before anything is opened, so running out of memory leaves
    // nothing open.
    auto file = std::make_unique<Win32File>();
    if (!file->open(path)) return Failure::none_found;
    return file;
  }
};

CodePageInfo read_ansi_code_page() {
  CodePageInfo code_page;
  code_page.number = ::GetACP();
  CPINFO info;
  if (!::GetCPInfo(code_page.number, &info) || info.MaxCharSize < 2)
    return code_page;
  // Pairs of first and last lead byte, ended by a pair of zeros.
  for (UINT i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2)
    code_page.lead_byte_ranges.emplace_back(info.LeadByte[i],
                                            info.LeadByte[i + 1]);
  return code_page;
}

unsigned __stdcall run_thread_body(void* body) {
  std::unique_ptr<std::function<void()>> owned(
      static_cast<std::function<void()>*>(body));
  (*owned)();
  return 0;
}

}  // namespace

struct Thread::Handle {
  UniqueHandle thread;
};

// The stack is a reservation of address space, which 32-bit processes have
// little of: hundreds of threads fit where the default stack would not.
Thread::Thread(std::function<void()> body, std::size_t stack_size)
    : handle_(std::make_unique<Handle>()) {
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  std::uintptr_t thread = ::_beginthreadex(
      nullptr, static_cast<unsigned>(stack_size), run_thread_body, owned.get(),
      STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == 0)
    throw std::system_error(errno, std::generic_category());
  owned.release();
  handle_->thread.reset(reinterpret_cast<HANDLE>(thread));
}

Thread::Thread(Thread&& other) noexcept = default;

Thread::~Thread() {
  if (handle_) ::WaitForSingleObject(handle_->thread.get(), INFINITE);
}

FileSystem& disk_file_system() {
  static Win32FileSystem file_system;
  return file_system;
}

// Handles are no scarce resource on Windows, and directories are held by
// their texts.
std::size_t raise_descriptor_limit() { return SIZE_MAX; }

// A 32-bit process's 2 GiB hold any number of threads the walk starts.
std::size_t address_space_limit() { return SIZE_MAX; }

CodePageInfo ansi_code_page() {
  static const CodePageInfo code_page = read_ansi_code_page();
  return code_page;
}

bool windows_paths() { return true; }

namespace {

// A reader that goes away (`ostrel -r C:\ | more`, then q) ends the run at
// once, as SIGPIPE does on POSIX, with the status a POSIX shell shows then.
// The runtime reports a closed pipe as EPIPE, or as EINVAL with the system's
// ERROR_NO_DATA; under Wine, a POSIX pipe whose reader has gone (`wine
// ostrel.exe | head`) gives ERROR_PIPE_NOT_CONNECTED instead.
void end_if_reader_gone() {
  DWORD error = ::GetLastError();
  if (errno == EPIPE || error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE ||
      error == ERROR_PIPE_NOT_CONNECTED)
    end_process_now(141);
}

// Any other failed write (a full disk) ends the run too, reported.
[[noreturn]] void end_on_failed_write() {
  int error = errno;
  end_if_reader_gone();
  end_on_write_error(error);
}

}  // namespace

// Exiting would stop the probe threads wherever they are and then run the
// runtime's exit code, which can wait for ever on a lock one of them held
// (the heap's, under Wine and Windows XP): the process is ended outright,
// as a signal ends it on POSIX.
void end_process_now(int status) {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
  std::_Exit(status);
}

void write_output(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) < text.size())
    end_on_failed_write();
}

void flush_output() {
  if (std::fflush(stdout) != 0) end_on_failed_write();
}

void prepare_process() {
  // A drive without its medium fails like a missing file instead of asking
  // the user in a message box.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  ::_setmode(::_fileno(stdout), _O_TEXT);
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

}  // namespace ostrel
