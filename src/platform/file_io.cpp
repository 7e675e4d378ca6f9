#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

int64_t StampOf(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

class TFdCloser {
 public:
  explicit TFdCloser(int fd) : FFd(fd) {}
  ~TFdCloser() { ::close(FFd); }
  TFdCloser(const TFdCloser&) = delete;
  TFdCloser& operator=(const TFdCloser&) = delete;

 private:
  int FFd;
};

}  // namespace

TFileReadResult ReadWholeFile(const std::string& path, int64_t maxBytes) {
  TFileReadResult r;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    r.Status = TFileReadResult::TStatus::CannotOpen;
    r.SystemError = std::strerror(errno);
    return r;
  }
  TFdCloser closer(fd);
  struct stat st {};
  if (::fstat(fd, &st) == 0) {
    r.Stamp = StampOf(st);
    if (st.st_size > maxBytes) {
      r.Status = TFileReadResult::TStatus::TooLarge;
      return r;
    }
  }
  // The size is only a hint: a file may grow while it is read, or (in /proc)
  // report 0.
  std::string& text = r.Text;
  text.resize(st.st_size > 0 ? static_cast<size_t>(st.st_size) : 65536);
  size_t used = 0;
  for (;;) {
    if (used == text.size()) {
      if (static_cast<int64_t>(text.size()) >= maxBytes) {
        r.Status = TFileReadResult::TStatus::TooLarge;
        text.clear();
        return r;
      }
      text.resize(text.size() * 2);
    }
    const ssize_t got = ::read(fd, text.data() + used, text.size() - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      r.Status = TFileReadResult::TStatus::CannotRead;
      r.SystemError = std::strerror(errno);
      text.clear();
      return r;
    }
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  text.resize(used);
  return r;
}

std::optional<int64_t> FileStamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return StampOf(st);
}

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  return std::string(buffer.data(), static_cast<size_t>(n));
}
