#include "platform/component_categories.h"

#include <cstdio>

#include "platform/guid.h"
#include "platform/registry.h"

namespace {

std::string LcidName(LCID lcid) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(lcid));
  return buf;
}

std::string CategoryKey(const CATID& catid) { return "Component Categories\\" + GuidToString(catid); }

std::string ClassCategoriesKey(const CLSID& clsid, const char* kind) {
  return "CLSID\\" + GuidToString(clsid) + "\\" + kind;
}

// The description stops at the first NUL or after 127 characters, whichever
// comes first, so an unterminated buffer is never overrun.
std::string DescriptionText(const CATEGORYINFO& info) {
  size_t n = 0;
  while (n < 127 && info.szDescription[n] != 0) ++n;
  return Utf16ToUtf8(std::u16string_view(info.szDescription, n));
}

constexpr const char* kImplemented = "Implemented Categories";
constexpr const char* kRequired = "Required Categories";

}  // namespace

LCID GetUserDefaultLCID() { return LOCALE_EN_US; }

HRESULT TComponentCategoriesManager::RegisterCategories(uint32_t count, CATEGORYINFO* infos) {
  if (count && !infos) return E_POINTER;
  TRegistry reg(RegRoot::ClassesRoot);
  for (uint32_t i = 0; i < count; ++i) {
    reg.CloseKey();
    if (!reg.OpenKey(CategoryKey(infos[i].catid), true) ||
        !reg.WriteString(LcidName(infos[i].lcid), DescriptionText(infos[i]))) {
      lastError_ = reg.LastError();
      return E_ACCESSDENIED;
    }
  }
  return S_OK;
}

HRESULT TComponentCategoriesManager::UnRegisterCategories(uint32_t count, CATID* catids) {
  if (count && !catids) return E_POINTER;
  TRegistry reg(RegRoot::ClassesRoot);
  for (uint32_t i = 0; i < count; ++i) {
    std::string key = CategoryKey(catids[i]);
    if (reg.KeyExists(key) && !reg.DeleteKey(key)) {
      lastError_ = reg.LastError();
      return E_ACCESSDENIED;
    }
  }
  return S_OK;
}

HRESULT TComponentCategoriesManager::AddClassKeys(const CLSID& clsid, const char* kind, uint32_t count,
                                                  const CATID* catids) {
  if (count && !catids) return E_POINTER;
  TRegistry reg(RegRoot::ClassesRoot);
  for (uint32_t i = 0; i < count; ++i) {
    reg.CloseKey();
    if (!reg.OpenKey(ClassCategoriesKey(clsid, kind) + "\\" + GuidToString(catids[i]), true)) {
      lastError_ = reg.LastError();
      return E_ACCESSDENIED;
    }
  }
  return S_OK;
}

HRESULT TComponentCategoriesManager::RemoveClassKeys(const CLSID& clsid, const char* kind, uint32_t count,
                                                     const CATID* catids) {
  if (count && !catids) return E_POINTER;
  TRegistry reg(RegRoot::ClassesRoot);
  const std::string parent = ClassCategoriesKey(clsid, kind);
  for (uint32_t i = 0; i < count; ++i) {
    std::string key = parent + "\\" + GuidToString(catids[i]);
    if (reg.KeyExists(key) && !reg.DeleteKey(key)) {
      lastError_ = reg.LastError();
      return E_ACCESSDENIED;
    }
  }
  // An emptied list key says nothing; drop it as the system manager does.
  if (reg.OpenKeyReadOnly(parent) && reg.GetKeyNames().empty() && reg.GetValueNames().empty()) {
    reg.CloseKey();
    reg.DeleteKey(parent);
  }
  return S_OK;
}

HRESULT TComponentCategoriesManager::RegisterClassImplCategories(const CLSID& clsid, uint32_t count, CATID* catids) {
  return AddClassKeys(clsid, kImplemented, count, catids);
}

HRESULT TComponentCategoriesManager::UnRegisterClassImplCategories(const CLSID& clsid, uint32_t count,
                                                                   CATID* catids) {
  return RemoveClassKeys(clsid, kImplemented, count, catids);
}

HRESULT TComponentCategoriesManager::RegisterClassReqCategories(const CLSID& clsid, uint32_t count, CATID* catids) {
  return AddClassKeys(clsid, kRequired, count, catids);
}

HRESULT TComponentCategoriesManager::UnRegisterClassReqCategories(const CLSID& clsid, uint32_t count,
                                                                  CATID* catids) {
  return RemoveClassKeys(clsid, kRequired, count, catids);
}

HRESULT CreateComponentCategoriesManager(const IID& iid, void** out) {
  return QueryNew(MakeComObject<TComponentCategoriesManager>(), iid, out);
}

std::vector<CLSID> ClassesImplementingCategory(const CATID& catid) {
  std::vector<CLSID> result;
  TRegistry reg(RegRoot::ClassesRoot);
  if (!reg.OpenKeyReadOnly("CLSID")) return result;
  const std::vector<std::string> classes = reg.GetKeyNames();
  const std::string wanted = GuidToString(catid);
  TRegistry probe(RegRoot::ClassesRoot);  // no key open: paths from the root
  for (const std::string& name : classes) {
    auto clsid = ParseGuid(name);
    if (!clsid) continue;
    if (probe.KeyExists("CLSID\\" + name + "\\" + kImplemented + "\\" + wanted)) result.push_back(*clsid);
  }
  return result;
}

std::string CategoryDescription(const CATID& catid, LCID lcid) {
  TRegistry reg(RegRoot::ClassesRoot);
  if (!reg.OpenKeyReadOnly(CategoryKey(catid))) return {};
  return reg.ReadString(LcidName(lcid)).value_or("");
}
