// A file system that hands every call on to another one, so a test can
// change just the calls it cares about (a search that fails, a tree that
// changes under the walk).
#pragma once

#include "platform/platform.h"

namespace ostrel::testing {

class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& inner) : inner_(inner) {}

  bool search(const std::string& search_text,
              const std::function<bool(const DirectoryEntry&)>& on_entry)
      override {
    return inner_.search(search_text, on_entry);
  }
  std::optional<bool> lookup(const std::string& text) override {
    return inner_.lookup(text);
  }
  std::optional<std::string> full_path(const std::string& text) override {
    return inner_.full_path(text);
  }
  unsigned drive_type(const std::string& full_path) override {
    return inner_.drive_type(full_path);
  }
  std::optional<DirectoryId> directory_id(const std::string& text) override {
    return inner_.directory_id(text);
  }

 private:
  FileSystem& inner_;
};

}  // namespace ostrel::testing
