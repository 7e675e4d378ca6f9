// The built server as a process: single instance and shutdown by signal.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

const std::string kBinary = std::string(NORVOOPC_BIN_DIR) + "/norvoopc";

struct Sandbox {
  std::string dir;
  Sandbox() {
    char tmpl[] = "/tmp/norvoopc-proc-XXXXXX";
    dir = ::mkdtemp(tmpl);
    for (const char* sub : {"/reg", "/run", "/data"}) std::filesystem::create_directory(dir + sub);
  }
  ~Sandbox() { std::filesystem::remove_all(dir); }

  pid_t Start() const {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("NORVOOPC_REGISTRY_DIR", (dir + "/reg").c_str(), 1);
      ::setenv("XDG_RUNTIME_DIR", (dir + "/run").c_str(), 1);
      ::setenv("NORVOOPC_DATA_DIR", (dir + "/data").c_str(), 1);
      ::execl(kBinary.c_str(), kBinary.c_str(), "--headless", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  }
};

// Waits at most `ms` for the process; its exit status, or -1 when it still runs.
int WaitFor(pid_t pid, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

bool SocketReady(const Sandbox& box) {
  return std::filesystem::exists(box.dir + "/run/norvoopc/TfrmMainNorvoOPCServer");
}

}  // namespace

TEST(ServerProcess, SecondInstanceEndsAtOnceAndSigtermEndsTheFirst) {
  if (!std::filesystem::exists(kBinary)) GTEST_SKIP() << "server not built";
  Sandbox box;
  const pid_t first = box.Start();
  for (int i = 0; i < 250 && !SocketReady(box); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(SocketReady(box));

  const pid_t second = box.Start();
  EXPECT_EQ(WaitFor(second, 5000), 0);
  EXPECT_EQ(WaitFor(first, 0), -1) << "the first keeps running";

  ::kill(first, SIGTERM);
  const int rc = WaitFor(first, 5000);
  if (rc == -1) ::kill(first, SIGKILL), ::waitpid(first, nullptr, 0);
  EXPECT_EQ(rc, 0);
}
