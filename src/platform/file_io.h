// Whole-file reads and file stamps, so the engine needs no POSIX file headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct TFileReadResult {
  enum class TStatus { Ok, CannotOpen, CannotRead, TooLarge };
  TStatus Status = TStatus::Ok;
  std::string Text;
  std::string SystemError;  // strerror text for CannotOpen / CannotRead
  int64_t Stamp = -1;       // modification time in nanoseconds; -1 when unknown
};

// Reads at most maxBytes; a longer file gives TooLarge without reading it all.
TFileReadResult ReadWholeFile(const std::string& path, int64_t maxBytes);
// Modification time in nanoseconds, or nullopt when the file cannot be examined.
std::optional<int64_t> FileStamp(const std::string& path);
// The running executable's full path, or "" when the system does not say.
std::string ExecutablePath();
