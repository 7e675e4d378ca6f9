// The COM server framework: the table of class objects, activation in the
// process by CLSID or ProgID, the standard registry entries of the classes
// and the type library, and the start-up step that examines the command line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com_object.h"
#include "platform/variant.h"

enum class ThreadingModel { Single, Apartment, Free, Both };
enum class ComInstancing { SingleInstance, MultiInstance };

// One class object.
struct TComClassInfo {
  CLSID clsid{};
  std::string className;    // "" = no ProgID; else the ProgID is "<type library>.<className>"
  std::string description;  // default value of the class and ProgID keys
  ThreadingModel threading = ThreadingModel::Apartment;
  ComInstancing instancing = ComInstancing::MultiInstance;
  bool hasTypeInfo = false;  // also writes the Version and TypeLib subkeys
  ComCreator creator;        // empty: activation gives CLASS_E_CLASSNOTAVAILABLE
};

// A type library described in code; registered as keys only.
struct TTypeLibraryMember {
  enum class Kind { Interface, DualInterface, DispInterface, CoClass };
  Kind kind = Kind::Interface;
  std::string name;
  GUID guid{};
  std::string helpString;
  std::vector<std::string> implements;  // coclasses: interface names, the default first
};

struct TTypeLibraryInfo {
  std::string name;  // "" = no type library
  GUID libid{};
  uint16_t majorVersion = 1;
  uint16_t minorVersion = 0;
  LCID lcid = 0;
  std::string helpString;
  std::vector<TTypeLibraryMember> members;

  std::string VersionText() const;  // "2.0"
};

struct TComStartupResult {
  bool exitNow = false;     // a registration switch was handled; end the process
  bool automation = false;  // started by COM (EMBEDDING or AUTOMATION)
  bool ok = true;           // false when REGSERVER or UNREGSERVER failed
  std::string error;        // why, for the error report
};

class TComServer {
 public:
  TComServer();
  ~TComServer();
  TComServer(const TComServer&) = delete;
  TComServer& operator=(const TComServer&) = delete;

  void SetTypeLibrary(TTypeLibraryInfo lib) { typeLib_ = std::move(lib); }
  const TTypeLibraryInfo& TypeLibrary() const { return typeLib_; }

  // Replaces an entry with the same CLSID.
  void AddClass(TComClassInfo info);
  bool RemoveClass(const CLSID& clsid);
  // Lets a later layer supply a class's factory function; false when the
  // class is not in the table.
  bool SetCreator(const CLSID& clsid, ComCreator creator);
  const TComClassInfo* FindClass(const CLSID& clsid) const;
  const std::vector<TComClassInfo>& Classes() const { return classes_; }
  // "<type library>.<class name>", or "" when the class has no name.
  std::string ProgIDOf(const TComClassInfo& info) const;

  // The path of the running executable, as written to LocalServer32.
  // Defaults to /proc/self/exe; tests set their own.
  void SetExecutablePath(std::string path) { exePath_ = std::move(path); }
  const std::string& ExecutablePath() const { return exePath_; }

  // Activation in the process (CoCreateInstance and CoGetClassObject).
  HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** out) const;
  HRESULT GetClassObject(const CLSID& clsid, const IID& iid, void** out) const;

  // The standard entries of every class and of the type library. Stops at
  // the first key that cannot be written; `error` says which.
  bool RegisterStandardEntries(std::string* error) const;
  bool UnregisterStandardEntries(std::string* error) const;

  // The framework's step of process start. Examines args (without the
  // program name) for REGSERVER, UNREGSERVER, AUTOMATION and EMBEDDING with
  // "-" or "/" in any case. REGSERVER/UNREGSERVER write or remove the
  // standard entries and ask the caller to end; otherwise the entries are
  // written (failures ignored) and automation mode is remembered.
  TComStartupResult Startup(const std::vector<std::string>& args);
  bool AutomationMode() const { return automation_; }

  // Called when, in automation mode, the last COM object of the process is
  // released: the program ends its message loop there.
  void SetQuitHandler(std::function<void()> handler);

 private:
  void OnLastRelease();

  TTypeLibraryInfo typeLib_;
  std::vector<TComClassInfo> classes_;
  std::string exePath_;
  bool automation_ = false;
  std::function<void()> quit_;
};

// The process's framework, used by the free functions below.
TComServer& ComServer();

// True when arg is "-name" or "/name", letters in any case.
bool IsCommandLineSwitch(std::string_view arg, std::string_view name);

HRESULT CreateInstanceByClsid(const CLSID& clsid, const IID& iid, void** out);
// Resolves "<ProgID>\Clsid" in HKEY_CLASSES_ROOT; CO_E_CLASSSTRING when the
// ProgID is unknown or its CLSID text malformed.
HRESULT CLSIDFromProgID(std::string_view progId, CLSID* out);
HRESULT CreateInstanceByProgID(std::string_view progId, const IID& iid, void** out);
