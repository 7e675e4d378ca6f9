#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fakes/com_client.h"
#include "platform/com_enum.h"
#include "platform/com_server.h"
#include "platform/component_categories.h"

namespace {

using com_client::ClassesRootKeyExists;
using com_client::ClassesRootValue;

constexpr CLSID CLSID_Widget{0x33333333, 0x4444, 0x5555, {6, 6, 6, 6, 6, 6, 6, 1}};
constexpr CLSID CLSID_Gadget{0x33333333, 0x4444, 0x5555, {6, 6, 6, 6, 6, 6, 6, 2}};
constexpr GUID LIBID_Toys{0x33333333, 0x4444, 0x5555, {6, 6, 6, 6, 6, 6, 6, 3}};
constexpr IID IID_IWidget{0x33333333, 0x4444, 0x5555, {6, 6, 6, 6, 6, 6, 6, 4}};

// Any COM object will do as the product; an empty string enumerator is small.
class TWidget final : public ComObject<IEnumString> {
 public:
  HRESULT Next(uint32_t, OLECHAR**, uint32_t* fetched) override {
    if (fetched) *fetched = 0;
    return S_FALSE;
  }
  HRESULT Skip(uint32_t) override { return S_FALSE; }
  HRESULT Reset() override { return S_OK; }
  HRESULT Clone(IEnumString**) override { return E_NOTIMPL; }
};

TTypeLibraryInfo ToyLibrary() {
  TTypeLibraryInfo lib;
  lib.name = "Toys";
  lib.libid = LIBID_Toys;
  lib.majorVersion = 2;
  lib.lcid = 0x409;
  lib.helpString = "Toy Library";
  lib.members = {{TTypeLibraryMember::Kind::DualInterface, "IWidget", IID_IWidget, "", {}},
                 {TTypeLibraryMember::Kind::CoClass, "Widget", CLSID_Widget, "", {"IWidget"}}};
  return lib;
}

void DeclareToys(TComServer& server) {
  server.SetTypeLibrary(ToyLibrary());
  server.SetExecutablePath("/opt/toys/bin/toyserver");
  server.AddClass({CLSID_Widget, "Widget", "Toy Widget", ThreadingModel::Apartment, ComInstancing::MultiInstance,
                   true, [](const IID& iid, void** out) { return QueryNew(MakeComObject<TWidget>(), iid, out); }});
  server.AddClass({CLSID_Gadget, "", "Toy Gadget", ThreadingModel::Apartment, ComInstancing::MultiInstance, false,
                   nullptr});
}

class ComServerTest : public ::testing::Test {
 protected:
  void SetUp() override { DeclareToys(server); }
  com_client::ScopedTempRegistry registry;
  TComServer server;
};

TEST_F(ComServerTest, ActivatesByClsid) {
  ComPtr<IEnumString> e;
  ASSERT_EQ(server.CreateInstance(CLSID_Widget, IID_IEnumString, e.put_void()), S_OK);
  EXPECT_EQ(com_client::RefCount(e.get()), 1u);

  ComPtr<IEnumUnknown> wrong;
  EXPECT_EQ(server.CreateInstance(CLSID_Widget, IID_IEnumUnknown, wrong.put_void()), E_NOINTERFACE);
  EXPECT_EQ(server.CreateInstance(CLSID_Gadget, IID_IUnknown, wrong.put_void()), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(server.CreateInstance(LIBID_Toys, IID_IUnknown, wrong.put_void()), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(wrong);

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(server.GetClassObject(CLSID_Widget, IID_IClassFactory, factory.put_void()), S_OK);
  ComPtr<IUnknown> made;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, made.put_void()), S_OK);

  // A later layer supplies the missing factory.
  EXPECT_TRUE(server.SetCreator(CLSID_Gadget, [](const IID& iid, void** out) {
    return QueryNew(MakeComObject<TWidget>(), iid, out);
  }));
  EXPECT_EQ(server.CreateInstance(CLSID_Gadget, IID_IUnknown, made.put_void()), S_OK);
  EXPECT_FALSE(server.SetCreator(LIBID_Toys, nullptr));
}

TEST_F(ComServerTest, WritesTheStandardEntries) {
  std::string error;
  ASSERT_TRUE(server.RegisterStandardEntries(&error)) << error;
  const std::string w = "CLSID\\{33333333-4444-5555-0606-060606060601}";
  const std::string g = "CLSID\\{33333333-4444-5555-0606-060606060602}";
  const std::string lib = "{33333333-4444-5555-0606-060606060603}";
  struct Expect {
    std::string key, name, value;
  };
  const std::vector<Expect> expected = {
      {w, "", "Toy Widget"},
      {w + "\\LocalServer32", "", "/opt/toys/bin/toyserver"},
      {w + "\\ProgID", "", "Toys.Widget"},
      {w + "\\Version", "", "2.0"},
      {w + "\\TypeLib", "", lib},
      {"Toys.Widget", "", "Toy Widget"},
      {"Toys.Widget\\Clsid", "", "{33333333-4444-5555-0606-060606060601}"},
      {g, "", "Toy Gadget"},
      {g + "\\LocalServer32", "", "/opt/toys/bin/toyserver"},
      {"TypeLib\\" + lib + "\\2.0", "", "Toy Library"},
      {"TypeLib\\" + lib + "\\2.0\\409\\linux64", "", "/opt/toys/bin/toyserver"},
      {"Interface\\{33333333-4444-5555-0606-060606060604}", "", "IWidget"},
      {"Interface\\{33333333-4444-5555-0606-060606060604}\\TypeLib", "Version", "2.0"},
  };
  for (const auto& e : expected) EXPECT_EQ(ClassesRootValue(e.key, e.name), e.value) << e.key;
  // Without a name a class gets no ProgID; without type info no Version.
  EXPECT_FALSE(ClassesRootKeyExists(g + "\\ProgID"));
  EXPECT_FALSE(ClassesRootKeyExists(g + "\\Version"));

  ASSERT_TRUE(server.UnregisterStandardEntries(&error)) << error;
  for (const char* gone : {"CLSID\\{33333333-4444-5555-0606-060606060601}", "Toys.Widget",
                           "TypeLib\\{33333333-4444-5555-0606-060606060603}",
                           "Interface\\{33333333-4444-5555-0606-060606060604}"}) {
    EXPECT_FALSE(ClassesRootKeyExists(gone)) << gone;
  }
}

TEST_F(ComServerTest, QuotesAServerPathWithBlanks) {
  server.SetExecutablePath("/opt/toy box/toyserver");
  ASSERT_TRUE(server.RegisterStandardEntries(nullptr));
  EXPECT_EQ(ClassesRootValue("CLSID\\{33333333-4444-5555-0606-060606060601}\\LocalServer32"),
            "\"/opt/toy box/toyserver\"");
}

TEST_F(ComServerTest, ResolvesProgIDsThroughTheRegistry) {
  ASSERT_TRUE(server.RegisterStandardEntries(nullptr));
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID("Toys.Widget", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_Widget);
  EXPECT_EQ(CLSIDFromProgID("toys.nothing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(clsid, GUID_NULL);
  EXPECT_EQ(CLSIDFromProgID("", &clsid), CO_E_CLASSSTRING);

  // A damaged Clsid value is refused, not half-parsed.
  {
    TRegistry reg(RegRoot::ClassesRoot);
    ASSERT_TRUE(reg.OpenKey("Broken.Widget\\Clsid", true));
    ASSERT_TRUE(reg.WriteString("", "{not-a-guid}"));
  }
  EXPECT_EQ(CLSIDFromProgID("Broken.Widget", &clsid), CO_E_CLASSSTRING);

  // Activation through the process's framework.
  DeclareToys(ComServer());
  ComPtr<IEnumString> e;
  EXPECT_EQ(com_client::Activate("Toys.Widget", &e), S_OK);
  EXPECT_TRUE(e);
  EXPECT_EQ(com_client::Activate("Toys.Nothing", &e), CO_E_CLASSSTRING);
  EXPECT_FALSE(e);
  ComServer().RemoveClass(CLSID_Widget);
  ComServer().RemoveClass(CLSID_Gadget);
  ComServer().SetTypeLibrary({});
}

TEST(CommandLineSwitch, MatchesDashOrSlashInAnyCase) {
  struct Case {
    const char* arg;
    bool match;
  };
  for (const Case& c : {Case{"-REGSERVER", true}, Case{"/regserver", true}, Case{"-RegServer", true},
                        Case{"REGSERVER", false}, Case{"--REGSERVER", false}, Case{"-REGSERVERX", false},
                        Case{"-", false}, Case{"", false}}) {
    EXPECT_EQ(IsCommandLineSwitch(c.arg, "REGSERVER"), c.match) << c.arg;
  }
}

TEST_F(ComServerTest, StartupHandlesTheRegistrationSwitches) {
  const std::string key = "CLSID\\{33333333-4444-5555-0606-060606060601}";
  struct Case {
    std::vector<std::string> args;
    bool exitNow, automation, keyAfter;
  };
  const std::vector<Case> cases = {
      {{"/regserver"}, true, false, true},
      {{"-UNREGSERVER", "-REGSERVER"}, true, false, false},
      {{"-Embedding"}, false, true, true},
      {{"-DEBUGLOG", "/automation"}, false, true, true},
      {{"-REGISTER"}, false, false, true},
  };
  for (const auto& c : cases) {
    TComServer s;
    DeclareToys(s);
    TComStartupResult r = s.Startup(c.args);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exitNow, c.exitNow) << c.args[0];
    EXPECT_EQ(r.automation, c.automation) << c.args[0];
    EXPECT_EQ(ClassesRootKeyExists(key), c.keyAfter) << c.args[0];
  }
}

TEST(ComServerStartup, RegistryFailureIsReportedOnlyForRegServer) {
  // A registry folder below a regular file cannot be created by anyone.
  com_client::ScopedTempRegistry registry;
  const std::string blocker = registry.dir() + "/file";
  { std::FILE* f = std::fopen(blocker.c_str(), "w"); ASSERT_TRUE(f); std::fclose(f); }
  SetRegistryLocation(RegistryLocation::InFolder(blocker + "/reg"));

  TComServer s;
  DeclareToys(s);
  TComStartupResult plain = s.Startup({});
  EXPECT_TRUE(plain.ok);
  EXPECT_FALSE(plain.exitNow);
  TComStartupResult reg = s.Startup({"-REGSERVER"});
  EXPECT_FALSE(reg.ok);
  EXPECT_TRUE(reg.exitNow);
  EXPECT_NE(reg.error.find("HKEY_CLASSES_ROOT"), std::string::npos) << reg.error;
}

TEST_F(ComServerTest, AutomationModeQuitsAfterTheLastRelease) {
  ASSERT_EQ(ComLiveObjects(), 0);
  int quits = 0;
  {
    TComServer s;
    DeclareToys(s);
    s.SetQuitHandler([&] { ++quits; });
    ASSERT_TRUE(s.Startup({"-EMBEDDING"}).automation);
    ComPtr<IUnknown> a, b;
    ASSERT_EQ(s.CreateInstance(CLSID_Widget, IID_IUnknown, a.put_void()), S_OK);
    ASSERT_EQ(s.CreateInstance(CLSID_Widget, IID_IUnknown, b.put_void()), S_OK);
    a = nullptr;
    EXPECT_EQ(quits, 0);
    b = nullptr;
    EXPECT_EQ(quits, 1);
  }
  // A plain start never quits on its own.
  TComServer plain;
  DeclareToys(plain);
  plain.SetQuitHandler([&] { ++quits; });
  plain.Startup({});
  ComPtr<IUnknown> c;
  ASSERT_EQ(plain.CreateInstance(CLSID_Widget, IID_IUnknown, c.put_void()), S_OK);
  c = nullptr;
  EXPECT_EQ(quits, 1);
}

TEST(ComponentCategories, WritesCategoriesAndMemberships) {
  com_client::ScopedTempRegistry registry;
  ComPtr<ICatRegister> cats;
  ASSERT_EQ(CreateComponentCategoriesManager(IID_ICatRegister, cats.put_void()), S_OK);
  const CATID cat{0x63D5F430, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};

  CATEGORYINFO info{};
  info.catid = cat;
  info.lcid = 0x409;
  for (auto& ch : info.szDescription) ch = u'x';  // no terminator: must stop at 127
  ASSERT_EQ(cats->RegisterCategories(1, &info), S_OK);
  EXPECT_EQ(ClassesRootValue("Component Categories\\{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}", "409"),
            std::string(127, 'x'));
  EXPECT_EQ(cats->RegisterCategories(1, nullptr), E_POINTER);

  CATID ids[] = {cat};
  ASSERT_EQ(cats->RegisterClassImplCategories(CLSID_Widget, 1, ids), S_OK);
  ASSERT_EQ(cats->RegisterClassImplCategories(CLSID_Gadget, 1, ids), S_OK);
  EXPECT_TRUE(ClassesRootKeyExists(
      "CLSID\\{33333333-4444-5555-0606-060606060601}\\Implemented Categories\\{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}"));
  EXPECT_EQ(ClassesImplementingCategory(cat), (std::vector<CLSID>{CLSID_Widget, CLSID_Gadget}));

  ASSERT_EQ(cats->UnRegisterClassImplCategories(CLSID_Widget, 1, ids), S_OK);
  EXPECT_EQ(ClassesImplementingCategory(cat), std::vector<CLSID>{CLSID_Gadget});
  EXPECT_FALSE(ClassesRootKeyExists("CLSID\\{33333333-4444-5555-0606-060606060601}\\Implemented Categories"));
  EXPECT_TRUE(ClassesRootKeyExists("CLSID\\{33333333-4444-5555-0606-060606060601}"));
  // Removing what is not there is fine.
  EXPECT_EQ(cats->UnRegisterClassImplCategories(CLSID_Widget, 1, ids), S_OK);

  ASSERT_EQ(cats->UnRegisterCategories(1, ids), S_OK);
  EXPECT_EQ(CategoryDescription(cat, 0x409), "");
}

}  // namespace
