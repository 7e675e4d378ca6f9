#include "platform/adapters.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(Adapters, AddressTextAndBroadcast) {
  EXPECT_EQ(IPv4Text(0x7F000001), "127.0.0.1");
  EXPECT_EQ(IPv4Text(0xC6336405), "198.51.100.5");
  EXPECT_EQ(IPv4Text(0xFFFFFFFF), "255.255.255.255");
  EXPECT_EQ(BroadcastOf(0xC0A80A05, 0xFFFFFF00), 0xC0A80AFFu);
  EXPECT_EQ(BroadcastOf(0x0A010203, 0xFF000000), 0x0AFFFFFFu);
  EXPECT_EQ(BroadcastOf(0x7F000001, 0xFFFFFFFF), 0x7F000001u);
}

TEST(Adapters, SystemListHoldsLoopbackOnceWithItsAddressAndMask) {
  const auto list = TSystemNetworkAdapters().List();
  ASSERT_TRUE(list.has_value());
  const auto lo = std::find_if(list->begin(), list->end(), [](const TNetworkAdapter& a) { return a.Name == "lo"; });
  if (lo == list->end()) GTEST_SKIP() << "no IPv4 loopback interface here";
  EXPECT_EQ(lo->Description, "lo");
  EXPECT_EQ(lo->Address >> 24, 127u);
  EXPECT_EQ(lo->Mask, 0xFF000000u);
  for (const auto& a : *list)
    EXPECT_EQ(std::count_if(list->begin(), list->end(), [&](const TNetworkAdapter& b) { return b.Name == a.Name; }), 1);
}

}  // namespace
