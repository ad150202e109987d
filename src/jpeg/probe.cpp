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

// Asks for the start of the file and, where earlier files had their frame
// header beyond it, for the bytes around that place too, in one go.
void ask_for_planned_bytes(const ReadableFile& file, std::uint64_t expected) {
  std::uint64_t frame_end = expected + PROBE_EXPECTED_FRAME_MARGIN;
  if (expected == 0 || frame_end <= PROBE_FIRST_ASK_SIZE) {
    std::uint64_t start_size =
        expected == 0 ? PROBE_FIRST_ASK_SIZE : std::max<std::uint64_t>(
                                                   frame_end, PROBE_WINDOW_SIZE);
    const ByteRange start{0, static_cast<std::size_t>(start_size)};
    file.will_read({&start, 1});
    return;
  }
  std::uint64_t frame_start =
      expected > PROBE_EXPECTED_FRAME_MARGIN ? expected - PROBE_EXPECTED_FRAME_MARGIN : 0;
  const ByteRange both[] = {
      {0, PROBE_EXPECTED_FRAME_MARGIN},
      {frame_start, static_cast<std::size_t>(frame_end - frame_start)}};
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
    if (plan.ask_first) ask_for_planned_bytes(file, plan.expected_frame);
    WindowedByteSource window(file, PROBE_WINDOW_SIZE);
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
