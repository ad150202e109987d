// Probes a file named by its path, as the walk would find it: in its
// directory, opened by the path's directory part.
#pragma once

#include <string>
#include <string_view>

#include "jpeg/probe.h"
#include "platform/platform.h"

namespace ostrel::test {

inline ProbeResult probe_path(FileSystem& fs, const std::string& path,
                              std::string_view separators = "\\/") {
  std::size_t cut = path.find_last_of(separators);
  std::size_t name_start = cut == std::string::npos ? 0 : cut + 1;
  DirectoryResult directory = fs.open_directory(path.substr(0, name_start));
  if (!directory) return ProbeResult{};
  return probe_jpeg([&] {
    return (*directory)->open_file(std::string_view(path).substr(name_start));
  });
}

}  // namespace ostrel::test
