// Arbitrary bytes as path texts, under both path styles and several code
// pages, through every path operation. The file system is in memory, made
// from the texts themselves: a hash of each text says whether it names a
// file, a directory or nothing, what its full path is and that full path's
// drive type. The disk is never touched.
//
// Input: a style byte, a seed byte for the hash, two bytes of lead-byte
// range for an otherwise unknown code page, then texts separated by NUL
// bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fields.h"
#include "support/memory_fs.h"
#include "support/path_patterns.h"
#include "walk/path.h"

namespace {

using ostrel::PathStyle;
using ostrel::test::MemoryFileSystem;

void check(bool condition) {
  if (!condition) std::abort();
}

// True when the text holds `*` or `?` as a character of its own: a lead
// byte takes the next byte with it, except as the text's last byte.
bool holds_wildcard(std::string_view text, const ostrel::LeadByteSet& lead) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '*' || text[at] == '?') return true;
    if (lead[static_cast<unsigned char>(text[at])] && at + 1 < text.size())
      ++at;
  }
  return false;
}

std::uint32_t hash(std::string_view text, unsigned seed) {
  std::uint32_t h = 2166136261u ^ seed;
  for (char byte : text) h = (h ^ static_cast<unsigned char>(byte)) * 16777619u;
  return h;
}

// Entries and answers from the hash of each text. A text the tree cannot
// hold (a file where a directory is needed, a name taken) adds nothing.
void add_answers(MemoryFileSystem& fs, const std::string& text,
                 unsigned seed) {
  std::uint32_t h = hash(text, seed);
  try {
    if (h % 3 == 1) fs.add_file(text);
    if (h % 3 == 2) fs.add_directory(text);
  } catch (const std::logic_error&) {
  }
  std::string full;
  switch (h / 3 % 5) {
    case 0: return;
    case 1: full = "C:\\"; break;
    case 2: full = "\\\\server\\share\\"; break;
    case 3: full = text; break;
    default: full = std::string(300, 'x');
  }
  fs.set_full_path(text, full);
  using DriveType = ostrel::SearchByText::DriveType;
  const DriveType types[] = {DriveType::unknown, DriveType::no_root,
                             DriveType::exists};
  fs.set_drive_type(full, types[h / 15 % 3]);
}

// The path operations never search a directory, open a file or ask for an
// identity, and never ask about a text that a status query refuses without
// a lookup.
void check_asked(const PathStyle& style, ostrel::test::Call call,
                 const std::string& text) {
  using ostrel::test::Call;
  check(call != Call::search && call != Call::directory_id &&
        call != Call::open_file);
  if (call == Call::drive_type) return;
  check(!text.empty());
  check(!ostrel::is_drive_only(style, text));
  check(!holds_wildcard(text, style.code_page_lead_bytes));
}

PathStyle style_from(unsigned selector, unsigned char first,
                     unsigned char last) {
  constexpr unsigned CODE_PAGES[] = {0, 932, 936, 949, 950, 1361, 1252, 0};
  unsigned index = selector % 9;
  if (index == 8) return ostrel::posix_path_style();
  ostrel::CodePageInfo code_page{CODE_PAGES[index], {}};
  if (index == 7) {
    code_page.number = 50000;  // not in the built-in table
    code_page.lead_byte_ranges.emplace_back(first, last);
  }
  return ostrel::windows_path_style(ostrel::lead_bytes_for_code_page(code_page));
}

bool is_plain_root(const PathStyle& style, const std::string& text) {
  return text.empty() || ostrel::is_drive_only(style, text) ||
         ostrel::is_root_only(style, text);
}

void check_separators(const PathStyle& style, const std::string& text) {
  std::string stripped = text;
  ostrel::strip_trailing_separator(style, stripped);
  // At most one byte goes, and only a separator at the end.
  check(stripped == text ||
        (stripped.size() + 1 == text.size() && text.back() == style.separator() &&
         text.compare(0, stripped.size(), stripped) == 0));
  if (is_plain_root(style, text)) check(stripped == text);

  std::string appended = text;
  ostrel::append_separator(style, appended);
  if (is_plain_root(style, text))
    check(appended == text);
  else
    check(appended == stripped + style.separator());
}

void check_split_join(const PathStyle& style, const std::string& text,
                      const std::string& name) {
  ostrel::PathParts parts = ostrel::split_path(style, text);
  check(parts.drive + parts.directory + parts.file_name == text);
  ostrel::test::NameParts name_parts =
      ostrel::test::split_extension(style, parts.file_name);
  check(name_parts.name + name_parts.extension == parts.file_name);
  check(name_parts.extension.empty() || name_parts.extension.front() == '.');
  check(ostrel::join_path(style, parts.drive, parts.directory,
                          parts.file_name) == text);
  // The drive and directory part exactly as written, then the name.
  check(ostrel::join_dir_and_name(style, text, name) ==
        parts.drive + parts.directory + name);
}

void check_patterns(const PathStyle& style, MemoryFileSystem& fs,
                    const std::string& text, const std::string& file_pattern) {
  int kind = ostrel::classify_path(style, fs, text);
  check(kind >= -1 && kind <= 1);
  if (is_plain_root(style, text)) check(kind == 1);
  else if (holds_wildcard(text, style.code_page_lead_bytes)) check(kind == -1);
  if (!text.empty()) {
    ostrel::PathStatus status = ostrel::query_path_status(style, fs, text);
    check(status.found || !status.is_directory);
  }

  std::string with_separator = text;
  ostrel::append_separator(style, with_separator);
  std::string search =
      ostrel::make_search_pattern(style, fs, text, file_pattern);
  check(search == (kind == 1 ? with_separator + file_pattern : text));
  check(ostrel::test::make_listing_pattern(style, fs, text) ==
        ostrel::make_search_pattern(style, fs, text, "*.*"));
  std::string subdirs = ostrel::test::make_subdir_pattern(style, fs, text);
  check(subdirs == (kind == 1 ? with_separator + "*.*"
                              : ostrel::join_dir_and_name(style, text, "*.*")));
}

void check_bytes(const PathStyle& style) {
  for (unsigned byte = 0; byte < 256; ++byte) {
    bool fixed = byte >= 0x81 && (byte <= 0x9F || byte >= 0xE0);
    check(ostrel::is_dbcs_lead_byte(style, static_cast<unsigned char>(byte)) ==
          (style.windows && fixed));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 4) return 0;
  const PathStyle style = style_from(data[0], data[2], data[3]);
  MemoryFileSystem fs(style.windows ? ostrel::test::PathRules::windows
                                    : ostrel::test::PathRules::posix);
  std::vector<std::string> texts;
  for (std::string_view field : ostrel::fuzz::split_fields(
           std::string_view(reinterpret_cast<const char*>(data) + 4, size - 4),
           8)) {
    texts.emplace_back(field);
    add_answers(fs, texts.back(), data[1]);
  }
  fs.watch([&style](ostrel::test::Call call, const std::string& text) {
    check_asked(style, call, text);
  });
  if (data[0] == 0) check_bytes(style);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::string& next = texts[(i + 1) % texts.size()];
    check_separators(style, texts[i]);
    check_split_join(style, texts[i], next);
    check_patterns(style, fs, texts[i], i % 2 ? next : std::string("*.jpg"));
    ostrel::is_unc_share_root(texts[i]);
  }
  return 0;
}
