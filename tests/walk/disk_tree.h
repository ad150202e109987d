// Trees on disk deeper than the standard library's recursive helpers and
// the process's descriptor limit allow.
#pragma once

#include <string>

namespace ostrel::test {

// Makes `depth` directories named `name`, each inside the one before, the
// first inside `parent`; `parent` and each of them but the last hold an
// empty file named `file`, all links to one (so at most 65,000 levels on
// ext4). True on success.
bool make_chain(const std::string& parent, int depth, const std::string& name,
                const std::string& file);

// Removes the directory `path` and everything below it without recursing
// and with two descriptors open at most. Links are removed, never followed.
bool remove_tree(const std::string& path);

}  // namespace ostrel::test
