// Component categories: the registry entries through which OPC server
// browsers find servers of a kind (ICatRegister over HKEY_CLASSES_ROOT).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com_object.h"
#include "platform/variant.h"

struct CATEGORYINFO {
  CATID catid;
  LCID lcid;
  OLECHAR szDescription[128];  // NUL-terminated, so at most 127 characters
};
static_assert(sizeof(CATEGORYINFO) == 276);

// {0002E012-0000-0000-C000-000000000046}
constexpr IID IID_ICatRegister{0x0002E012, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {0002E013-0000-0000-C000-000000000046}
constexpr IID IID_ICatInformation{0x0002E013, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {0002E005-0000-0000-C000-000000000046}
constexpr CLSID CLSID_StdComponentCategoriesMgr{
    0x0002E005, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct ICatRegister : IUnknown {
  virtual HRESULT RegisterCategories(uint32_t count, CATEGORYINFO* infos) = 0;
  virtual HRESULT UnRegisterCategories(uint32_t count, CATID* catids) = 0;
  virtual HRESULT RegisterClassImplCategories(const CLSID& clsid, uint32_t count, CATID* catids) = 0;
  virtual HRESULT UnRegisterClassImplCategories(const CLSID& clsid, uint32_t count, CATID* catids) = 0;
  virtual HRESULT RegisterClassReqCategories(const CLSID& clsid, uint32_t count, CATID* catids) = 0;
  virtual HRESULT UnRegisterClassReqCategories(const CLSID& clsid, uint32_t count, CATID* catids) = 0;

 protected:
  ~ICatRegister() = default;
};
NORVO_COM_IID(ICatRegister, IID_ICatRegister);

// The one locale we describe categories in; Linux has no per-user LCID, so
// the user's default locale is English (United States).
LCID GetUserDefaultLCID();

// Writes, in HKEY_CLASSES_ROOT:
//   Component Categories\{CATID}                  value "<lcid in hex>" = description
//   CLSID\{clsid}\Implemented Categories\{CATID}  (key only)
//   CLSID\{clsid}\Required Categories\{CATID}     (key only)
// A key that cannot be written gives E_ACCESSDENIED; LastError() tells why.
class TComponentCategoriesManager final : public ComObject<ICatRegister> {
 public:
  HRESULT RegisterCategories(uint32_t count, CATEGORYINFO* infos) override;
  HRESULT UnRegisterCategories(uint32_t count, CATID* catids) override;
  HRESULT RegisterClassImplCategories(const CLSID& clsid, uint32_t count, CATID* catids) override;
  HRESULT UnRegisterClassImplCategories(const CLSID& clsid, uint32_t count, CATID* catids) override;
  HRESULT RegisterClassReqCategories(const CLSID& clsid, uint32_t count, CATID* catids) override;
  HRESULT UnRegisterClassReqCategories(const CLSID& clsid, uint32_t count, CATID* catids) override;

  const std::string& LastError() const { return lastError_; }

 private:
  HRESULT AddClassKeys(const CLSID& clsid, const char* kind, uint32_t count, const CATID* catids);
  HRESULT RemoveClassKeys(const CLSID& clsid, const char* kind, uint32_t count, const CATID* catids);

  std::string lastError_;
};

// The standard manager, as CoCreateInstance(CLSID_StdComponentCategoriesMgr)
// would give it.
HRESULT CreateComponentCategoriesManager(const IID& iid, void** out);

// What a server browser sees: the CLSIDs whose Implemented Categories hold
// the category, in key order.
std::vector<CLSID> ClassesImplementingCategory(const CATID& catid);
// The category's description in that locale; "" when none is registered.
std::string CategoryDescription(const CATID& catid, LCID lcid);
