#include "platform/com_server.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/guid.h"
#include "platform/registry.h"

namespace {

// The automation marshaler, the proxy of every interface described by a
// type library.
constexpr const char* kTypeLibMarshaler = "{00020424-0000-0000-C000-000000000046}";

std::string DefaultExecutablePath() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

// A command line for LocalServer32. Linux has no short (8.3) names, so a
// path with blanks is quoted instead, which keeps it one argument.
std::string ServerCommand(const std::string& path) {
  if (path.find(' ') == std::string::npos) return path;
  return "\"" + path + "\"";
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(v));
  return buf;
}

// Writes one key's values from the root, remembering the first failure.
class KeyWriter {
 public:
  explicit KeyWriter(std::string* error) : reg_(RegRoot::ClassesRoot), error_(error) {}

  bool Write(const std::string& key, const std::vector<std::pair<std::string, std::string>>& values) {
    if (failed_) return false;
    reg_.CloseKey();
    bool ok = reg_.OpenKey(key, true);
    for (const auto& [name, value] : values) {
      if (!ok) break;
      ok = reg_.WriteString(name, value);
    }
    if (!ok) Fail(key);
    return ok;
  }
  bool Delete(const std::string& key) {
    if (failed_) return false;
    reg_.CloseKey();
    if (reg_.KeyExists(key) && !reg_.DeleteKey(key)) {
      Fail(key);
      return false;
    }
    return true;
  }
  bool ok() const { return !failed_; }

 private:
  void Fail(const std::string& key) {
    failed_ = true;
    if (error_) {
      *error_ = "HKEY_CLASSES_ROOT\\" + key + ": " + reg_.LastError();
    }
  }

  TRegistry reg_;
  std::string* error_;
  bool failed_ = false;
};

bool IsInterface(const TTypeLibraryMember& m) { return m.kind != TTypeLibraryMember::Kind::CoClass; }

}  // namespace

std::string TTypeLibraryInfo::VersionText() const {
  return std::to_string(majorVersion) + "." + std::to_string(minorVersion);
}

TComServer::TComServer() : exePath_(DefaultExecutablePath()) {}

TComServer::~TComServer() {
  if (automation_) SetComLastReleaseHook({});
}

void TComServer::AddClass(TComClassInfo info) {
  for (auto& c : classes_) {
    if (c.clsid == info.clsid) {
      c = std::move(info);
      return;
    }
  }
  classes_.push_back(std::move(info));
}

bool TComServer::RemoveClass(const CLSID& clsid) {
  auto it = std::find_if(classes_.begin(), classes_.end(), [&](const TComClassInfo& c) { return c.clsid == clsid; });
  if (it == classes_.end()) return false;
  classes_.erase(it);
  return true;
}

bool TComServer::SetCreator(const CLSID& clsid, ComCreator creator) {
  for (auto& c : classes_) {
    if (c.clsid == clsid) {
      c.creator = std::move(creator);
      return true;
    }
  }
  return false;
}

const TComClassInfo* TComServer::FindClass(const CLSID& clsid) const {
  for (const auto& c : classes_) {
    if (c.clsid == clsid) return &c;
  }
  return nullptr;
}

std::string TComServer::ProgIDOf(const TComClassInfo& info) const {
  if (info.className.empty()) return {};
  return typeLib_.name.empty() ? info.className : typeLib_.name + "." + info.className;
}

HRESULT TComServer::CreateInstance(const CLSID& clsid, const IID& iid, void** out) const {
  if (!out) return E_POINTER;
  *out = nullptr;
  const TComClassInfo* info = FindClass(clsid);
  if (!info) return REGDB_E_CLASSNOTREG;
  if (!info->creator) return CLASS_E_CLASSNOTAVAILABLE;
  HRESULT hr = info->creator(iid, out);
  if (FAILED(hr)) *out = nullptr;
  return hr;
}

HRESULT TComServer::GetClassObject(const CLSID& clsid, const IID& iid, void** out) const {
  if (!out) return E_POINTER;
  *out = nullptr;
  const TComClassInfo* info = FindClass(clsid);
  if (!info) return REGDB_E_CLASSNOTREG;
  // A copy of the creator: the factory may outlive a later table change.
  return QueryNew(MakeComObject<TComClassFactory>(info->creator), iid, out);
}

bool TComServer::RegisterStandardEntries(std::string* error) const {
  KeyWriter w(error);
  const std::string libid = GuidToString(typeLib_.libid);
  const std::string version = typeLib_.VersionText();
  if (!typeLib_.name.empty()) {
    const std::string lib = "TypeLib\\" + libid + "\\" + version;
    std::string helpDir = std::filesystem::path(exePath_).parent_path().string();
    w.Write(lib, {{"", typeLib_.helpString}});
    w.Write(lib + "\\" + Hex(typeLib_.lcid) + "\\linux64", {{"", exePath_}});
    w.Write(lib + "\\FLAGS", {{"", "0"}});
    w.Write(lib + "\\HELPDIR", {{"", helpDir}});
    for (const auto& m : typeLib_.members) {
      if (!IsInterface(m)) continue;
      const std::string key = "Interface\\" + GuidToString(m.guid);
      w.Write(key, {{"", m.name}});
      w.Write(key + "\\ProxyStubClsid", {{"", kTypeLibMarshaler}});
      w.Write(key + "\\ProxyStubClsid32", {{"", kTypeLibMarshaler}});
      w.Write(key + "\\TypeLib", {{"", libid}, {"Version", version}});
    }
  }
  for (const auto& c : classes_) {
    const std::string key = "CLSID\\" + GuidToString(c.clsid);
    w.Write(key, {{"", c.description}});
    w.Write(key + "\\LocalServer32", {{"", ServerCommand(exePath_)}});
    const std::string progId = ProgIDOf(c);
    if (!progId.empty()) {
      w.Write(progId, {{"", c.description}});
      w.Write(progId + "\\Clsid", {{"", GuidToString(c.clsid)}});
      w.Write(key + "\\ProgID", {{"", progId}});
    }
    if (c.hasTypeInfo && !typeLib_.name.empty()) {
      w.Write(key + "\\Version", {{"", version}});
      w.Write(key + "\\TypeLib", {{"", libid}});
    }
  }
  return w.ok();
}

bool TComServer::UnregisterStandardEntries(std::string* error) const {
  KeyWriter w(error);
  for (const auto& c : classes_) {
    const std::string progId = ProgIDOf(c);
    if (!progId.empty()) w.Delete(progId);
    w.Delete("CLSID\\" + GuidToString(c.clsid));
  }
  if (!typeLib_.name.empty()) {
    for (const auto& m : typeLib_.members) {
      if (IsInterface(m)) w.Delete("Interface\\" + GuidToString(m.guid));
    }
    w.Delete("TypeLib\\" + GuidToString(typeLib_.libid));
  }
  return w.ok();
}

TComStartupResult TComServer::Startup(const std::vector<std::string>& args) {
  TComStartupResult result;
  enum class Mode { Normal, Register, Unregister } mode = Mode::Normal;
  for (const auto& a : args) {
    // The first registration switch decides; both together make no sense.
    if (mode == Mode::Normal && IsCommandLineSwitch(a, "REGSERVER")) mode = Mode::Register;
    if (mode == Mode::Normal && IsCommandLineSwitch(a, "UNREGSERVER")) mode = Mode::Unregister;
    if (IsCommandLineSwitch(a, "AUTOMATION") || IsCommandLineSwitch(a, "EMBEDDING")) result.automation = true;
  }
  if (mode != Mode::Normal) {
    result.exitNow = true;
    result.automation = false;
    result.ok = mode == Mode::Register ? RegisterStandardEntries(&result.error)
                                       : UnregisterStandardEntries(&result.error);
    return result;
  }
  std::string ignored;
  RegisterStandardEntries(&ignored);
  automation_ = result.automation;
  if (automation_) SetComLastReleaseHook([this] { OnLastRelease(); });
  return result;
}

void TComServer::SetQuitHandler(std::function<void()> handler) { quit_ = std::move(handler); }

void TComServer::OnLastRelease() {
  if (automation_ && quit_) quit_();
}

TComServer& ComServer() {
  static TComServer server;
  return server;
}

bool IsCommandLineSwitch(std::string_view arg, std::string_view name) {
  if (arg.size() != name.size() + 1 || (arg[0] != '-' && arg[0] != '/')) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(arg[i + 1])) != std::toupper(static_cast<unsigned char>(name[i]))) {
      return false;
    }
  }
  return true;
}

HRESULT CreateInstanceByClsid(const CLSID& clsid, const IID& iid, void** out) {
  return ComServer().CreateInstance(clsid, iid, out);
}

HRESULT CLSIDFromProgID(std::string_view progId, CLSID* out) {
  if (!out) return E_POINTER;
  *out = GUID_NULL;
  if (progId.empty()) return CO_E_CLASSSTRING;
  TRegistry reg(RegRoot::ClassesRoot);
  if (!reg.OpenKeyReadOnly(std::string(progId) + "\\Clsid")) return CO_E_CLASSSTRING;
  auto text = reg.ReadString("");
  if (!text) return CO_E_CLASSSTRING;
  auto clsid = ParseGuid(*text);
  if (!clsid) return CO_E_CLASSSTRING;
  *out = *clsid;
  return S_OK;
}

HRESULT CreateInstanceByProgID(std::string_view progId, const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) return hr;
  return CreateInstanceByClsid(clsid, iid, out);
}
