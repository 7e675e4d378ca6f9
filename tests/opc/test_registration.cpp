#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fakes/com_client.h"
#include "opc/opc_da.h"
#include "opc/server_ids.h"
#include "opc/server_registration.h"
#include "opc/type_library.h"
#include "platform/component_categories.h"

namespace {

using com_client::ClassesRootKeyExists;
using com_client::ClassesRootValue;

const std::string kD = "NorvoOPC Data Access Server";
const std::string kC = "{1F966733-DA89-4CCB-BDE3-8AD2B5C4BE90}";
const std::string kA = "{D76DCB67-0DE5-4BA0-9B80-174EC1E36D13}";

struct Value {
  std::string key, name, value;
};

void ExpectValues(const std::vector<Value>& expected) {
  for (const auto& e : expected) EXPECT_EQ(ClassesRootValue(e.key, e.name), e.value) << e.key << " [" << e.name << "]";
}

bool InCategory(const CATID& catid) {
  for (const CLSID& c : ClassesImplementingCategory(catid)) {
    if (c == CLSID_DA2) return true;
  }
  return false;
}

TEST(ServerIds, FixedIdentitiesKeepTheirText) {
  EXPECT_EQ(GuidToString(CLSID_DA2), kC);
  EXPECT_EQ(GuidToString(APPID_NorvoOPC), kA);
  EXPECT_EQ(GuidToString(CLSID_OPCGroup), "{9067FF15-A76E-4900-B61A-4338AD8AC747}");
  EXPECT_EQ(GuidToString(LIBID_ZeltaOPC), "{05B70148-3BAB-42F4-B468-39A8AA94186E}");
  EXPECT_EQ(GuidToString(IID_IDA2), "{7AABB594-2425-42AA-8F9D-3DCF5C8173A7}");
  EXPECT_EQ(GuidToString(DIID_DA2Unknown), "{D6A217C3-1764-47A8-9400-B830D057C921}");
  EXPECT_EQ(GuidToString(IID_IOPCGroup), "{E42E72C6-13FB-4813-B898-DF8BF0E5C0F8}");
}

TEST(RegisterServer, WritesTheProgIdClsidAndAppIdKeysAndBothCategories) {
  com_client::ScopedTempRegistry registry;
  TRegistrationResult r = RegisterServer("ZeltaOPC.DA2", "/opt/norvo/bin/NorvoOPC");
  ASSERT_TRUE(r.ok) << r.error;
  for (HRESULT hr : r.categoryResults) EXPECT_EQ(hr, S_OK);

  ExpectValues({
      {"ZeltaOPC.DA2", "", kD},                                  // 1
      {"ZeltaOPC.DA2\\Clsid", "", kC},                           // 2
      {"ZeltaOPC.DA2\\Clsid", "AppID", kA},                      // 3
      {"CLSID\\" + kC, "", kD},                                  // 5
      {"CLSID\\" + kC, "AppID", kA},                             // 6
      {"CLSID\\" + kC + "\\LocalServer32", "", "/opt/norvo/bin/NorvoOPC"},  // 7
      {"CLSID\\" + kC + "\\ProgID", "", "ZeltaOPC.DA2"},         // 8
      {"AppID\\NorvoOPC", "", kD},                               // 9
      {"AppID\\NorvoOPC", "AppID", kA},
      {"AppID\\" + kA, "", kD},                                  // 10
      {"Component Categories\\{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}", "409", kD},
      {"Component Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}", "409", kD},
  });
  EXPECT_TRUE(ClassesRootKeyExists("ZeltaOPC.DA2\\OPC"));  // 4
  EXPECT_TRUE(InCategory(CATID_OPCDAServer10));
  EXPECT_TRUE(InCategory(CATID_OPCDAServer20));
}

TEST(RegisterServer, PathWithBlanksUnchangedWhileTheFrameworkQuotesIt) {
  com_client::ScopedTempRegistry registry;
  const std::string exe = "/opt/Norvo OPC/NorvoOPC";
  ASSERT_TRUE(RegisterServer("ZeltaOPC.DA2", exe).ok);
  EXPECT_EQ(ClassesRootValue("CLSID\\" + kC + "\\LocalServer32"), exe);
  EXPECT_EQ(ClassesRootValue("AppID\\NorvoOPC", "AppID"), kA);

  TComServer server;
  DeclareServerClasses(server);
  server.SetExecutablePath(exe);
  ASSERT_TRUE(server.RegisterStandardEntries(nullptr));
  EXPECT_EQ(ClassesRootValue("CLSID\\" + kC + "\\LocalServer32"), "\"" + exe + "\"");
  // The framework keeps what the registration added beside its own values.
  EXPECT_EQ(ClassesRootValue("CLSID\\" + kC, "AppID"), kA);
}

TEST(RegisterServer, StopsAtAKeyThatCannotBeWritten) {
  com_client::ScopedTempRegistry registry;
  const std::string blocker = registry.dir() + "/file";
  std::FILE* f = std::fopen(blocker.c_str(), "w");
  ASSERT_TRUE(f);
  std::fclose(f);
  SetRegistryLocation(RegistryLocation::InFolder(blocker + "/reg"));
  TRegistrationResult r = RegisterServer("ZeltaOPC.DA2", "/opt/norvo/bin/NorvoOPC");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("ZeltaOPC.DA2"), std::string::npos) << r.error;
}

TEST(UnregisterServer, LeavesTheCategoriesButKeepsEveryKey) {
  com_client::ScopedTempRegistry registry;
  ASSERT_TRUE(RegisterServer("ZeltaOPC.DA2", "/opt/norvo/bin/NorvoOPC").ok);
  TRegistrationResult r = UnregisterServer("ZeltaOPC.DA2");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(InCategory(CATID_OPCDAServer10));
  EXPECT_FALSE(InCategory(CATID_OPCDAServer20));
  // The category definitions are shared with other servers and stay.
  EXPECT_EQ(CategoryDescription(CATID_OPCDAServer20, 0x409), kD);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID("ZeltaOPC.DA2", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_DA2);
  ExpectValues({{"CLSID\\" + kC, "AppID", kA}, {"AppID\\" + kA, "", kD}});
}

TEST(ServerClasses, FrameworkEntriesOfTheFiveClasses) {
  com_client::ScopedTempRegistry registry;
  TComServer server;
  DeclareServerClasses(server);
  server.SetExecutablePath("/opt/norvo/bin/NorvoOPC");
  TComStartupResult start = server.Startup({"-EMBEDDING"});
  EXPECT_FALSE(start.exitNow);
  EXPECT_TRUE(start.automation);

  const std::string libid = "{05B70148-3BAB-42F4-B468-39A8AA94186E}";
  const std::string group = "{9067FF15-A76E-4900-B61A-4338AD8AC747}";
  ExpectValues({
      {"CLSID\\" + kC, "", kD},
      {"CLSID\\" + kC + "\\LocalServer32", "", "/opt/norvo/bin/NorvoOPC"},
      {"CLSID\\" + kC + "\\ProgID", "", "ZeltaOPC.DA2"},
      {"CLSID\\" + kC + "\\Version", "", "2.0"},
      {"CLSID\\" + kC + "\\TypeLib", "", libid},
      {"ZeltaOPC.DA2\\Clsid", "", kC},
      {"CLSID\\" + group, "", "OPCGroup Object"},
      {"CLSID\\" + group + "\\ProgID", "", "ZeltaOPC.OPCGroup"},
      {"CLSID\\" + group + "\\TypeLib", "", libid},
      {"ZeltaOPC.OPCGroup\\Clsid", "", group},
      {"CLSID\\{00000100-0000-0000-C000-000000000046}\\ProgID", "", "ZeltaOPC.TS3UnknownEnumerator"},
      {"CLSID\\{00000101-0000-0000-C000-000000000046}", "", "NorvoOPC"},
      {"ZeltaOPC.TOPCStringsEnumerator\\Clsid", "", "{00000101-0000-0000-C000-000000000046}"},
      {"CLSID\\{39C13A55-011E-11D0-9675-0020AFD8ADB3}", "", "NorvoOPC"},
      {"ZeltaOPC.TOPCItemAttEnumerator\\Clsid", "", "{39C13A55-011E-11D0-9675-0020AFD8ADB3}"},
      {"TypeLib\\" + libid + "\\2.0", "", "Norvo OPC Server Library"},
      {"Interface\\{7AABB594-2425-42AA-8F9D-3DCF5C8173A7}", "", "IDA2"},
      {"Interface\\{E42E72C6-13FB-4813-B898-DF8BF0E5C0F8}", "", "IOPCGroup"},
  });
  EXPECT_FALSE(ClassesRootKeyExists("CLSID\\{39C13A55-011E-11D0-9675-0020AFD8ADB3}\\Version"));
}

// Stands in for the server object until the real one is supplied.
class TStubServer final : public ComObject<IDA2> {};

TEST(ServerClasses, ActivationOfDA2UsesTheSuppliedFactory) {
  com_client::ScopedTempRegistry registry;
  TComStartupResult start = StartComServer({"-DEBUGLOG"});
  EXPECT_FALSE(start.exitNow);
  EXPECT_FALSE(start.automation);
  TComServer& server = ComServer();

  ComPtr<IUnknown> obj;
  EXPECT_EQ(com_client::Activate(std::string_view(kServerProgID), &obj), CLASS_E_CLASSNOTAVAILABLE);
  int made = 0;
  SetDA2Factory(server, [&](const IID& iid, void** out) {
    ++made;
    return QueryNew(MakeComObject<TStubServer>(), iid, out);
  });
  ASSERT_EQ(com_client::Activate(std::string_view(kServerProgID), &obj), S_OK);
  ComPtr<IDA2> da2 = com_client::Query<IDA2>(obj);
  EXPECT_TRUE(da2);
  EXPECT_EQ(made, 1);
  // Declaring the classes again keeps the factory.
  DeclareServerClasses(server);
  ASSERT_EQ(com_client::Activate(CLSID_DA2, &obj), S_OK);
  EXPECT_EQ(made, 2);
  SetDA2Factory(server, nullptr);
}

}  // namespace
