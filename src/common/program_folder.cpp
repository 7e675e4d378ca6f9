#include "common/program_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return "./";  // no /proc: fall back to the working folder
  std::string path(buffer.data(), static_cast<size_t>(n));
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}

}  // namespace

std::string ProgramFolder() {
  const char* dir = std::getenv("NORVOOPC_DATA_DIR");
  if (dir != nullptr && *dir != '\0') return WithTrailingSlash(dir);
  return ExecutableFolder();
}
