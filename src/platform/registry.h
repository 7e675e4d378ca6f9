// Typed registry store: our replacement for the Windows registry. Each root
// persists as one file in the text format of registry export files; several
// processes may share the files (see registry_store.cpp for the locking).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum class RegRoot { LocalMachine, CurrentUser, ClassesRoot };
enum class RegType : uint32_t { None = 0, Sz = 1, ExpandSz = 2, Dword = 4 };

// Root name as written in the files: "HKEY_LOCAL_MACHINE" and so on.
const char* RegRootName(RegRoot root);

// Where the three files live. Defaults follow NORVOOPC_REGISTRY_DIR, then the
// system and per-user folders; tests point it at a temporary folder.
struct RegistryLocation {
  std::string localMachineDir;
  std::string currentUserDir;
  std::string classesRootDir;
  static RegistryLocation FromEnvironment();
  static RegistryLocation InFolder(const std::string& dir);
};

// Sets the location used by TRegistry objects created afterwards
// (process-wide; the app sets it once at start).
void SetRegistryLocation(const RegistryLocation& location);
const RegistryLocation& GetRegistryLocation();

class RegistryFile;
class RegDocument;
struct RegValueData;

// One open key, in the manner of a registry component: pick the root, open a
// key path (levels separated by '\'), read and write its values. Failures
// return false (or nullopt) and leave LastError() with a message for the
// operator or the log.
class TRegistry {
 public:
  explicit TRegistry(RegRoot root = RegRoot::CurrentUser);
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  RegRoot RootKey() const { return root_; }
  void SetRootKey(RegRoot root);

  // Full access: with canCreate, missing levels are created (a write).
  bool OpenKey(const std::string& path, bool canCreate);
  // Read-only: nothing is created; fails when a level is missing.
  bool OpenKeyReadOnly(const std::string& path);
  void CloseKey();
  bool HasOpenKey() const;
  const std::string& CurrentPath() const { return path_; }

  bool KeyExists(const std::string& path) const;
  bool ValueExists(const std::string& name) const;
  RegType GetDataType(const std::string& name) const;

  // Name "" is the unnamed default value. A value of another type than the
  // one asked for counts as unreadable (nullopt).
  std::optional<std::string> ReadString(const std::string& name) const;   // REG_SZ or REG_EXPAND_SZ
  std::optional<int32_t> ReadInteger(const std::string& name) const;      // REG_DWORD
  bool WriteString(const std::string& name, const std::string& value);
  bool WriteExpandString(const std::string& name, const std::string& value);
  bool WriteInteger(const std::string& name, int32_t value);

  bool DeleteValue(const std::string& name);
  // Deletes a key under the current key (or under the root when none is
  // open) with all its subkeys.
  bool DeleteKey(const std::string& path);
  std::vector<std::string> GetKeyNames() const;
  std::vector<std::string> GetValueNames() const;

  const std::string& LastError() const { return lastError_; }

 private:
  // Joins `path` to the current key (or takes it from the root when it
  // starts with '\'); false with LastError when a level is empty or holds
  // a line break.
  bool Resolve(const std::string& path, std::string& full) const;
  RegistryFile& File() const;
  std::shared_ptr<const RegDocument> Document() const;
  const RegValueData* FindValue(const std::shared_ptr<const RegDocument>& doc,
                                       const std::string& name) const;
  bool WriteValue(const RegValueData& value);

  RegistryLocation location_;
  RegRoot root_;
  std::string path_;
  bool open_ = false;
  bool writable_ = false;
  mutable std::string lastError_;
};
