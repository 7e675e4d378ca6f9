// Qualities, ageing and the array quality cache.
#include "test_norvo_var_fixture.h"

namespace {

using QualityTest = TagTest;

TEST_F(QualityTest, NeverReadTagFollowsTheQualityOptions) {
  struct Case {
    bool enableBad, enableUncertain;
    uint16_t quality;
  };
  const Case cases[] = {
      {true, true, 0x00},
      {true, false, 0x00},
      {false, true, 0x40},
      {false, false, 0xC0},
  };
  TNorvoVar& tag = Add("v", ntInt);
  for (const Case& c : cases) {
    env.enableBad = c.enableBad;
    env.enableUncertain = c.enableUncertain;
    EXPECT_EQ(tag.GetQuality(), c.quality) << c.enableBad << c.enableUncertain;
  }
  EXPECT_EQ(tag.ValueText(true), "-");
  EXPECT_EQ(tag.ValueText(false), "0");
}

TEST_F(QualityTest, AgeingLowersQualityAtTheTimeouts) {
  struct Case {
    uint32_t uncertainSec, badSec;
    bool enableUncertain, enableBad;
    uint32_t ageMs;
    uint16_t quality;
  };
  const Case cases[] = {
      {5, 10, true, true, 0, 0xC0},
      {5, 10, true, true, 4999, 0xC0},
      {5, 10, true, true, 5000, 0x44},
      {5, 10, true, true, 6000, 0x44},
      {5, 10, true, true, 9999, 0x44},
      {5, 10, true, true, 10000, 0x14},
      {5, 10, true, true, 99999999, 0x14},
      {0, 10, true, true, 0, 0x44},       // timeout 0: every valid value
      {5, 10, true, false, 20000, 0x44},  // BAD off
      {5, 10, false, true, 6000, 0xC0},   // UNCERTAIN off
      {5, 10, false, true, 10000, 0x14},
      {5, 10, false, false, 20000, 0xC0},
      {10, 5, true, true, 7000, 0x14},  // both tests made, BAD wins
  };
  TNorvoVar& tag = Add("v", ntLong);
  env.tick = 0xFFFFF000;  // the tick counter wraps during the larger ages
  tag.UpdateFromPLC(1);
  for (const Case& c : cases) {
    env.uncertainTime = c.uncertainSec;
    env.badTime = c.badSec;
    env.enableUncertain = c.enableUncertain;
    env.enableBad = c.enableBad;
    tag.Age(env.tick + c.ageMs);
    EXPECT_EQ(tag.GetQuality(), c.quality) << "age " << c.ageMs << " unc " << c.uncertainSec;
  }
}

TEST_F(QualityTest, AgeIsCappedAndSkipsSystemTagsAndOrphans) {
  TNorvoVar& tag = Add("v", ntLong);
  env.tick = 100;
  tag.UpdateFromPLC(1);
  tag.Age(100 + 20000000);
  EXPECT_EQ(tag.FAge, 10000000u);
  tag.Age(150);
  EXPECT_EQ(tag.FAge, 50u);

  TNorvoVar system(nullptr, "Clock");
  system.FIsSystem = true;
  TNorvoVar orphan(nullptr, "old");
  orphan.FOrphan = true;
  for (TNorvoVar* t : {&system, &orphan}) {
    t->FAge = 7;
    t->Age(123456);
    EXPECT_EQ(t->FAge, 7u);
  }
}

TEST_F(QualityTest, StateFlagsRankAboveValueQuality) {
  struct Case {
    const char* name;
    bool forced, orphan, nak, system, valid;
    uint16_t quality;
  };
  const Case cases[] = {
      {"override beats orphan", true, true, false, false, true, 0xD8},
      {"override beats NAK", true, false, true, false, true, 0xD8},
      {"orphan", false, true, false, false, true, 0x04},
      {"NAK", false, false, true, false, true, 0x04},
      {"NAK on never-read", false, false, true, false, false, 0x04},
      {"system tag never read", false, false, false, true, false, 0xC0},
      {"system tag with NAK", false, false, true, true, false, 0x04},
  };
  for (const Case& c : cases) {
    TNorvoVar tag(nullptr, "t");
    tag.FVarType = ntInt;
    tag.FForced = c.forced;
    tag.FOrphan = c.orphan;
    tag.FNakError = c.nak;
    tag.FIsSystem = c.system;
    tag.FValid = c.valid;
    tag.FAge = 60000;  // would be 0x14 on age alone
    EXPECT_EQ(tag.GetQuality(), c.quality) << c.name;
  }
}

TEST_F(QualityTest, OperatorOverrideHoldsUntilAReadReplyWithNoWritePending) {
  TNorvoVar& tag = Add("v", ntInt);
  tag.SetByOperator(42);
  EXPECT_EQ(tag.GetQuality(), 0xD8);
  tag.UpdateFromPLC(7);  // read reply while the write is still pending
  EXPECT_EQ(tag.GetQuality(), 0xD8);
  EXPECT_EQ(tag.FValue, 42);
  tag.FWriteRequest = false;  // went into a write frame
  tag.WriteConfirmed();
  EXPECT_EQ(tag.GetQuality(), 0xD8);
  tag.UpdateFromPLC(43);
  EXPECT_EQ(tag.GetQuality(), 0xC0);
  EXPECT_EQ(tag.FValue, 43);
}

TEST_F(QualityTest, ArrayQualityIsRecomputedOncePerSecondButAWorseElementLowersItAtOnce) {
  env.tick = 5000;
  TNorvoVar& arr = AddArray("arr", ntIntArray, ntInt, 3);
  auto el = Elements(arr);
  el[0]->UpdateFromPLC(1);
  el[2]->UpdateFromPLC(3);

  // One element never read: BAD for the array from the first question on.
  EXPECT_EQ(arr.GetQuality(), 0x00);

  el[1]->UpdateFromPLC(2);
  env.tick += 999;
  EXPECT_EQ(arr.GetQuality(), 0x00) << "cached for a second";
  env.tick += 1;
  EXPECT_EQ(arr.GetQuality(), 0xC0);

  // A refused request shows on the array as soon as the element is asked.
  el[2]->FNakError = true;
  env.tick += 10;
  EXPECT_EQ(arr.GetQuality(), 0xC0) << "nobody has looked at the element yet";
  EXPECT_EQ(el[2]->GetQuality(), 0x04);
  EXPECT_EQ(arr.GetQuality(), 0x04);

  // A better element does not raise the cached value early.
  el[2]->UpdateFromPLC(3);
  EXPECT_EQ(el[2]->GetQuality(), 0xC0);
  EXPECT_EQ(arr.GetQuality(), 0x04);
  env.tick += 1000;
  EXPECT_EQ(arr.GetQuality(), 0xC0);
}

TEST_F(QualityTest, ElementsQualityIsTheLowestElement) {
  TNorvoVar& arr = AddArray("arr", ntRealArray, ntReal, 4);
  auto el = Elements(arr);
  for (TNorvoVar* e : el) e->UpdateFromPLC(0);
  el[1]->FAge = 6000;   // 0x44
  el[2]->FAge = 11000;  // 0x14
  el[3]->FForced = true;
  EXPECT_EQ(arr.ElementsQuality(), 0x14);
  el[0]->FValid = false;
  EXPECT_EQ(arr.ElementsQuality(), 0x00);

  TNorvoVar& empty = Add("none", ntBitArray);
  EXPECT_EQ(empty.ElementsQuality(), 0xC0);
}

TEST_F(QualityTest, CannotRefresh) {
  struct Case {
    bool hasOwner, timedOut, permission;
    int noReply;
    bool expected;
  };
  const Case cases[] = {
      {true, false, true, 0, false},  {true, false, true, 1, false}, {true, false, true, 2, true},
      {true, true, true, 0, true},    {true, false, false, 0, true}, {false, false, true, 0, true},
  };
  for (const Case& c : cases) {
    TNorvoVar tag(c.hasOwner ? &plc : nullptr, "t");
    plc.FTimedOut = c.timedOut;
    env.permissionRecent = c.permission;
    tag.FNoReplyCount = c.noReply;
    EXPECT_EQ(tag.CannotRefresh(), c.expected)
        << c.hasOwner << c.timedOut << c.permission << c.noReply;
  }
}

}  // namespace
