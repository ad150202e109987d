// Arbitrary names, NUL-separated: every pair and triple through the name
// order of listings, and every pair through the wildcard matcher, checked
// against a plain table-filling matcher. A matcher that backtracks
// exponentially shows up as a libFuzzer timeout.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "fields.h"
#include "platform/wildcard.h"
#include "walk/listing.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

unsigned char fold(char byte) {
  auto b = static_cast<unsigned char>(byte);
  return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + 0x20) : b;
}

// The name order: bytes folded A-Z only, unsigned, a shorter leading part
// first.
int reference_compare(std::string_view a, std::string_view b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]) ? -1 : 1;
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool reference_before(std::string_view a, std::string_view b) {
  int order = reference_compare(a, b);
  if (order != 0) return order < 0;
  return std::basic_string_view<unsigned char>(
             reinterpret_cast<const unsigned char*>(a.data()), a.size()) <
         std::basic_string_view<unsigned char>(
             reinterpret_cast<const unsigned char*>(b.data()), b.size());
}

void check_pair(std::string_view a, std::string_view b) {
  int ab = ostrel::compare_names(a, b);
  check(ab >= -1 && ab <= 1);
  check(ab == reference_compare(a, b));
  check(ab == -ostrel::compare_names(b, a));
  bool before = ostrel::sorts_before(a, b);
  check(before == reference_before(a, b));
  // A total order: exactly one of a < b, b < a, a == b.
  check(before + ostrel::sorts_before(b, a) + (a == b) == 1);
  if (ab != 0) check(before == (ab < 0));
}

void check_triple(std::string_view a, std::string_view b, std::string_view c) {
  int ab = ostrel::compare_names(a, b);
  int bc = ostrel::compare_names(b, c);
  int ac = ostrel::compare_names(a, c);
  // Transitive, and so is equivalence.
  if (ab == bc) check(ac == ab);
  if (ab == 0) check(ac == bc);
  if (bc == 0) check(ac == ab);
  if (ostrel::sorts_before(a, b) && ostrel::sorts_before(b, c))
    check(ostrel::sorts_before(a, c));
}

// Table-filling matcher, O(|pattern| * |name|), for names small enough.
bool reference_match(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  std::vector<char> row(name.size() + 1, 0), next(name.size() + 1);
  row[0] = 1;
  for (char p : pattern) {
    next.assign(name.size() + 1, 0);
    if (p == '*') {
      char reach = 0;
      for (std::size_t j = 0; j <= name.size(); ++j) next[j] = reach |= row[j];
    } else {
      for (std::size_t j = 0; j < name.size(); ++j)
        next[j + 1] = row[j] && (p == '?' || fold(p) == fold(name[j]));
    }
    row.swap(next);
  }
  return row[name.size()] != 0;
}

void check_match(std::string_view pattern, std::string_view name) {
  bool matched = ostrel::wildcard_match(pattern, name);
  if ((pattern.size() + 1) * (name.size() + 1) <= (1u << 20))
    check(matched == reference_match(pattern, name));
  check(ostrel::has_wildcard(pattern) ==
        (pattern.find_first_of("*?") != std::string_view::npos));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::vector<std::string_view> names = ostrel::fuzz::split_fields(
      std::string_view(reinterpret_cast<const char*>(data), size), 4);
  for (auto a : names) {
    for (auto b : names) {
      check_pair(a, b);
      check_match(a, b);
      for (auto c : names) check_triple(a, b, c);
    }
  }
  return 0;
}
