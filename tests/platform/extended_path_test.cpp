// How Windows texts past the ANSI functions' limit are made absolute and
// extended, on any platform.
#include "platform/extended_path.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace ostrel {
namespace {

const std::wstring CURRENT = L"C:\\work";
const std::wstring SHARE_CURRENT = L"\\\\server\\share\\work";

struct FullPathRow {
  std::wstring text;
  std::wstring current;
  std::wstring drive_current;  // of the drive that `X:name` names
  std::wstring full;
};

TEST(ExtendedPath, FullPathAsWindowsResolvesIt) {
  const FullPathRow rows[] = {
      {L"a\\b.jpg", CURRENT, L"", L"C:\\work\\a\\b.jpg"},
      {L"a/b/", CURRENT, L"", L"C:\\work\\a\\b\\"},
      {L"a\\\\b//c", CURRENT, L"", L"C:\\work\\a\\b\\c"},
      {L"a\\.\\b\\..\\c", CURRENT, L"", L"C:\\work\\a\\c"},
      {L"..\\..\\..\\a", CURRENT, L"", L"C:\\a"},
      {L"a\\b\\..", CURRENT, L"", L"C:\\work\\a"},
      {L"a\\b\\.", CURRENT, L"", L"C:\\work\\a\\b"},
      {L"a\\*.jpg", L"C:\\", L"", L"C:\\a\\*.jpg"},
      // Drive-relative: the drive's own current directory, or its root.
      {L"c:a", CURRENT, L"", L"C:\\work\\a"},
      {L"D:a\\..\\b", CURRENT, L"D:\\photos", L"D:\\photos\\b"},
      {L"D:a", CURRENT, L"", L"D:\\a"},
      {L"D:", CURRENT, L"", L"D:\\"},
      {L"C:a", SHARE_CURRENT, L"", L"C:\\a"},
      // Rooted: the current drive's root, or the current share's.
      {L"\\a\\b", CURRENT, L"", L"C:\\a\\b"},
      {L"/a/../..", SHARE_CURRENT, L"", L"\\\\server\\share\\"},
      {L"D:/x/../../y", CURRENT, L"", L"D:\\y"},
      {L"//server\\\\share/a/../..\\b", CURRENT, L"", L"\\\\server\\share\\b"},
      {L"a", SHARE_CURRENT, L"", L"\\\\server\\share\\work\\a"},
      // Trimmed as Windows trims: a dot ending a name inside the path, dots
      // and spaces ending the last; names of dots alone are names.
      {L"a.\\b. .", CURRENT, L"", L"C:\\work\\a\\b"},
      {L"a.\\b. \\", CURRENT, L"", L"C:\\work\\a\\b. \\"},
      {L"...\\x", CURRENT, L"", L"C:\\work\\...\\x"},
      {L"a\\...", CURRENT, L"", L"C:\\work\\a\\"},
      {L"\\\\.\\C:\\a\\..\\..\\b", CURRENT, L"", L"\\\\.\\b"},
      // Extended already: taken as it is.
      {L"\\\\?\\C:\\a\\..\\b/", CURRENT, L"", L"\\\\?\\C:\\a\\..\\b/"},
  };
  for (const FullPathRow& row : rows)
    EXPECT_EQ(full_path_of(row.text, row.current, row.drive_current), row.full)
        << std::string(row.text.begin(), row.text.end());
}

struct ExtendedRow {
  std::wstring full;
  std::optional<std::wstring> extended;
};

TEST(ExtendedPath, PrefixForDrivesSharesAndDevices) {
  const std::wstring longest(LONGEST_EXTENDED_PATH - 7, L'a');
  const ExtendedRow rows[] = {
      {L"C:\\a\\b", L"\\\\?\\C:\\a\\b"},
      {L"\\\\server\\share\\a", L"\\\\?\\UNC\\server\\share\\a"},
      {L"\\\\.\\C:\\a", L"\\\\?\\C:\\a"},
      {L"\\\\?\\C:\\a", L"\\\\?\\C:\\a"},
      {L"C:\\" + longest, L"\\\\?\\C:\\" + longest},
      {L"C:\\" + longest + L"b", std::nullopt},
  };
  for (const ExtendedRow& row : rows)
    EXPECT_EQ(extended_path(row.full), row.extended)
        << std::string(row.full.begin(), row.full.begin() + 12);
}

struct FitRow {
  std::string text;
  std::size_t current_length;
  bool surely_fits;
};

TEST(ExtendedPath, TextsTheAnsiFunctionsSurelyTake) {
  const std::string most(259, 'a');
  const FitRow rows[] = {
      {"", 300, true},
      {"a\\b", 255, true},
      {"a\\b", 256, false},
      {"C:\\" + most.substr(3), 300, true},
      {"C:/" + most, 0, false},
      {"\\\\server\\share\\" + most.substr(15), 300, true},
      // Resolved first: another drive's directory, the current root.
      {"C:a", 0, false},
      {"\\a", 0, false},
      {"/a", 0, false},
  };
  for (const FitRow& row : rows)
    EXPECT_EQ(surely_fits_ansi(row.text, row.current_length), row.surely_fits)
        << row.text.substr(0, 20) << " " << row.current_length;
  EXPECT_TRUE(fits_ansi(259, 259));
  EXPECT_FALSE(fits_ansi(259, 260));
  EXPECT_FALSE(fits_ansi(260, 100));
}

}  // namespace
}  // namespace ostrel
