#include "jpeg/probe.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>

namespace ostrel {
namespace {

constexpr std::uint32_t SOF0_CODE = 0xFFC0;
constexpr std::uint32_t SOF2_CODE = 0xFFC2;
constexpr std::uint16_t SOI_CODE = 0xFFD8;
constexpr std::uint16_t EOI_CODE = 0xFFD9;
constexpr std::uint64_t SECOND_START = 128;

// Exchanges the two bytes of the low 16 bits; the upper bits are ignored.
std::uint16_t swap16(std::uint32_t value) {
  return static_cast<std::uint16_t>((value & 0xFFu) << 8 |
                                    (value >> 8 & 0xFFu));
}

// The big-endian 16-bit value at `offset`; nothing when fewer than two bytes
// arrive.
std::optional<std::uint16_t> read_pair(ByteSource& source,
                                       std::uint64_t offset) {
  unsigned char pair[2];
  if (source.read_at(offset, pair, 2) < 2) return std::nullopt;
  return swap16(static_cast<std::uint32_t>(pair[0]) |
                static_cast<std::uint32_t>(pair[1]) << 8);
}

// Asks at once for the bytes the probe expects to read: the start of the
// file as far as earlier files had their frame headers, where that is not
// far; otherwise the first page and, where the last frame header stood
// where the one before it did, the pages around that place.
void ask_for_planned_bytes(const ReadableFile& file, const ReadPlan& plan) {
  constexpr std::uint64_t MARGIN = PROBE_EXPECTED_FRAME_MARGIN;
  std::uint64_t start_end = plan.furthest_frame + MARGIN;
  if (plan.furthest_frame == 0 || start_end > PROBE_START_MOST)
    start_end = PROBE_PAGE_SIZE;
  const ByteRange start{0, static_cast<std::size_t>(start_end)};
  std::uint64_t expected = plan.expected_frame;
  if (expected < start_end + MARGIN) {
    file.will_read({&start, 1});
    return;
  }
  const ByteRange both[] = {start, {expected - MARGIN, 2 * MARGIN}};
  file.will_read(both);
}

}  // namespace

std::int64_t scan_for_marker(ByteSource& source, std::uint64_t start,
                             std::uint32_t code) {
  const auto wanted = static_cast<std::uint16_t>(code);
  std::uint64_t position = start;
  for (;;) {
    std::optional<std::uint16_t> marker = read_pair(source, position);
    if (!marker) return -1;
    if (*marker == wanted) return static_cast<std::int64_t>(position);
    position += 2;
    if (*marker == SOI_CODE || *marker == EOI_CODE) continue;
    if (*marker >> 8 != 0xFF) return -1;
    std::optional<std::uint16_t> length = read_pair(source, position);
    if (!length || *length < 2) return -1;
    position += *length;  // the length counts its own two bytes
  }
}

std::int64_t find_marker(ByteSource& source, std::uint32_t code) {
  std::int64_t found = scan_for_marker(source, 0, code);
  if (found < 0) found = scan_for_marker(source, SECOND_START, code);
  return found;
}

bool find_dimensions(ByteSource& source, JpegInfo& info,
                     std::uint64_t* frame_offset) {
  std::int64_t frame = find_marker(source, SOF0_CODE);
  if (frame < 0) frame = find_marker(source, SOF2_CODE);
  if (frame < 0) return false;
  auto at = static_cast<std::uint64_t>(frame);
  if (frame_offset) *frame_offset = at;
  info.height = read_pair(source, at + 5).value_or(0);
  info.width = read_pair(source, at + 7).value_or(0);
  return true;
}

ProbeResult probe_opened(FileResult opened, const ReadPlan& plan) {
  ProbeResult result;
  if (!opened) return result;
  try {
    const ReadableFile& file = **opened;
    if (plan.ask_first) ask_for_planned_bytes(file, plan);
    WindowedByteSource window(
        file, plan.ask_first ? PROBE_PAGE_SIZE : PROBE_WINDOW_SIZE,
        plan.ask_first);
    if (!find_dimensions(window, result.info, &result.frame_offset)) {
      result.status = ProbeStatus::no_marker;
      return result;
    }
    result.info.byte_size = file.size();
    result.status = ProbeStatus::ok;
  } catch (const std::bad_alloc&) {
    // No memory for the header window: the file cannot be read, and the
    // walk goes on with the next one.
    return ProbeResult{};
  }
  return result;
}

}  // namespace ostrel
