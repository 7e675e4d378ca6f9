#include "opc/server_registration.h"

#include <filesystem>

#include "opc/opc_da.h"
#include "opc/server_ids.h"
#include "opc/type_library.h"
#include "platform/component_categories.h"
#include "platform/registry.h"

void DeclareServerClasses(TComServer& server) {
  server.SetTypeLibrary(ZeltaOPCTypeLibrary());
  auto add = [&](const CLSID& clsid, const char* name, const char* description, bool typeInfo) {
    TComClassInfo info;
    info.clsid = clsid;
    info.className = name;
    info.description = description;
    info.threading = ThreadingModel::Apartment;
    info.instancing = ComInstancing::MultiInstance;
    info.hasTypeInfo = typeInfo;
    // Keep a creator supplied before this call.
    if (const TComClassInfo* old = server.FindClass(clsid)) info.creator = old->creator;
    server.AddClass(std::move(info));
  };
  add(CLSID_DA2, "DA2", kServerDescription, true);
  add(CLSID_OPCGroup, "OPCGroup", "OPCGroup Object", true);
  add(CLSID_TS3UnknownEnumerator, "TS3UnknownEnumerator", "NorvoOPC", false);
  add(CLSID_TOPCStringsEnumerator, "TOPCStringsEnumerator", "NorvoOPC", false);
  add(CLSID_TOPCItemAttEnumerator, "TOPCItemAttEnumerator", "NorvoOPC", false);
}

void SetDA2Factory(TComServer& server, ComCreator creator) {
  if (!server.SetCreator(CLSID_DA2, creator)) {
    DeclareServerClasses(server);
    server.SetCreator(CLSID_DA2, std::move(creator));
  }
}

TComStartupResult StartComServer(const std::vector<std::string>& args) {
  DeclareServerClasses(ComServer());
  return ComServer().Startup(args);
}

namespace {

class Steps {
 public:
  explicit Steps(TRegistrationResult& result) : reg_(RegRoot::ClassesRoot), result_(result) {}

  // Opens (creating) the key and writes the string values in order.
  void Key(const std::string& path, std::initializer_list<std::pair<const char*, std::string>> values = {}) {
    if (!result_.ok) return;
    reg_.CloseKey();
    bool ok = reg_.OpenKey(path, true);
    for (const auto& [name, value] : values) {
      if (!ok) break;
      ok = reg_.WriteString(name, value);
    }
    if (!ok) {
      result_.ok = false;
      result_.error = "Unable to write HKEY_CLASSES_ROOT\\" + path + ": " + reg_.LastError();
    }
  }

 private:
  TRegistry reg_;
  TRegistrationResult& result_;
};

CATEGORYINFO CategoryInfo(const CATID& catid, const std::string& description) {
  CATEGORYINFO info{};
  info.catid = catid;
  info.lcid = GetUserDefaultLCID();
  std::u16string text = Utf8ToUtf16(description);
  size_t n = std::min<size_t>(text.size(), 127);
  std::copy_n(text.begin(), n, info.szDescription);
  info.szDescription[n] = 0;
  return info;
}

}  // namespace

TRegistrationResult RegisterServer(const std::string& progId, const std::string& exePath) {
  TRegistrationResult result;
  const std::string d = kServerDescription;
  const std::string c = GuidToString(CLSID_DA2);
  const std::string a = GuidToString(APPID_NorvoOPC);
  const std::string exeName = std::filesystem::path(exePath).filename().string();

  Steps s(result);
  s.Key(progId, {{"", d}});
  s.Key(progId + "\\Clsid", {{"", c}, {"AppID", a}});
  s.Key(progId + "\\OPC");
  s.Key("CLSID\\" + c, {{"", d}, {"AppID", a}});
  s.Key("CLSID\\" + c + "\\LocalServer32", {{"", exePath}});
  s.Key("CLSID\\" + c + "\\ProgID", {{"", progId}});
  s.Key("AppID\\" + exeName, {{"", d}, {"AppID", a}});
  s.Key("AppID\\" + a, {{"", d}});
  if (!result.ok) return result;

  ComPtr<ICatRegister> cats;
  HRESULT hr = CreateComponentCategoriesManager(IID_ICatRegister, cats.put_void());
  if (FAILED(hr) || !cats) {
    result.ok = false;
    result.error = "Unable to create the component categories manager";
    return result;
  }
  size_t i = 0;
  for (CATID catid : {CATID_OPCDAServer10, CATID_OPCDAServer20}) {
    CATEGORYINFO info = CategoryInfo(catid, d);
    result.categoryResults[i++] = cats->RegisterCategories(1, &info);
    result.categoryResults[i++] = cats->RegisterClassImplCategories(CLSID_DA2, 1, &catid);
  }
  return result;
}

TRegistrationResult RegisterServer(const std::string& progId) {
  return RegisterServer(progId, ComServer().ExecutablePath());
}

TRegistrationResult UnregisterServer(const std::string& /*progId*/) {
  TRegistrationResult result;
  ComPtr<ICatRegister> cats;
  HRESULT hr = CreateComponentCategoriesManager(IID_ICatRegister, cats.put_void());
  if (FAILED(hr) || !cats) {
    result.ok = false;
    result.error = "Unable to create the component categories manager";
    return result;
  }
  size_t i = 0;
  for (CATID catid : {CATID_OPCDAServer10, CATID_OPCDAServer20}) {
    result.categoryResults[i++] = cats->UnRegisterClassImplCategories(CLSID_DA2, 1, &catid);
  }
  return result;
}
