#include "platform/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>

namespace {

// Files this large are not registry files; refusing them keeps a stray
// path from eating memory.
constexpr off_t kMaxFileSize = 64 * 1024 * 1024;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  // Close and report the result (a failed close can mean lost data).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string SysError(const std::string& what, const std::string& path) {
  return what + " '" + path + "': " + std::strerror(errno);
}

std::string ParentDir(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeDirs(const std::string& dir, std::string& error) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    errno = ENOTDIR;
    error = SysError("Cannot create registry folder", dir);
    return false;
  }
  const std::string parent = ParentDir(dir);
  if (parent != dir && !MakeDirs(parent, error)) return false;
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    error = SysError("Cannot create registry folder", dir);
    return false;
  }
  return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, std::string& out) {
  char buf[65536];
  while (true) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    out.append(buf, static_cast<size_t>(n));
  }
}

// Writes `bytes` to a fresh temporary file beside `path`, synced to disk.
bool WriteTemp(const std::string& path, const std::string& bytes, mode_t mode, bool keepMode,
               std::string& tmp, std::string& error) {
  tmp = path + ".tmp" + std::to_string(::getpid());
  Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.ok()) {
    error = SysError("Cannot write registry file", tmp);
    return false;
  }
  if ((keepMode && ::fchmod(fd.get(), mode & 07777) != 0) ||
      !WriteAll(fd.get(), bytes.data(), bytes.size()) || ::fsync(fd.get()) != 0 || !fd.Close()) {
    error = SysError("Cannot write registry file", tmp);
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool RenameOver(const std::string& tmp, const std::string& path, std::string& error) {
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    error = SysError("Cannot replace registry file", path);
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace

RegistryFile::Stamp RegistryFile::StampOf(const struct stat& s) {
  Stamp t;
  t.exists = true;
  t.dev = s.st_dev;
  t.ino = s.st_ino;
  t.mode = s.st_mode;
  t.size = s.st_size;
  t.mtimeSec = s.st_mtim.tv_sec;
  t.mtimeNsec = s.st_mtim.tv_nsec;
  t.ctimeSec = s.st_ctim.tv_sec;
  t.ctimeNsec = s.st_ctim.tv_nsec;
  return t;
}

RegistryFile::RegistryFile(std::string path, std::string rootName)
    : path_(std::move(path)), rootName_(std::move(rootName)) {}

void RegistryFile::ReportBadLines(const std::vector<RegBadLine>& bad) {
  for (const RegBadLine& b : bad) {
    if (!reported_.insert(b.text).second) continue;
    std::cerr << "norvoopc: registry file '" << path_ << "' line " << b.line << ": " << b.reason
              << "; kept as it is: " << b.text << std::endl;
  }
}

bool RegistryFile::Refresh(std::string& error) {
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) {
      error = SysError("Cannot read registry file", path_);
      return false;
    }
    if (!loaded_ || stamp_.exists) {
      doc_ = std::make_shared<const RegDocument>(rootName_);
      stamp_ = Stamp{};
      loaded_ = true;
    }
    return true;
  }
  if (loaded_ && stamp_ == StampOf(st)) return true;

  Fd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0) {
    error = SysError("Cannot read registry file", path_);
    return false;
  }
  if (!S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
    error = "Cannot read registry file '" + path_ + "': not a regular file of a sensible size";
    return false;
  }
  std::string bytes;
  bytes.reserve(static_cast<size_t>(st.st_size));
  if (!ReadAll(fd.get(), bytes)) {
    error = SysError("Cannot read registry file", path_);
    return false;
  }
  std::vector<RegBadLine> bad;
  doc_ = std::make_shared<const RegDocument>(RegDocument::Parse(bytes, rootName_, &bad));
  ReportBadLines(bad);
  stamp_ = StampOf(st);
  loaded_ = true;
  return true;
}

std::shared_ptr<const RegDocument> RegistryFile::Read(std::string& error) {
  if (!Refresh(error)) return nullptr;
  return doc_;
}

bool RegistryFile::WriteFile(const std::string& text, std::string& error) {
  const auto mode = static_cast<mode_t>(stamp_.mode);
  if (stamp_.exists && ::faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) != 0) {
    error = SysError("Cannot write registry file", path_);
    return false;
  }
  std::string tmp;
  if (!WriteTemp(path_, text, mode, stamp_.exists, tmp, error)) return false;
  if (stamp_.exists) {
    // The previous file becomes the backup through a second link, so its
    // exact bytes survive without a copy.
    const std::string bak = path_ + ".bak";
    const std::string bakTmp = bak + ".tmp" + std::to_string(::getpid());
    ::unlink(bakTmp.c_str());
    bool kept = ::link(path_.c_str(), bakTmp.c_str()) == 0 &&
                ::rename(bakTmp.c_str(), bak.c_str()) == 0;
    if (!kept) {
      std::string old, ignored, copy;
      Fd in(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
      kept = in.ok() && ReadAll(in.get(), old) && WriteTemp(bak, old, mode, true, copy, ignored) &&
             RenameOver(copy, bak, ignored);
    }
    if (!kept) std::cerr << "norvoopc: " << SysError("cannot keep backup", bak) << std::endl;
  }
  if (!RenameOver(tmp, path_, error)) return false;
  Fd dir(::open(ParentDir(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.ok()) ::fsync(dir.get());
  return true;
}

bool RegistryFile::Modify(const Change& change, std::string& error) {
  if (!MakeDirs(ParentDir(path_), error)) return false;
  const std::string lockPath = path_ + ".lock";
  int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // flock needs no write access; a lock file made by another user will do.
  if (lockFd < 0 && errno == EACCES) lockFd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
  Fd lock(lockFd);
  if (!lock.ok()) {
    error = SysError("Cannot write registry file", lockPath);
    return false;
  }
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      error = SysError("Cannot lock registry file", lockPath);
      return false;
    }
  }
  // Another process may have written since our last look.
  if (!Refresh(error)) return false;
  RegDocument doc = *doc_;
  bool changed = false;
  if (!change(doc, changed, error)) return false;
  if (!changed) return true;
  if (!WriteFile(doc.Serialize(), error)) return false;
  struct stat st {};
  loaded_ = false;  // a failed stat makes the next read load the file afresh
  if (::stat(path_.c_str(), &st) == 0) {
    doc_ = std::make_shared<const RegDocument>(std::move(doc));
    loaded_ = true;
    stamp_ = StampOf(st);
  }
  return true;
}

std::mutex& RegistryFilesMutex() {
  static std::mutex m;
  return m;
}

RegistryFile& RegistryFileFor(const std::string& path, const std::string& rootName) {
  static std::map<std::string, std::unique_ptr<RegistryFile>> files;
  auto& slot = files[path];
  if (!slot) slot = std::make_unique<RegistryFile>(path, rootName);
  return *slot;
}
