// Separator operations, component split and join, and lead-byte sets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "walk/path.h"

namespace ostrel {
namespace {

const PathStyle kWindows932 =
    windows_path_style(lead_bytes_for_code_page(CodePageInfo{932, {}}));
const PathStyle kWindowsSingleByte =
    windows_path_style(lead_bytes_for_code_page(CodePageInfo{1252, {}}));
const PathStyle kPosix = posix_path_style();

struct EditRow {
  const PathStyle* style;
  std::string text;
  std::string stripped;
  std::string appended;
};

TEST(PathSeparators, StripAndAppend) {
  const std::vector<EditRow> rows = {
      {&kWindows932, "a", "a", "a\\"},
      {&kWindows932, "a\\", "a", "a\\"},
      {&kWindows932, "a\\\\", "a\\", "a\\\\"},
      {&kWindows932, "a/", "a/", "a/\\"},
      {&kWindows932, "D:\\", "D:\\", "D:\\"},
      {&kWindows932, "\\", "\\", "\\"},
      {&kWindows932, "D:", "D:", "D:"},
      {&kWindows932, "", "", ""},
      // The fixed lead bytes hold under any code page.
      {&kWindowsSingleByte, "\x95\\", "\x95\\", "\x95\\\\"},
      {&kWindowsSingleByte, "a\x81\\\\", "a\x81\\", "a\x81\\\\"},
      {&kWindows932, "\xFD\\", "\xFD\\", "\xFD\\\\"},
      {&kPosix, "a", "a", "a/"},
      {&kPosix, "a/", "a", "a/"},
      {&kPosix, "a//", "a/", "a//"},
      {&kPosix, "a\\", "a\\", "a\\/"},
      {&kPosix, "/", "/", "/"},
      {&kPosix, "", "", ""},
      {&kPosix, "D:", "D:", "D:/"},
      {&kPosix, "\x95/", "\x95", "\x95/"},
  };
  for (const EditRow& row : rows) {
    SCOPED_TRACE("text \"" + row.text + "\"");
    std::string text = row.text;
    strip_trailing_separator(*row.style, text);
    EXPECT_EQ(text, row.stripped);
    text = row.text;
    append_separator(*row.style, text);
    EXPECT_EQ(text, row.appended);
  }
}

struct ShapeRow {
  const PathStyle* style;
  std::string text;
  bool drive_only;
  bool root_only;
};

TEST(PathSeparators, DrivesAndRoots) {
  const std::vector<ShapeRow> rows = {
      {&kWindows932, "D:", true, false},  {&kWindows932, "1:", true, false},
      {&kWindows932, "D:\\", false, true}, {&kWindows932, "\\", false, true},
      {&kWindows932, "D:/", false, false}, {&kWindows932, "/", false, false},
      {&kWindows932, "D", false, false},  {&kWindows932, "D:x", false, false},
      {&kPosix, "D:", false, false},      {&kPosix, "/", false, true},
      {&kPosix, "\\", false, false},      {&kPosix, "//", false, false},
  };
  for (const ShapeRow& row : rows) {
    EXPECT_EQ(is_drive_only(*row.style, row.text), row.drive_only) << row.text;
    EXPECT_EQ(is_root_only(*row.style, row.text), row.root_only) << row.text;
  }
}

struct SplitRow {
  const PathStyle* style;
  std::string path;
  PathParts parts;
};

TEST(PathComponents, Split) {
  const std::string long_name(300, 'n');
  const std::vector<SplitRow> rows = {
      {&kWindows932, "D:\\dir\\name.ext", {"D:", "\\dir\\", "name", ".ext"}},
      {&kWindows932, "dir.d\\name", {"", "dir.d\\", "name", ""}},
      {&kWindows932, "a.b.c", {"", "", "a.b", ".c"}},
      {&kWindows932, ".profile", {"", "", "", ".profile"}},
      {&kWindows932, "D:", {"D:", "", "", ""}},
      {&kWindows932, "1:x", {"1:", "", "x", ""}},
      {&kWindows932, "a/b\\c/d.e", {"", "a/b\\c/", "d", ".e"}},
      {&kWindows932, "\x95\\x.jpg", {"", "", "\x95\\x", ".jpg"}},
      {&kWindowsSingleByte, "\x95\\x.jpg", {"", "\x95\\", "x", ".jpg"}},
      // 0xFD is no lead byte of code page 932.
      {&kWindows932, "\xFD\\x", {"", "\xFD\\", "x", ""}},
      {&kWindows932, "d\\\x95", {"", "d\\", "\x95", ""}},
      {&kWindows932, "a.\x95", {"", "", "a", ".\x95"}},
      // Components are never cut.
      {&kWindows932, long_name + "\\" + long_name + "." + long_name,
       {"", long_name + "\\", long_name, "." + long_name}},
      {&kPosix, "/dir/name.ext", {"", "/dir/", "name", ".ext"}},
      {&kPosix, "a\\b", {"", "", "a\\b", ""}},
      {&kPosix, "a.b/c", {"", "a.b/", "c", ""}},
      {&kPosix, "D:x", {"", "", "D:x", ""}},
      {&kPosix, "\x95/x", {"", "\x95/", "x", ""}},
  };
  for (const SplitRow& row : rows) {
    SCOPED_TRACE("path \"" + row.path + "\"");
    PathParts parts = split_path(*row.style, row.path);
    EXPECT_EQ(parts.drive, row.parts.drive);
    EXPECT_EQ(parts.directory, row.parts.directory);
    EXPECT_EQ(parts.file_name, row.parts.file_name);
    EXPECT_EQ(parts.extension, row.parts.extension);
  }
}

struct JoinRow {
  const PathStyle* style;
  PathParts parts;
  std::string joined;
};

TEST(PathComponents, Join) {
  const std::vector<JoinRow> rows = {
      {&kWindows932, {"D:", "dir", "name", "ext"}, "D:dir\\name.ext"},
      {&kWindows932, {"D:", "dir", "name", ".ext"}, "D:dir\\name.ext"},
      {&kWindows932, {"D:", "dir", "name", ""}, "D:dir\\name"},
      {&kWindows932, {"", "dir/", "name", ""}, "dir/name"},
      {&kWindows932, {"", "dir\\", "name", ""}, "dir\\name"},
      {&kWindows932, {"", "", "name", "ext"}, "name.ext"},
      {&kWindows932, {"", "\x95\\", "n", ""}, "\x95\\\\n"},
      {&kWindowsSingleByte, {"", "\x95\\", "n", ""}, "\x95\\n"},
      // A lead byte that ends the directory is a character of its own.
      {&kWindows932, {"", "d\\\x81", "n", ""}, "d\\\x81\\n"},
      {&kPosix, {"", "dir", "name", "ext"}, "dir/name.ext"},
      {&kPosix, {"", "d\\", "n", ""}, "d\\/n"},
      {&kPosix, {"", "d/", "n", ""}, "d/n"},
      {&kPosix, {"D:", "d", "n", ""}, "d/n"},
  };
  for (const JoinRow& row : rows) {
    const PathParts& p = row.parts;
    EXPECT_EQ(join_path(*row.style, p.drive, p.directory, p.file_name,
                        p.extension),
              row.joined);
  }
}

struct EntryRow {
  const PathStyle* style;
  std::string search_text;
  std::string name;
  std::string full_path;
};

TEST(PathComponents, JoinDirAndName) {
  const std::vector<EntryRow> rows = {
      {&kWindows932, "photos\\*.jpg", "a.jpg", "photos\\a.jpg"},
      {&kWindows932, "D:*.*", "sub", "D:sub"},
      {&kWindows932, "D:\\*.jpg", "a.jpg", "D:\\a.jpg"},
      {&kWindows932, "a.jpg", "a.jpg", "a.jpg"},
      {&kWindows932, "photos/*.jpg", "a.jpg", "photos/a.jpg"},
      {&kWindows932, "p\\*.jpg", "x.y.z", "p\\x.y.z"},
      {&kPosix, "photos/*.jpg", "a.jpg", "photos/a.jpg"},
      {&kPosix, "a\\b", "x", "x"},
      {&kPosix, "a.b/c", "x", "a.b/x"},
      {&kPosix, "/*.*", "etc", "/etc"},
  };
  for (const EntryRow& row : rows)
    EXPECT_EQ(join_dir_and_name(*row.style, row.search_text, row.name),
              row.full_path)
        << row.search_text;
}

struct LeadByteRow {
  CodePageInfo code_page;
  unsigned byte;
  bool lead;
};

TEST(PathLeadBytes, CodePageTable) {
  const CodePageInfo other{51949, {{0xA1, 0xA3}, {0xF0, 0xF0}}};
  const std::vector<LeadByteRow> rows = {
      {{932, {}}, 0x80, false},  {{932, {}}, 0x81, true},
      {{932, {}}, 0x9F, true},   {{932, {}}, 0xA0, false},
      {{932, {}}, 0xDF, false},  {{932, {}}, 0xE0, true},
      {{932, {}}, 0xFC, true},   {{932, {}}, 0xFD, false},
      {{936, {}}, 0x80, false},  {{949, {}}, 0x81, true},
      {{950, {}}, 0xFE, true},   {{936, {}}, 0xFF, false},
      {{1361, {}}, 0xD3, true},  {{1361, {}}, 0xD4, false},
      {{1361, {}}, 0xD8, true},  {{1361, {}}, 0xDE, true},
      {{1361, {}}, 0xDF, false}, {{1361, {}}, 0xF9, true},
      {{1361, {}}, 0xFA, false}, {other, 0xA0, false},
      {other, 0xA1, true},       {other, 0xA3, true},
      {other, 0xA4, false},      {other, 0xF0, true},
      {{1252, {}}, 0x81, false}, {{0, {}}, 0xE0, false},
      {{1, {{0x20, 0x82}}}, 0x5C, false}, {{1, {{0x20, 0x82}}}, 0x81, true},
  };
  for (const LeadByteRow& row : rows)
    EXPECT_EQ(lead_bytes_for_code_page(row.code_page)[row.byte], row.lead)
        << "code page " << row.code_page.number << " byte " << row.byte;
}

TEST(PathLeadBytes, FixedSetAndStyles) {
  for (unsigned byte : {0x00u, 0x5Cu, 0x80u, 0xA0u, 0xDFu})
    EXPECT_FALSE(is_dbcs_lead_byte(kWindowsSingleByte, byte)) << byte;
  for (unsigned byte : {0x81u, 0x9Fu, 0xE0u, 0xFCu, 0xFDu, 0xFFu})
    EXPECT_TRUE(is_dbcs_lead_byte(kWindowsSingleByte, byte)) << byte;
  // 0xFD: a lead byte for the separator operations, not for code page 932.
  EXPECT_TRUE(is_dbcs_lead_byte(kWindows932, 0xFD));
  EXPECT_FALSE(kWindows932.code_page_lead_bytes[0xFD]);
  EXPECT_TRUE(kPosix.fixed_lead_bytes.none());
  EXPECT_TRUE(kPosix.code_page_lead_bytes.none());
  EXPECT_EQ(kWindows932.separator(), '\\');
  EXPECT_EQ(kPosix.separator(), '/');
}

TEST(PathLeadBytes, NativeStyleIsFixedOnce) {
  const PathStyle& style = native_path_style();
  EXPECT_EQ(&style, &native_path_style());
  EXPECT_EQ(style.windows, windows_paths());
  EXPECT_EQ(style.code_page_lead_bytes,
            style.windows ? lead_bytes_for_code_page(ansi_code_page())
                          : LeadByteSet());
}

}  // namespace
}  // namespace ostrel
