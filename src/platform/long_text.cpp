#include "platform/long_text.h"

#include <algorithm>

namespace ostrel {

std::vector<std::string_view> long_text_pieces(std::string_view text,
                                               std::size_t longest) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (longest > 0 && text.size() - start > longest) {
    std::size_t cut = text.rfind('/', start + longest - 1);
    if (cut == std::string_view::npos || cut < start) break;
    pieces.push_back(text.substr(start, cut + 1 - start));
    start = std::min(text.find_first_not_of('/', cut), text.size());
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

}  // namespace ostrel
