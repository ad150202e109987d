// The JPEG probe: finds the frame header of a baseline (SOF0) or progressive
// (SOF2) image by walking the chain of marker segments, and reports the
// image's width and height with the file's size in bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
};

// Bytes read at once from the start of the file, and again wherever the walk
// jumps outside what was read. Most frame headers lie in the first window,
// so a typical probe reads the file once.
inline constexpr std::size_t probe_window_size = 16 * 1024;

// Exchanges the two bytes of the low 16 bits; the upper bits are ignored.
std::uint16_t swap16(std::uint32_t value);

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

// Probes one file without printing anything; safe to call from several
// threads at once. The size is the open file's size from its status.
ProbeResult probe_file(const std::string& path);

// The failure line for a status: "<path>;can't open file\n" or
// "<path>:can't find marker\n"; empty for ok.
std::string probe_failure_line(const std::string& path, ProbeStatus status);

// `probe_file`, then the failure line on standard output. Returns 0, filling
// `*info` when `info` is not null, or -1, leaving it untouched.
int probe_jpeg(const std::string& path, JpegInfo* info);

}  // namespace ostrel
