#include <gtest/gtest.h>

#include <string>

#include "opc/opc_da.h"
#include "platform/component_categories.h"

namespace {

// Interface IDs are what clients ask for: one wrong digit and a client sees
// E_NOINTERFACE. Compared with the published values.
TEST(OpcDeclarations, InterfaceIdsMatchThePublishedValues) {
  struct Case {
    IID iid;
    const char* text;
  };
  const Case cases[] = {
      {IID_IOPCServer, "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IOPCServerPublicGroups, "{39C13A4E-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IOPCBrowseServerAddressSpace, "{39C13A4F-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IOPCGroupStateMgt, "{39C13A50-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IOPCPublicGroupStateMgt, "{39C13A51-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IOPCSyncIO, "{39C13A52-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IOPCAsyncIO, "{39C13A53-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IOPCItemMgt, "{39C13A54-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IEnumOPCItemAttributes, "{39C13A55-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IOPCDataCallback, "{39C13A70-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IOPCAsyncIO2, "{39C13A71-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IOPCItemProperties, "{39C13A72-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IOPCCommon, "{F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}"},
      {IID_IOPCShutdown, "{F31DFDE1-07B6-11D2-B2D8-0060083BA1FB}"},
      {IID_IConnectionPointContainer, "{B196B284-BAB4-101A-B69C-00AA00341D07}"},
      {IID_IEnumConnectionPoints, "{B196B285-BAB4-101A-B69C-00AA00341D07}"},
      {IID_IConnectionPoint, "{B196B286-BAB4-101A-B69C-00AA00341D07}"},
      {IID_IEnumConnections, "{B196B287-BAB4-101A-B69C-00AA00341D07}"},
      {IID_IEnumUnknown, "{00000100-0000-0000-C000-000000000046}"},
      {IID_IEnumString, "{00000101-0000-0000-C000-000000000046}"},
      {IID_IClassFactory, "{00000001-0000-0000-C000-000000000046}"},
      {IID_IDataObject, "{0000010E-0000-0000-C000-000000000046}"},
      {IID_IAdviseSink, "{0000010F-0000-0000-C000-000000000046}"},
      {IID_ICatRegister, "{0002E012-0000-0000-C000-000000000046}"},
      {CATID_OPCDAServer10, "{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}"},
      {CATID_OPCDAServer20, "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"},
  };
  for (const Case& c : cases) EXPECT_EQ(GuidToString(c.iid), c.text);
}

TEST(GlobalMemory, BlocksLockAndFreeAndFormatsKeepTheirNumbers) {
  const int64_t live = GlobalLiveBlocks();
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 20);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalSize(h), 20u);
  auto* p = static_cast<uint8_t*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[19], 0);
  EXPECT_EQ(GlobalLock(h), p);
  EXPECT_TRUE(GlobalUnlock(h));
  EXPECT_FALSE(GlobalUnlock(h));
  EXPECT_FALSE(GlobalUnlock(h));  // an extra unlock is harmless

  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = h;
  ReleaseStgMedium(&medium);
  EXPECT_EQ(medium.hGlobal, nullptr);
  EXPECT_EQ(GlobalLiveBlocks(), live);

  CLIPFORMAT data = RegisterClipboardFormat(OPCSTMFORMATDATA);
  CLIPFORMAT time = RegisterClipboardFormat(OPCSTMFORMATDATATIME);
  EXPECT_GE(data, 0xC000);
  EXPECT_NE(data, time);
  EXPECT_EQ(RegisterClipboardFormat(OPCSTMFORMATDATA), data);
  EXPECT_EQ(GetClipboardFormatName(time), "OPCSTMFORMATDATATIME");
  EXPECT_EQ(GetClipboardFormatName(1), "");
  EXPECT_EQ(RegisterClipboardFormat(""), 0);
}

}  // namespace
