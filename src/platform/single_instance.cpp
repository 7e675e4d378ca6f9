#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Frame: u32 message, u32 answer wanted, i64 lParam, u32 payload length,
// payload. Answer: i64. All in host order: both ends are this program on
// this machine.
constexpr size_t kHeaderSize = 4 + 4 + 8 + 4;
constexpr uint32_t kMaxPayload = 4096;
constexpr size_t kMaxConnections = 8;

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

bool MakePrivateFolder(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    if (error) *error = Errno("cannot create " + path);
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (error) *error = Errno("cannot inspect " + path);
    return false;
  }
  // A folder planted by another user (or a link) in /tmp must not be trusted.
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    if (error) *error = path + " is not a folder owned by this user";
    return false;
  }
  if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
    if (error) *error = Errno("cannot make " + path + " private");
    return false;
  }
  return true;
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<std::string> InstanceRuntimeFolder(std::string* error) {
  std::string folder;
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && *xdg != '\0') {
    folder = std::string(xdg) + "/norvoopc";
  } else {
    folder = "/tmp/norvoopc-" + std::to_string(::geteuid());
  }
  if (!MakePrivateFolder(folder, error)) return std::nullopt;
  return folder;
}

TSingleInstance::~TSingleInstance() {
  for (auto& c : FConnections) ::close(c.Fd);
  if (FListenFd >= 0) {
    ::close(FListenFd);
    ::unlink(FSocketPath.c_str());
  }
  // The lock file stays: removing it while held would let a third process
  // lock a new file of the same name beside a second one waiting on the old.
  if (FLockFd >= 0) ::close(FLockFd);
}

TSingleInstance::TResult TSingleInstance::Acquire(const std::string& folder) {
  const std::string lockPath = folder + "/" + kInstanceLockName;
  FLockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (FLockFd < 0) {
    FLastError = Errno("cannot open " + lockPath);
    return TResult::Failed;
  }
  if (::flock(FLockFd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    FLastError = held ? "another server holds " + lockPath : Errno("cannot lock " + lockPath);
    ::close(FLockFd);
    FLockFd = -1;
    return held ? TResult::Second : TResult::Failed;
  }

  // The lock is ours, so any socket file here is a crashed server's.
  const std::string socketPath = folder + "/" + kInstanceSocketName;
  sockaddr_un addr{};
  if (!FillAddress(socketPath, addr)) {
    FLastError = "socket path too long: " + socketPath;
    return TResult::Failed;
  }
  ::unlink(socketPath.c_str());
  FListenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (FListenFd < 0) {
    FLastError = Errno("cannot create the instance socket");
    return TResult::Failed;
  }
  if (::bind(FListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(FListenFd, 8) != 0) {
    FLastError = Errno("cannot listen on " + socketPath);
    ::close(FListenFd);
    FListenFd = -1;
    return TResult::Failed;
  }
  FSocketPath = socketPath;
  return TResult::First;
}

std::vector<int> TSingleInstance::ConnectionFds() const {
  std::vector<int> fds;
  for (const auto& c : FConnections) fds.push_back(c.Fd);
  return fds;
}

void TSingleInstance::AcceptAll() {
  if (FListenFd < 0) return;
  for (;;) {
    const int fd = ::accept4(FListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;  // EAGAIN, or a transient error the next readiness retries
    }
    if (FConnections.size() >= kMaxConnections) {
      ::close(fd);
      continue;
    }
    FConnections.push_back({fd, {}});
  }
}

bool TSingleInstance::ReadAndServe(TConnection& conn) {
  bool open = true;
  char chunk[1024];
  while (conn.Buffer.size() <= kHeaderSize + kMaxPayload) {
    const ssize_t n = ::recv(conn.Fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      conn.Buffer.append(chunk, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      open = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
      break;  // would block, or the peer is gone: serve what is complete
    }
  }
  while (conn.Buffer.size() >= kHeaderSize) {
    uint32_t msg, wants, len;
    int64_t lParam;
    std::memcpy(&msg, conn.Buffer.data(), 4);
    std::memcpy(&wants, conn.Buffer.data() + 4, 4);
    std::memcpy(&lParam, conn.Buffer.data() + 8, 8);
    std::memcpy(&len, conn.Buffer.data() + 16, 4);
    if (len > kMaxPayload) return false;
    if (conn.Buffer.size() < kHeaderSize + len) break;
    std::string payload = conn.Buffer.substr(kHeaderSize, len);
    conn.Buffer.erase(0, kHeaderSize + len);
    const int64_t answer = FHandler ? FHandler(msg, payload, lParam) : 0;
    if (wants != 0 && open) {
      // The peer waits for exactly these eight bytes; a peer that went away
      // costs only its connection.
      if (::send(conn.Fd, &answer, sizeof answer, MSG_NOSIGNAL | MSG_DONTWAIT) != sizeof answer) return false;
    }
  }
  return open;
}

void TSingleInstance::Serve() {
  AcceptAll();
  for (size_t i = 0; i < FConnections.size();) {
    if (ReadAndServe(FConnections[i])) {
      ++i;
    } else {
      ::close(FConnections[i].Fd);
      FConnections.erase(FConnections.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

TInstanceClient::~TInstanceClient() {
  if (FFd >= 0) ::close(FFd);
}

bool TInstanceClient::Connect(const std::string& folder, int waitMs) {
  sockaddr_un addr{};
  if (!FillAddress(folder + "/" + kInstanceSocketName, addr)) return false;
  const int stepMs = 50;
  for (int waited = 0;; waited += stepMs) {
    FFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FFd < 0) return false;
    timeval tv{2, 0};
    ::setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(FFd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (::connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return true;
    ::close(FFd);
    FFd = -1;
    if (waited >= waitMs) return false;
    timespec ts{0, stepMs * 1000000L};
    ::nanosleep(&ts, nullptr);
  }
}

bool TInstanceClient::WriteFrame(uint32_t msg, bool wantsAnswer, const std::string& payload, int64_t lParam) {
  if (FFd < 0 || payload.size() > kMaxPayload) return false;
  std::string frame(kHeaderSize, '\0');
  const uint32_t wants = wantsAnswer ? 1 : 0;
  const uint32_t len = static_cast<uint32_t>(payload.size());
  std::memcpy(frame.data(), &msg, 4);
  std::memcpy(frame.data() + 4, &wants, 4);
  std::memcpy(frame.data() + 8, &lParam, 8);
  std::memcpy(frame.data() + 16, &len, 4);
  frame += payload;
  return WriteAll(FFd, frame.data(), frame.size());
}

std::optional<int64_t> TInstanceClient::Send(uint32_t msg, const std::string& payload, int64_t lParam) {
  if (!WriteFrame(msg, true, payload, lParam)) return std::nullopt;
  int64_t answer = 0;
  if (!ReadAll(FFd, reinterpret_cast<char*>(&answer), sizeof answer)) return std::nullopt;
  return answer;
}

bool TInstanceClient::Post(uint32_t msg) { return WriteFrame(msg, false, {}, 0); }
