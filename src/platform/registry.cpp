#include "platform/registry.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "platform/registry_document.h"
#include "platform/registry_store.h"

namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

std::string HomeDir() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return ".";
}

RegistryLocation& CurrentLocation() {
  static RegistryLocation location = RegistryLocation::FromEnvironment();
  return location;
}

std::string FullName(RegRoot root, const std::string& path) {
  return std::string(RegRootName(root)) + (path.empty() ? "" : "\\" + path);
}

}  // namespace

const char* RegRootName(RegRoot root) {
  switch (root) {
    case RegRoot::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case RegRoot::CurrentUser: return "HKEY_CURRENT_USER";
    case RegRoot::ClassesRoot: return "HKEY_CLASSES_ROOT";
  }
  return "HKEY_CURRENT_USER";
}

RegistryLocation RegistryLocation::FromEnvironment() {
  if (const char* dir = std::getenv("NORVOOPC_REGISTRY_DIR"); dir && *dir) return InFolder(dir);
  RegistryLocation l;
  l.localMachineDir = "/var/lib/norvoopc/registry";
  l.classesRootDir = l.localMachineDir;
  // Relative XDG paths are to be ignored.
  std::string config = EnvOr("XDG_CONFIG_HOME", "");
  if (config.empty() || config[0] != '/') config = HomeDir() + "/.config";
  l.currentUserDir = config + "/norvoopc";
  return l;
}

RegistryLocation RegistryLocation::InFolder(const std::string& dir) {
  return RegistryLocation{dir, dir, dir};
}

void SetRegistryLocation(const RegistryLocation& location) {
  std::lock_guard lock(RegistryFilesMutex());
  CurrentLocation() = location;
}

const RegistryLocation& GetRegistryLocation() { return CurrentLocation(); }

TRegistry::TRegistry(RegRoot root) : root_(root) {
  std::lock_guard lock(RegistryFilesMutex());
  location_ = CurrentLocation();
}

TRegistry::~TRegistry() = default;

void TRegistry::SetRootKey(RegRoot root) {
  CloseKey();
  root_ = root;
}

RegistryFile& TRegistry::File() const {
  const std::string& dir = root_ == RegRoot::LocalMachine ? location_.localMachineDir
                           : root_ == RegRoot::CurrentUser ? location_.currentUserDir
                                                           : location_.classesRootDir;
  return RegistryFileFor(dir + "/" + RegRootName(root_) + ".reg", RegRootName(root_));
}

std::shared_ptr<const RegDocument> TRegistry::Document() const {
  lastError_.clear();
  std::shared_ptr<const RegDocument> doc = File().Read(lastError_);
  return doc;
}

bool TRegistry::Resolve(const std::string& path, std::string& full) const {
  std::string_view rel = path;
  const bool absolute = !rel.empty() && rel.front() == '\\';
  while (!rel.empty() && rel.front() == '\\') rel.remove_prefix(1);
  while (!rel.empty() && rel.back() == '\\') rel.remove_suffix(1);
  full = absolute || !open_ ? std::string{} : path_;
  if (!rel.empty()) {
    if (rel.find("\\\\") != std::string_view::npos ||
        rel.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
      lastError_ = "Invalid registry key name: " + path;
      return false;
    }
    full += (full.empty() ? "" : "\\") + std::string(rel);
  }
  return true;
}

bool TRegistry::OpenKey(const std::string& path, bool canCreate) {
  std::lock_guard lock(RegistryFilesMutex());
  std::string full;
  if (!Resolve(path, full)) return false;
  auto doc = Document();
  if (!doc) return false;
  if (!doc->FindKey(full)) {
    if (!canCreate) {
      lastError_ = "Registry key not found: " + FullName(root_, full);
      return false;
    }
    const bool ok = File().Modify(
        [&](RegDocument& d, bool& changed, std::string&) {
          d.CreateKey(full, changed);
          return true;
        },
        lastError_);
    if (!ok) return false;
  }
  path_ = full;
  open_ = true;
  writable_ = true;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& path) {
  std::lock_guard lock(RegistryFilesMutex());
  std::string full;
  if (!Resolve(path, full)) return false;
  auto doc = Document();
  if (!doc) return false;
  if (!doc->FindKey(full)) {
    lastError_ = "Registry key not found: " + FullName(root_, full);
    return false;
  }
  path_ = full;
  open_ = true;
  writable_ = false;
  return true;
}

void TRegistry::CloseKey() {
  path_.clear();
  open_ = false;
  writable_ = false;
}

bool TRegistry::HasOpenKey() const { return open_; }

bool TRegistry::KeyExists(const std::string& path) const {
  std::lock_guard lock(RegistryFilesMutex());
  std::string full;
  if (!Resolve(path, full)) return false;
  auto doc = Document();
  return doc && doc->FindKey(full) != nullptr;
}

const RegValueData* TRegistry::FindValue(const std::shared_ptr<const RegDocument>& doc,
                                         const std::string& name) const {
  if (!doc) return nullptr;
  const RegKey* key = doc->FindKey(path_);
  if (!key) {
    lastError_ = "Registry key not found: " + FullName(root_, path_);
    return nullptr;
  }
  const RegValueData* value = key->FindValue(name);
  if (!value) lastError_ = "Registry value not found: " + name;
  return value;
}

bool TRegistry::ValueExists(const std::string& name) const {
  std::lock_guard lock(RegistryFilesMutex());
  return FindValue(Document(), name) != nullptr;
}

RegType TRegistry::GetDataType(const std::string& name) const {
  std::lock_guard lock(RegistryFilesMutex());
  const RegValueData* v = FindValue(Document(), name);
  return v ? v->type : RegType::None;
}

std::optional<std::string> TRegistry::ReadString(const std::string& name) const {
  std::lock_guard lock(RegistryFilesMutex());
  const auto doc = Document();
  const RegValueData* v = FindValue(doc, name);
  if (!v) return std::nullopt;
  if ((v->type != RegType::Sz && v->type != RegType::ExpandSz) || !v->Readable()) {
    lastError_ = "Registry value is not a string: " + name;
    return std::nullopt;
  }
  return v->text;
}

std::optional<int32_t> TRegistry::ReadInteger(const std::string& name) const {
  std::lock_guard lock(RegistryFilesMutex());
  const auto doc = Document();
  const RegValueData* v = FindValue(doc, name);
  if (!v) return std::nullopt;
  if (v->type != RegType::Dword || !v->Readable()) {
    lastError_ = "Registry value is not a DWORD: " + name;
    return std::nullopt;
  }
  return static_cast<int32_t>(v->dword);
}

bool TRegistry::WriteValue(const RegValueData& value) {
  std::lock_guard lock(RegistryFilesMutex());
  lastError_.clear();
  if (!open_ || !writable_) {
    lastError_ = open_ ? "Registry key is open read-only: " + FullName(root_, path_)
                       : std::string("No registry key is open");
    return false;
  }
  if (value.name.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
    lastError_ = "Invalid registry value name: " + value.name;
    return false;
  }
  return File().Modify(
      [&](RegDocument& doc, bool& changed, std::string& error) {
        RegKey* key = doc.FindKey(path_);
        if (!key) {
          // Deleted by someone else since we opened it.
          error = "Registry key was deleted: " + FullName(root_, path_);
          return false;
        }
        changed = key->SetValue(value);
        return true;
      },
      lastError_);
}

bool TRegistry::WriteString(const std::string& name, const std::string& value) {
  RegValueData v;
  v.name = name;
  v.type = RegType::Sz;
  v.text = value;
  return WriteValue(v);
}

bool TRegistry::WriteExpandString(const std::string& name, const std::string& value) {
  RegValueData v;
  v.name = name;
  v.type = RegType::ExpandSz;
  v.text = value;
  return WriteValue(v);
}

bool TRegistry::WriteInteger(const std::string& name, int32_t value) {
  RegValueData v;
  v.name = name;
  v.type = RegType::Dword;
  v.dword = static_cast<uint32_t>(value);
  return WriteValue(v);
}

bool TRegistry::DeleteValue(const std::string& name) {
  std::lock_guard lock(RegistryFilesMutex());
  lastError_.clear();
  if (!open_ || !writable_) {
    lastError_ = open_ ? "Registry key is open read-only: " + FullName(root_, path_)
                       : std::string("No registry key is open");
    return false;
  }
  return File().Modify(
      [&](RegDocument& doc, bool& changed, std::string& error) {
        RegKey* key = doc.FindKey(path_);
        changed = key && key->DeleteValue(name);
        if (!changed) error = "Registry value not found: " + name;
        return changed;
      },
      lastError_);
}

bool TRegistry::DeleteKey(const std::string& path) {
  std::lock_guard lock(RegistryFilesMutex());
  lastError_.clear();
  std::string full;
  if (!Resolve(path, full)) return false;
  if (full.empty()) {
    lastError_ = "A registry root cannot be deleted";
    return false;
  }
  return File().Modify(
      [&](RegDocument& doc, bool& changed, std::string& error) {
        changed = doc.DeleteKey(full);
        if (!changed) error = "Registry key not found: " + FullName(root_, full);
        return changed;
      },
      lastError_);
}

std::vector<std::string> TRegistry::GetKeyNames() const {
  std::lock_guard lock(RegistryFilesMutex());
  const auto doc = Document();
  return doc ? doc->SubkeyNames(path_) : std::vector<std::string>{};
}

std::vector<std::string> TRegistry::GetValueNames() const {
  std::lock_guard lock(RegistryFilesMutex());
  const auto doc = Document();
  const RegKey* key = doc ? doc->FindKey(path_) : nullptr;
  return key ? key->ValueNames() : std::vector<std::string>{};
}
