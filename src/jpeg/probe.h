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

// `out_of_handles`: the file could not be opened only because the process
// had no descriptor left, so it may open once others are closed.
enum class ProbeStatus { ok, cannot_open, no_marker, out_of_handles };

struct ProbeResult {
  ProbeStatus status = ProbeStatus::cannot_open;
  JpegInfo info;
};

// Bytes read at once from the start of the file, and again wherever the walk
// jumps outside what was read. Half a page: copying the bytes out is most of
// a warm probe's cost, so a header behind an Exif block is cheaper read in
// two small pieces than in one large one.
inline constexpr std::size_t PROBE_WINDOW_SIZE = 2 * 1024;

// Bytes asked for at once where reads wait for a disk: enough for the frame
// header of most photographs, behind an Exif block and its thumbnail, and
// one request to the disk instead of a read-ahead of pages never read.
inline constexpr std::size_t PROBE_READ_AHEAD_SIZE = 16 * 1024;

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
// `info`; a dimension whose two bytes are not all in the source is 0. Returns
// false, leaving `info` alone, when no walk finds a frame header.
bool find_dimensions(ByteSource& source, JpegInfo& info);

// Probes the file that `open()` opens; prints nothing, and is safe to call
// from several threads at once. The size is the open file's size from its
// status. A file that cannot be opened, or no memory for reading it, gives
// `cannot_open` (or `out_of_handles`); no frame header, `no_marker`. With
// `read_ahead`, that many bytes from the start are asked for as soon as the
// file is open.
ProbeResult probe_opened(FileResult opened, std::size_t read_ahead = 0);

template <typename Open>
ProbeResult probe_jpeg(Open&& open, std::size_t read_ahead = 0) {
  try {
    return probe_opened(open(), read_ahead);
  } catch (const std::bad_alloc&) {
    return ProbeResult{};
  }
}

}  // namespace ostrel
