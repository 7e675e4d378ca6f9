// Unix-domain stream sockets for local peers: a non-blocking listening end
// the event loop watches, and short request/answer exchanges with bounded
// waits.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

// Owns one descriptor and closes it when dropped.
class TUnixFd {
 public:
  TUnixFd() = default;
  explicit TUnixFd(int Fd) : FFd(Fd) {}
  ~TUnixFd() { Reset(); }
  TUnixFd(TUnixFd&& Other) noexcept : FFd(std::exchange(Other.FFd, -1)) {}
  TUnixFd& operator=(TUnixFd&& Other) noexcept {
    if (this != &Other) {
      Reset();
      FFd = std::exchange(Other.FFd, -1);
    }
    return *this;
  }
  TUnixFd(const TUnixFd&) = delete;
  TUnixFd& operator=(const TUnixFd&) = delete;

  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  void Reset();

 private:
  int FFd = -1;
};

enum class TStaleSocket {
  // The caller holds a lock that proves any file there is a dead owner's.
  Replace,
  // Probe first: a file someone still accepts on is left alone.
  ReplaceUnlessLive,
};

// Listens non-blocking on Path, replacing an old socket file as Stale says.
// Invalid on failure, with Error set.
TUnixFd ListenUnixSocket(const std::string& Path, TStaleSocket Stale, int Backlog, std::string& Error);

// Removes the socket file of a listener that is closing.
void RemoveUnixSocketFile(const std::string& Path);

// One waiting connection, non-blocking; invalid when none is waiting.
TUnixFd AcceptUnixConnection(int ListenFd);

// Connects to Path; sends and the connect itself give up after TimeoutMs.
// Invalid when nobody listens there.
TUnixFd ConnectUnixSocket(const std::string& Path, int TimeoutMs);

// Appends what is waiting on Fd to Buffer without blocking, until Buffer
// holds at least Limit bytes. False when the peer closed or the link failed;
// what arrived before is still appended.
bool ReadAvailable(int Fd, std::string& Buffer, size_t Limit);

// Sends Size bytes without blocking; false unless all were taken.
bool SendWithoutWaiting(int Fd, const void* Data, size_t Size);

// Sends all Size bytes, blocking no longer than the socket's send timeout.
bool SendAll(int Fd, const void* Data, size_t Size);

// Receives exactly Size bytes; false when the peer closed or nothing came
// for TimeoutMs.
bool ReceiveExact(int Fd, void* Data, size_t Size, int TimeoutMs);
