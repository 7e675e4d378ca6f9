#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// Frame: u32 message, u32 answer wanted, i64 lParam, u32 payload length,
// payload. Answer: i64. All in host order: both ends are this program on
// this machine.
constexpr size_t kHeaderSize = 4 + 4 + 8 + 4;
constexpr uint32_t kMaxPayload = 4096;
constexpr size_t kMaxConnections = 8;
constexpr int kAnswerTimeoutMs = 2000;

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
  FConnections.clear();
  if (FListen.Valid()) {
    FListen.Reset();
    RemoveUnixSocketFile(FSocketPath);
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
  FListen = ListenUnixSocket(socketPath, TStaleSocket::Replace, 8, FLastError);
  if (!FListen.Valid()) return TResult::Failed;
  FSocketPath = socketPath;
  return TResult::First;
}

std::vector<int> TSingleInstance::ConnectionFds() const {
  std::vector<int> fds;
  for (const auto& c : FConnections) fds.push_back(c.Fd.Get());
  return fds;
}

void TSingleInstance::AcceptAll() {
  if (!FListen.Valid()) return;
  for (TUnixFd fd = AcceptUnixConnection(FListen.Get()); fd.Valid(); fd = AcceptUnixConnection(FListen.Get()))
    if (FConnections.size() < kMaxConnections) FConnections.push_back({std::move(fd), {}});
}

bool TSingleInstance::ReadAndServe(TConnection& conn) {
  // Would block, or the peer is gone: serve what is complete either way.
  const bool open = ReadAvailable(conn.Fd.Get(), conn.Buffer, kHeaderSize + kMaxPayload + 1);
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
      if (!SendWithoutWaiting(conn.Fd.Get(), &answer, sizeof answer)) return false;
    }
  }
  return open;
}

void TSingleInstance::Serve() {
  AcceptAll();
  std::erase_if(FConnections, [this](TConnection& c) { return !ReadAndServe(c); });
}

bool TInstanceClient::Connect(const std::string& folder, int waitMs) {
  const std::string path = folder + "/" + kInstanceSocketName;
  const int stepMs = 50;
  for (int waited = 0;; waited += stepMs) {
    FFd = ConnectUnixSocket(path, kAnswerTimeoutMs);
    if (FFd.Valid()) return true;
    if (waited >= waitMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
  }
}

bool TInstanceClient::WriteFrame(uint32_t msg, bool wantsAnswer, const std::string& payload, int64_t lParam) {
  if (!FFd.Valid() || payload.size() > kMaxPayload) return false;
  std::string frame(kHeaderSize, '\0');
  const uint32_t wants = wantsAnswer ? 1 : 0;
  const uint32_t len = static_cast<uint32_t>(payload.size());
  std::memcpy(frame.data(), &msg, 4);
  std::memcpy(frame.data() + 4, &wants, 4);
  std::memcpy(frame.data() + 8, &lParam, 8);
  std::memcpy(frame.data() + 16, &len, 4);
  frame += payload;
  return SendAll(FFd.Get(), frame.data(), frame.size());
}

std::optional<int64_t> TInstanceClient::Send(uint32_t msg, const std::string& payload, int64_t lParam) {
  if (!WriteFrame(msg, true, payload, lParam)) return std::nullopt;
  int64_t answer = 0;
  if (!ReceiveExact(FFd.Get(), &answer, sizeof answer, kAnswerTimeoutMs)) return std::nullopt;
  return answer;
}

bool TInstanceClient::Post(uint32_t msg) { return WriteFrame(msg, false, {}, 0); }
