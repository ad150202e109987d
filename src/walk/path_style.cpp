// Path styles and the lead-byte sets they carry.
#include "walk/path.h"

#include <algorithm>

namespace ostrel {

namespace {

void add_range(LeadByteSet& set, unsigned first, unsigned last) {
  for (unsigned byte = first; byte <= last && byte < 256; ++byte)
    set.set(byte);
}

}  // namespace

PathStyle windows_path_style(const LeadByteSet& code_page_lead_bytes) {
  PathStyle style;
  style.windows = true;
  // The separator operations take these whatever the code page, so a
  // trailing `\` that completes a double-byte character is never removed.
  add_range(style.fixed_lead_bytes, 0x81, 0x9F);
  add_range(style.fixed_lead_bytes, 0xE0, 0xFF);
  style.code_page_lead_bytes = code_page_lead_bytes;
  return style;
}

PathStyle posix_path_style() { return PathStyle{}; }

LeadByteSet lead_bytes_for_code_page(const CodePageInfo& code_page) {
  LeadByteSet set;
  switch (code_page.number) {
    case 932:
      add_range(set, 0x81, 0x9F);
      add_range(set, 0xE0, 0xFC);
      break;
    case 936:
    case 949:
    case 950:
      add_range(set, 0x81, 0xFE);
      break;
    case 1361:
      add_range(set, 0x81, 0xD3);
      add_range(set, 0xD8, 0xDE);
      add_range(set, 0xE0, 0xF9);
      break;
    default:
      // ASCII is never a lead byte, so a separator, a dot or a wildcard is
      // always a character of its own, whatever the platform reports.
      for (const auto& [first, last] : code_page.lead_byte_ranges)
        add_range(set, std::max<unsigned>(first, 0x80), last);
  }
  return set;
}

const PathStyle& native_path_style() {
  static const PathStyle style =
      windows_paths()
          ? windows_path_style(lead_bytes_for_code_page(ansi_code_page()))
          : posix_path_style();
  return style;
}

bool is_drive_only(const PathStyle& style, std::string_view text) {
  return style.windows && text.size() == 2 && text[1] == ':';
}

bool is_root_only(const PathStyle& style, std::string_view text) {
  if (!style.windows) return text == "/";
  return text == "\\" || (text.size() == 3 && text[1] == ':' && text[2] == '\\');
}

bool is_dbcs_lead_byte(const PathStyle& style, unsigned char byte) {
  return style.fixed_lead_bytes[byte];
}

bool is_code_page_lead_byte(const PathStyle& style, unsigned char byte) {
  return style.code_page_lead_bytes[byte];
}

}  // namespace ostrel
