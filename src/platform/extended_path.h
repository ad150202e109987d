// Windows texts past the limit of the ANSI functions. Those take a text, and
// the full path it resolves to, of at most MAX_PATH units with the
// terminator; longer ones reach the file system through the wide functions
// as extended paths (`\\?\X:\...`, `\\?\UNC\server\share\...`), up to 32,767
// units. An extended path is taken as it is, with no current directory, no
// `.` or `..` and no `/`, so a text is made absolute here first, as the ANSI
// functions would make it. The rules work on the wide text, converted from
// the ANSI code page, where `\` is always a separator (in a double-byte code
// page the byte of `\` can be the second byte of a character). They need no
// Windows, so they are tested on every platform.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// MAX_PATH: a text and its full path must each fit this many units with the
// terminator for the ANSI functions to take them.
inline constexpr std::size_t ANSI_PATH_BUFFER = 260;

// The longest extended path the wide functions take, prefix included.
inline constexpr std::size_t LONGEST_EXTENDED_PATH = 32767;

// True when the ANSI functions surely take `text` (bytes in the ANSI code
// page) as it is, given the length of the current directory: a text that
// fits whose full path is no longer than itself, or a relative one that
// fits with the current directory put before it. A byte is at most one
// unit, so this needs no conversion; texts it is unsure of are resolved.
bool surely_fits_ansi(std::string_view text, std::size_t current_length);

// The drive of `X:name` when it is not the drive of `current`: then the
// text resolves against that drive's own current directory.
std::optional<wchar_t> other_drive(std::wstring_view text,
                                   std::wstring_view current);

// The full path of `text`, as Windows resolves it: against `current` (the
// process's current directory) or, for `X:name` on another drive, against
// `drive_current` (that drive's, or its root when empty); `/` as `\`, runs
// of separators as one, `.` and `..` folded without climbing above the
// drive or share, and the dots and spaces Windows trims taken off. A text
// that is already extended stays as it is.
std::wstring full_path_of(std::wstring_view text, std::wstring_view current,
                          std::wstring_view drive_current);

// True when the ANSI functions take a text of `text_length` units whose full
// path has `full_length` units.
bool fits_ansi(std::size_t text_length, std::size_t full_length);

// The extended path of a full path; nothing when it is too long for the
// wide functions.
std::optional<std::wstring> extended_path(std::wstring_view full_path);

}  // namespace ostrel
