#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/single_instance.h"

namespace {

struct TempFolder {
  std::string path;
  TempFolder() {
    char tmpl[] = "/tmp/norvoopc-si-XXXXXX";
    path = ::mkdtemp(tmpl);
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
};

struct Seen {
  uint32_t msg;
  std::string payload;
  int64_t lParam;
};

}  // namespace

TEST(SingleInstance, SecondProcessIsToldAndServedWithoutBlocking) {
  TempFolder dir;
  TSingleInstance first;
  ASSERT_EQ(first.Acquire(dir.path), TSingleInstance::TResult::First) << first.LastError();
  std::vector<Seen> seen;
  first.SetHandler([&](uint32_t msg, const std::string& payload, int64_t lParam) -> int64_t {
    seen.push_back({msg, payload, lParam});
    return msg == 0x406 ? 0 : 7;
  });
  first.Serve();  // nothing waiting: returns at once

  TSingleInstance second;
  EXPECT_EQ(second.Acquire(dir.path), TSingleInstance::TResult::Second);

  // The client sends before the server reads; the socket buffers it.
  TInstanceClient client;
  ASSERT_TRUE(client.Connect(dir.path, 0));
  ASSERT_TRUE(client.Post(0x408));
  first.Serve();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].msg, 0x408u);
  EXPECT_EQ(first.ConnectionFds().size(), 1u);
}

TEST(SingleInstance, SentMessagesGetTheirAnswers) {
  TempFolder dir;
  TSingleInstance first;
  ASSERT_EQ(first.Acquire(dir.path), TSingleInstance::TResult::First);
  std::vector<Seen> seen;
  first.SetHandler([&](uint32_t msg, const std::string& payload, int64_t lParam) -> int64_t {
    seen.push_back({msg, payload, lParam});
    return static_cast<int64_t>(payload.size()) + 100;
  });
  // Serve from a child so the client's blocking wait for the answer ends.
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    TInstanceClient client;
    if (!client.Connect(dir.path, 1000)) ::_exit(2);
    auto a = client.Send(0x407, "chunk\tx", 7);
    ::_exit(a && *a == 107 ? 0 : 1);
  }
  int status = 0;
  for (int i = 0; i < 400 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
    first.Serve();
    ::usleep(5000);
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].payload, "chunk\tx");
  EXPECT_EQ(seen[0].lParam, 7);
}

TEST(SingleInstance, StaleSocketAndLockFileDoNotBlockAStart) {
  TempFolder dir;
  // What a crashed server leaves: the lock file (unlocked) and a socket file
  // nobody listens on.
  const std::string sock = dir.path + "/" + kInstanceSocketName;
  {
    int fd = ::open((dir.path + "/" + kInstanceLockName).c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, sock.c_str());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(s);
  }
  TInstanceClient probe;
  EXPECT_FALSE(probe.Connect(dir.path, 0)) << "a stale socket answers nobody";

  TSingleInstance next;
  ASSERT_EQ(next.Acquire(dir.path), TSingleInstance::TResult::First) << next.LastError();
  TInstanceClient client;
  EXPECT_TRUE(client.Connect(dir.path, 0));
}

TEST(SingleInstance, MalformedFramesCostOnlyTheirConnection) {
  TempFolder dir;
  TSingleInstance first;
  ASSERT_EQ(first.Acquire(dir.path), TSingleInstance::TResult::First);
  int calls = 0;
  first.SetHandler([&](uint32_t, const std::string&, int64_t) -> int64_t { return ++calls; });
  int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, first.SocketPath().c_str());
  ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  // A header claiming a payload far beyond the limit.
  unsigned char frame[20] = {0x07, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
  ASSERT_EQ(::send(s, frame, sizeof frame, 0), 20);
  first.Serve();
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(first.ConnectionFds().empty());
  ::close(s);

  TInstanceClient client;  // the next one is still served
  ASSERT_TRUE(client.Connect(dir.path, 0));
  ASSERT_TRUE(client.Post(0x408));
  first.Serve();
  EXPECT_EQ(calls, 1);
}

TEST(SingleInstance, RuntimeFolderIsPrivate) {
  TempFolder dir;
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old ? old : "";
  ::setenv("XDG_RUNTIME_DIR", dir.path.c_str(), 1);
  std::string error;
  const auto folder = InstanceRuntimeFolder(&error);
  if (old) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1); else ::unsetenv("XDG_RUNTIME_DIR");
  ASSERT_TRUE(folder) << error;
  EXPECT_EQ(*folder, dir.path + "/norvoopc");
  const auto perms = std::filesystem::status(*folder).permissions();
  EXPECT_EQ(perms & std::filesystem::perms::all, std::filesystem::perms::owner_all);
}
