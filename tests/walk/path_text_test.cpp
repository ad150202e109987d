// Separator operations, component split and join, and lead-byte sets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/path_patterns.h"
#include "walk/path.h"

namespace ostrel {
namespace {

const PathStyle WINDOWS_932 =
    windows_path_style(lead_bytes_for_code_page(CodePageInfo{932, {}}));
const PathStyle WINDOWS_SINGLE_BYTE =
    windows_path_style(lead_bytes_for_code_page(CodePageInfo{1252, {}}));
const PathStyle POSIX = posix_path_style();

struct EditRow {
  const PathStyle* style;
  std::string text;
  std::string stripped;
  std::string appended;
};

TEST(PathSeparators, StripAndAppend) {
  const std::vector<EditRow> rows = {
      {&WINDOWS_932, "a", "a", "a\\"},
      {&WINDOWS_932, "a\\", "a", "a\\"},
      {&WINDOWS_932, "a\\\\", "a\\", "a\\\\"},
      {&WINDOWS_932, "a/", "a/", "a/\\"},
      {&WINDOWS_932, "D:\\", "D:\\", "D:\\"},
      {&WINDOWS_932, "\\", "\\", "\\"},
      {&WINDOWS_932, "D:", "D:", "D:"},
      {&WINDOWS_932, "", "", ""},
      // The fixed lead bytes hold under any code page.
      {&WINDOWS_SINGLE_BYTE, "\x95\\", "\x95\\", "\x95\\\\"},
      {&WINDOWS_SINGLE_BYTE, "a\x81\\\\", "a\x81\\", "a\x81\\\\"},
      {&WINDOWS_932, "\xFD\\", "\xFD\\", "\xFD\\\\"},
      {&POSIX, "a", "a", "a/"},
      {&POSIX, "a/", "a", "a/"},
      {&POSIX, "a//", "a/", "a//"},
      {&POSIX, "a\\", "a\\", "a\\/"},
      {&POSIX, "/", "/", "/"},
      {&POSIX, "", "", ""},
      {&POSIX, "D:", "D:", "D:/"},
      {&POSIX, "\x95/", "\x95", "\x95/"},
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
      {&WINDOWS_932, "D:", true, false},  {&WINDOWS_932, "1:", true, false},
      {&WINDOWS_932, "D:\\", false, true}, {&WINDOWS_932, "\\", false, true},
      {&WINDOWS_932, "D:/", false, false}, {&WINDOWS_932, "/", false, false},
      {&WINDOWS_932, "D", false, false},  {&WINDOWS_932, "D:x", false, false},
      {&POSIX, "D:", false, false},      {&POSIX, "/", false, true},
      {&POSIX, "\\", false, false},      {&POSIX, "//", false, false},
  };
  for (const ShapeRow& row : rows) {
    EXPECT_EQ(is_drive_only(*row.style, row.text), row.drive_only) << row.text;
    EXPECT_EQ(is_root_only(*row.style, row.text), row.root_only) << row.text;
  }
}

// A path's components, its file name cut at the extension.
struct Components {
  std::string drive;
  std::string directory;
  std::string file_name;
  std::string extension;
};

struct SplitRow {
  const PathStyle* style;
  std::string path;
  Components parts;
};

TEST(PathComponents, Split) {
  const std::string long_name(300, 'n');
  const std::vector<SplitRow> rows = {
      {&WINDOWS_932, "D:\\dir\\name.ext", {"D:", "\\dir\\", "name", ".ext"}},
      {&WINDOWS_932, "dir.d\\name", {"", "dir.d\\", "name", ""}},
      {&WINDOWS_932, "a.b.c", {"", "", "a.b", ".c"}},
      {&WINDOWS_932, ".profile", {"", "", "", ".profile"}},
      {&WINDOWS_932, "D:", {"D:", "", "", ""}},
      {&WINDOWS_932, "1:x", {"1:", "", "x", ""}},
      {&WINDOWS_932, "a/b\\c/d.e", {"", "a/b\\c/", "d", ".e"}},
      {&WINDOWS_932, "\x95\\x.jpg", {"", "", "\x95\\x", ".jpg"}},
      {&WINDOWS_SINGLE_BYTE, "\x95\\x.jpg", {"", "\x95\\", "x", ".jpg"}},
      // 0xFD is no lead byte of code page 932.
      {&WINDOWS_932, "\xFD\\x", {"", "\xFD\\", "x", ""}},
      {&WINDOWS_932, "d\\\x95", {"", "d\\", "\x95", ""}},
      {&WINDOWS_932, "a.\x95", {"", "", "a", ".\x95"}},
      // Components are never cut.
      {&WINDOWS_932, long_name + "\\" + long_name + "." + long_name,
       {"", long_name + "\\", long_name, "." + long_name}},
      {&POSIX, "/dir/name.ext", {"", "/dir/", "name", ".ext"}},
      {&POSIX, "a\\b", {"", "", "a\\b", ""}},
      {&POSIX, "a.b/c", {"", "a.b/", "c", ""}},
      {&POSIX, "D:x", {"", "", "D:x", ""}},
      {&POSIX, "\x95/x", {"", "\x95/", "x", ""}},
  };
  for (const SplitRow& row : rows) {
    SCOPED_TRACE("path \"" + row.path + "\"");
    PathParts parts = split_path(*row.style, row.path);
    test::NameParts name = test::split_extension(*row.style, parts.file_name);
    EXPECT_EQ(parts.drive, row.parts.drive);
    EXPECT_EQ(parts.directory, row.parts.directory);
    EXPECT_EQ(name.name, row.parts.file_name);
    EXPECT_EQ(name.extension, row.parts.extension);
  }
}

struct JoinRow {
  const PathStyle* style;
  Components parts;
  std::string joined;
};

TEST(PathComponents, Join) {
  const std::vector<JoinRow> rows = {
      {&WINDOWS_932, {"D:", "dir", "name", "ext"}, "D:dir\\name.ext"},
      {&WINDOWS_932, {"D:", "dir", "name", ".ext"}, "D:dir\\name.ext"},
      {&WINDOWS_932, {"D:", "dir", "name", ""}, "D:dir\\name"},
      {&WINDOWS_932, {"", "dir/", "name", ""}, "dir/name"},
      {&WINDOWS_932, {"", "dir\\", "name", ""}, "dir\\name"},
      {&WINDOWS_932, {"", "", "name", "ext"}, "name.ext"},
      {&WINDOWS_932, {"", "\x95\\", "n", ""}, "\x95\\\\n"},
      {&WINDOWS_SINGLE_BYTE, {"", "\x95\\", "n", ""}, "\x95\\n"},
      // A lead byte that ends the directory is a character of its own.
      {&WINDOWS_932, {"", "d\\\x81", "n", ""}, "d\\\x81\\n"},
      {&POSIX, {"", "dir", "name", "ext"}, "dir/name.ext"},
      {&POSIX, {"", "d\\", "n", ""}, "d\\/n"},
      {&POSIX, {"", "d/", "n", ""}, "d/n"},
      {&POSIX, {"D:", "d", "n", ""}, "d/n"},
  };
  for (const JoinRow& row : rows) {
    const Components& p = row.parts;
    EXPECT_EQ(join_path(*row.style, p.drive, p.directory,
                        test::join_extension(p.file_name, p.extension)),
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
      {&WINDOWS_932, "photos\\*.jpg", "a.jpg", "photos\\a.jpg"},
      {&WINDOWS_932, "D:*.*", "sub", "D:sub"},
      {&WINDOWS_932, "D:\\*.jpg", "a.jpg", "D:\\a.jpg"},
      {&WINDOWS_932, "a.jpg", "a.jpg", "a.jpg"},
      {&WINDOWS_932, "photos/*.jpg", "a.jpg", "photos/a.jpg"},
      {&WINDOWS_932, "p\\*.jpg", "x.y.z", "p\\x.y.z"},
      {&POSIX, "photos/*.jpg", "a.jpg", "photos/a.jpg"},
      {&POSIX, "a\\b", "x", "x"},
      {&POSIX, "a.b/c", "x", "a.b/x"},
      {&POSIX, "/*.*", "etc", "/etc"},
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
    EXPECT_FALSE(is_dbcs_lead_byte(WINDOWS_SINGLE_BYTE, byte)) << byte;
  for (unsigned byte : {0x81u, 0x9Fu, 0xE0u, 0xFCu, 0xFDu, 0xFFu})
    EXPECT_TRUE(is_dbcs_lead_byte(WINDOWS_SINGLE_BYTE, byte)) << byte;
  // 0xFD: a lead byte for the separator operations, not for code page 932.
  EXPECT_TRUE(is_dbcs_lead_byte(WINDOWS_932, 0xFD));
  EXPECT_FALSE(WINDOWS_932.code_page_lead_bytes[0xFD]);
  EXPECT_TRUE(POSIX.fixed_lead_bytes.none());
  EXPECT_TRUE(POSIX.code_page_lead_bytes.none());
  EXPECT_EQ(WINDOWS_932.separator(), '\\');
  EXPECT_EQ(POSIX.separator(), '/');
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
