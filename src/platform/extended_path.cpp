#include "platform/extended_path.h"

#include <vector>

namespace ostrel {
namespace {

template <typename Char>
bool is_separator(Char c) {
  return c == Char('\\') || c == Char('/');
}

// `\\server\share`, `\\.\` or `\\?\`, either separator.
template <typename Char>
bool starts_with_two_separators(std::basic_string_view<Char> text) {
  return text.size() >= 2 && is_separator(text[0]) && is_separator(text[1]);
}

// `X:\` or `X:/`.
template <typename Char>
bool is_drive_absolute(std::basic_string_view<Char> text) {
  return text.size() >= 3 && text[1] == Char(':') && is_separator(text[2]);
}

// `X:name`, `X:` alone included.
template <typename Char>
bool is_drive_relative(std::basic_string_view<Char> text) {
  return text.size() >= 2 && text[1] == Char(':') && !is_drive_absolute(text);
}

// Typed with the prefix already: Windows takes it as it is.
bool is_extended(std::wstring_view text) {
  return text.starts_with(L"\\\\?\\");
}

wchar_t fold_letter(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 0x20) : c;
}

// An absolute path cut at its root, which `..` never climbs above.
struct Rooted {
  std::wstring root;  // `X:\`, `\\server\share\` or `\\.\`, with `\` only
  std::wstring rest;  // what follows, as typed
};

// The name that starts at `pos` after any separators; `pos` moves past it.
// Empty only at the end of the text.
std::wstring_view next_name(std::wstring_view text, std::size_t& pos) {
  while (pos < text.size() && is_separator(text[pos])) ++pos;
  std::size_t start = pos;
  while (pos < text.size() && !is_separator(text[pos])) ++pos;
  return text.substr(start, pos - start);
}

// The root of an absolute text; nothing for any other.
std::optional<Rooted> split_root(std::wstring_view text) {
  if (is_drive_absolute(text))
    return Rooted{{text[0], L':', L'\\'}, std::wstring(text.substr(3))};
  if (!starts_with_two_separators(text)) return std::nullopt;
  if (text.size() >= 4 && (text[2] == L'.' || text[2] == L'?') &&
      is_separator(text[3]))
    return Rooted{{L'\\', L'\\', text[2], L'\\'}, std::wstring(text.substr(4))};
  std::size_t pos = 2;
  std::wstring root = L"\\\\";
  root += next_name(text, pos);
  root += L'\\';
  if (std::wstring_view share = next_name(text, pos); !share.empty()) {
    root += share;
    root += L'\\';
  }
  return Rooted{root, std::wstring(text.substr(pos))};
}

// The text with the current directory that applies put before it.
Rooted anchored(std::wstring_view text, std::wstring_view current,
                std::wstring_view drive_current) {
  if (std::optional<Rooted> rooted = split_root(text)) return *rooted;
  std::wstring_view base = current;
  std::wstring drive_root;
  if (is_drive_relative(text)) {
    if (other_drive(text, current)) {
      drive_root = {text[0], L':', L'\\'};
      base = drive_current.empty() ? std::wstring_view(drive_root)
                                   : drive_current;
    }
    text.remove_prefix(2);
  } else if (!text.empty() && is_separator(text[0])) {
    // `\name`: from the root of the current drive or share.
    Rooted rooted = split_root(current).value_or(Rooted{});
    rooted.rest = text;
    return rooted;
  }
  Rooted rooted = split_root(base).value_or(Rooted{});
  rooted.rest += L'\\';
  rooted.rest += text;
  return rooted;
}

// The names after the root with `.` and `..` folded.
std::vector<std::wstring_view> folded_names(std::wstring_view rest) {
  std::vector<std::wstring_view> names;
  std::size_t pos = 0;
  for (std::wstring_view name; !(name = next_name(rest, pos)).empty();) {
    if (name == L".") continue;
    if (name == L"..") {
      if (!names.empty()) names.pop_back();
      continue;
    }
    names.push_back(name);
  }
  return names;
}

bool is_all_dots(std::wstring_view name) {
  return name.find_first_not_of(L'.') == std::wstring_view::npos;
}

// What Windows trims: one dot at the end of a name inside the path (`a.\b`
// is `a\b`), and every dot and space at the end of the last name when the
// path does not end in a separator. Names of dots alone (`...`) are names
// inside the path.
void trim_names(std::vector<std::wstring_view>& names, bool ends_in_separator) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::wstring_view& name = names[i];
    if (i + 1 == names.size() && !ends_in_separator) {
      name = name.substr(0, name.find_last_not_of(L". ") + 1);
    } else if (name.back() == L'.' && !is_all_dots(name)) {
      name.remove_suffix(1);
    }
  }
}

}  // namespace

bool surely_fits_ansi(std::string_view text, std::size_t current_length) {
  // An empty text names nothing: the ANSI functions answer it as ever.
  if (text.empty()) return true;
  if (text.size() >= ANSI_PATH_BUFFER) return false;
  if (is_drive_absolute(text) || starts_with_two_separators(text)) return true;
  if (is_drive_relative(text) || is_separator(text[0])) return false;
  return current_length + 1 + text.size() < ANSI_PATH_BUFFER;
}

std::optional<wchar_t> other_drive(std::wstring_view text,
                                   std::wstring_view current) {
  if (!is_drive_relative(text)) return std::nullopt;
  bool same = current.size() >= 2 && current[1] == L':' &&
              fold_letter(current[0]) == fold_letter(text[0]);
  if (same) return std::nullopt;
  return text[0];
}

std::wstring full_path_of(std::wstring_view text, std::wstring_view current,
                          std::wstring_view drive_current) {
  if (is_extended(text)) return std::wstring(text);
  Rooted path = anchored(text, current, drive_current);
  std::vector<std::wstring_view> names = folded_names(path.rest);
  bool ends_in_separator = !path.rest.empty() && is_separator(path.rest.back());
  trim_names(names, ends_in_separator);
  // A last name trimmed away leaves the separator before it.
  if (!names.empty() && names.back().empty()) {
    names.pop_back();
    ends_in_separator = true;
  }
  std::wstring full = path.root;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) full += L'\\';
    full += names[i];
  }
  if (ends_in_separator && !names.empty()) full += L'\\';
  return full;
}

bool fits_ansi(std::size_t text_length, std::size_t full_length) {
  return text_length < ANSI_PATH_BUFFER && full_length < ANSI_PATH_BUFFER;
}

std::optional<std::wstring> extended_path(std::wstring_view full_path) {
  std::wstring extended;
  if (is_extended(full_path)) {
    extended = full_path;
  } else if (full_path.starts_with(L"\\\\.\\")) {
    extended = L"\\\\?\\";
    extended += full_path.substr(4);
  } else if (full_path.starts_with(L"\\\\")) {
    extended = L"\\\\?\\UNC\\";
    extended += full_path.substr(2);
  } else {
    extended = L"\\\\?\\";
    extended += full_path;
  }
  if (extended.size() > LONGEST_EXTENDED_PATH) return std::nullopt;
  return extended;
}

}  // namespace ostrel
