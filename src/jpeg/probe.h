// The JPEG probe: finds the frame header of a baseline (SOF0) or progressive
// (SOF2) image by walking the chain of marker segments, and reports the
// image's width and height with the file's size in bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

#include "jpeg/byte_source.h"

namespace ostrel {

struct JpegInfo {
  int width = 0;   // X, samples per line: 0..65535
  int height = 0;  // Y, number of lines: 0..65535
  std::uint64_t byte_size = 0;
};

enum class ProbeStatus { ok, cannot_open, no_marker };

struct ProbeResult {
  ProbeStatus status = ProbeStatus::cannot_open;
  JpegInfo info;
  // Where the frame header was found; 0 when it was not.
  std::uint64_t frame_offset = 0;
};

// What a probe asks for as it opens a file, where every read waits (a
// network share, a cold disk): with `ask_first`, the bytes it expects to
// read, all at once, and nothing beyond what it reads. What earlier files
// like it showed: the furthest their frame headers stood, and where the
// last one stood when it stood where the one before did (0 when none is
// known).
struct ReadPlan {
  bool ask_first = false;
  std::uint64_t furthest_frame = 0;
  std::uint64_t expected_frame = 0;
};

// Bytes read at once from the start of the file, and again wherever the walk
// jumps outside what was read. Half a page: copying the bytes out is most of
// a warm probe's cost, so a header behind an Exif block is cheaper read in
// two small pieces than in one large one.
inline constexpr std::size_t PROBE_WINDOW_SIZE = 2 * 1024;

// Where reads wait (a network share, a cold disk), the probe reads whole
// pages, each at most once: windows of a page, aligned to pages, and first
// the page at the start of the file, asked for as the file opens.
inline constexpr std::size_t PROBE_PAGE_SIZE = 4 * 1024;
// Where earlier files had their frame headers within this much of the
// start, all of it is asked for at once: one request for the whole header.
inline constexpr std::size_t PROBE_START_MOST = 16 * 1024;
// What is asked for on each side of where a frame header is expected.
inline constexpr std::size_t PROBE_EXPECTED_FRAME_MARGIN = 4 * 1024;

// Walks the marker segments from `start` and returns the offset of the first
// marker equal to the low 16 bits of `code`, or -1. SOI and EOI stand alone;
// every other marker, fill bytes and FF 00 included, carries a length; the
// walk never searches for the next 0xFF and ends at a short read, at a first
// byte other than 0xFF, or at a length below 2.
std::int64_t scan_for_marker(ByteSource& source, std::uint64_t start,
                             std::uint32_t code);

// `scan_for_marker` from offset 0, then from offset 128 when that fails.
std::int64_t find_marker(ByteSource& source, std::uint32_t code);

// Finds the frame header (SOF0 from 0, SOF0 from 128, SOF2 from 0, SOF2 from
// 128: the first walk that succeeds decides) and stores its X and Y in
// `info`, and where the header starts in `frame_offset` when given; a
// dimension whose two bytes are not all in the source is 0. Returns false,
// leaving both alone, when no walk finds a frame header.
bool find_dimensions(ByteSource& source, JpegInfo& info,
                     std::uint64_t* frame_offset = nullptr);

// Probes the file that `open()` opens; prints nothing, and is safe to call
// from several threads at once. The size is the open file's size from its
// status. A file that cannot be opened, or no memory for reading it, gives
// `cannot_open`; no frame header, `no_marker`. The bytes of `plan` are
// asked for as soon as the file is open.
ProbeResult probe_opened(FileResult opened, const ReadPlan& plan = {});

template <typename Open>
ProbeResult probe_jpeg(Open&& open, const ReadPlan& plan = {}) {
  try {
    return probe_opened(open(), plan);
  } catch (const std::bad_alloc&) {
    return ProbeResult{};
  }
}

}  // namespace ostrel
