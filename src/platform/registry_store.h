// One registry root file shared with other processes. Reads serve a cached
// copy that is checked against the file's identity, size and stamps, so an
// unchanged file costs one stat. Writes take an exclusive flock on
// "<file>.lock", re-read the file, apply the change, and replace the file
// atomically (temporary file, fsync, rename), keeping the previous one as
// "<file>.bak". Readers take no lock: a rename never shows them half a file.
#pragma once

#include <functional>
#include <mutex>
#include <memory>
#include <set>
#include <string>

#include "platform/registry_document.h"

struct stat;

class RegistryFile {
 public:
  RegistryFile(std::string path, std::string rootName);

  // The latest content, or nullptr with `error` when the file exists but
  // cannot be read. A missing file or folder reads as empty.
  std::shared_ptr<const RegDocument> Read(std::string& error);

  // Applies `change` to the latest content under the lock. The change sets
  // `changed` when it altered something (nothing is written otherwise) and
  // returns false with an error to abandon the write.
  using Change = std::function<bool(RegDocument& doc, bool& changed, std::string& error)>;
  bool Modify(const Change& change, std::string& error);

  const std::string& Path() const { return path_; }

 private:
  struct Stamp {
    bool exists = false;
    unsigned long long dev = 0, ino = 0, mode = 0;
    long long size = 0, mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
    bool operator==(const Stamp&) const = default;
  };
  static Stamp StampOf(const struct stat& st);
  bool Refresh(std::string& error);
  bool WriteFile(const std::string& text, std::string& error);
  void ReportBadLines(const std::vector<RegBadLine>& bad);

  std::string path_;
  std::string rootName_;
  bool loaded_ = false;
  Stamp stamp_;
  std::shared_ptr<const RegDocument> doc_;
  std::set<std::string> reported_;  // unreadable lines already told about
};

// The process-wide instance for a file path; all TRegistry objects share it.
// Calls on it must hold RegistryFilesMutex().
RegistryFile& RegistryFileFor(const std::string& path, const std::string& rootName);
std::mutex& RegistryFilesMutex();
