// One server per user session: an exclusively locked file stands for the
// named mutex, and a Unix-domain socket beside it for the window search and
// the messages a second instance sends to the first.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/unix_socket.h"

inline constexpr const char* kInstanceLockName = "NorvoOPCDataAccessServerMutex";
inline constexpr const char* kInstanceSocketName = "TfrmMainNorvoOPCServer";

// $XDG_RUNTIME_DIR/norvoopc, else /tmp/norvoopc-<uid>; created private to
// the user. nullopt (with `error` set) when it cannot be made safely.
std::optional<std::string> InstanceRuntimeFolder(std::string* error);

// Handles one message of a second instance; the answer goes back to it.
using TInstanceMessageHandler = std::function<int64_t(uint32_t msg, const std::string& payload, int64_t lParam)>;

class TSingleInstance {
 public:
  enum class TResult { First, Second, Failed };

  TSingleInstance() = default;
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // Takes the lock in `folder`. First: this process owns the server and
  // listens (a socket left by a crashed server is replaced). Second: another
  // process holds the lock. Failed: see LastError().
  TResult Acquire(const std::string& folder);

  void SetHandler(TInstanceMessageHandler handler) { FHandler = std::move(handler); }

  // Descriptors the event loop watches for reading; -1 / empty when idle.
  int ListenFd() const { return FListen.Get(); }
  std::vector<int> ConnectionFds() const;

  // Accepts waiting connections and serves every complete message; never
  // blocks. Call when any watched descriptor is readable.
  void Serve();

  const std::string& SocketPath() const { return FSocketPath; }
  const std::string& LastError() const { return FLastError; }

 private:
  struct TConnection {
    TUnixFd Fd;
    std::string Buffer;
  };
  void AcceptAll();
  bool ReadAndServe(TConnection& conn);  // false: close it

  int FLockFd = -1;
  TUnixFd FListen;
  std::string FSocketPath;
  std::vector<TConnection> FConnections;
  TInstanceMessageHandler FHandler;
  std::string FLastError;
};

// The second instance's end of the socket.
class TInstanceClient {
 public:
  TInstanceClient() = default;
  TInstanceClient(const TInstanceClient&) = delete;
  TInstanceClient& operator=(const TInstanceClient&) = delete;

  // Connects to the socket in `folder`, retrying while the first instance
  // is still starting, for at most `waitMs`.
  bool Connect(const std::string& folder, int waitMs = 3000);
  std::optional<int64_t> Send(uint32_t msg, const std::string& payload, int64_t lParam);
  bool Post(uint32_t msg);

 private:
  bool WriteFrame(uint32_t msg, bool wantsAnswer, const std::string& payload, int64_t lParam);
  TUnixFd FFd;
};
