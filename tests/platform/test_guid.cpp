#include <gtest/gtest.h>

#include "platform/guid.h"

TEST(Guid, ParsesAndFormatsTheBracedForm) {
  auto g = ParseGuid("{39c13a4d-011e-11d0-9675-0020afd8adb3}");
  ASSERT_TRUE(g);
  EXPECT_EQ(g->Data1, 0x39C13A4Du);
  EXPECT_EQ(g->Data2, 0x011E);
  EXPECT_EQ(g->Data3, 0x11D0);
  EXPECT_EQ(g->Data4[0], 0x96);
  EXPECT_EQ(g->Data4[7], 0xB3);
  EXPECT_EQ(GuidToString(*g), "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}");
  EXPECT_EQ(ParseGuid("39C13A4D-011E-11D0-9675-0020AFD8ADB3"), g);
}

TEST(Guid, RejectsMalformedText) {
  for (const char* bad : {"", "{}", "{39C13A4D-011E-11D0-9675-0020AFD8ADB}", "{39C13A4D-011E-11D0-9675-0020AFD8ADBZ}",
                          "{39C13A4D+011E-11D0-9675-0020AFD8ADB3}", "(39C13A4D-011E-11D0-9675-0020AFD8ADB3)"}) {
    EXPECT_FALSE(ParseGuid(bad)) << bad;
  }
}
