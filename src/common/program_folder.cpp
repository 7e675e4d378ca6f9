#include "common/program_folder.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/file_io.h"

namespace {

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  if (path.empty()) return "./";  // no /proc: fall back to the working folder
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
