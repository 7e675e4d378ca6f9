// A second start of the server hands its command line to the first and ends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The link to the running instance (the instance socket in production).
class TInstanceLink {
 public:
  virtual ~TInstanceLink() = default;
  // A sent message; nullopt when the first instance did not answer.
  virtual std::optional<int64_t> Send(uint32_t msg, const std::string& payload, int64_t lParam) = 0;
  // A posted message: no answer awaited.
  virtual bool Post(uint32_t msg) = 0;
};

// Each argument trimmed; one that is not empty, "." or ".." and does not
// begin with '/' is made a full path against `currentDir`; TAB-joined, ESC
// appended. Empty when there are no arguments.
std::string InstanceParamsText(const std::vector<std::string>& args, const std::string& currentDir);

// Chunks of at most `chunkSize` characters.
std::vector<std::string> SplitParamsText(const std::string& text, size_t chunkSize = 200);

class TMainInstance {
 public:
  // Asks the running instance whether another may run; when not (always,
  // since the server answers 0), asks it to come to the front, hands it the
  // command line and answers true: this process must end.
  static bool HandOff(TInstanceLink& link, const std::vector<std::string>& args, const std::string& currentDir);
};
