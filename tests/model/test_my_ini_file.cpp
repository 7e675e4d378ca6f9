// INI lookups over blocks of a project file.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/my_ini_file.h"

namespace {

const std::vector<std::string_view> kLines = {
    "Top=outside",     "[Net]",         "MasterNAD=5",   "Count = 2",     "Count=3",
    "noequals",        "count=4",       "Path=a=b ",     "Empty=",        "",
    "After=gap",       "[ net ]",       "Other=1",       "[NET]",         "MasterNAD=9",
    "[Program]x",      "[Program]",     "Name= Line 1 ", "[Last]",        "Value=-12",
};

TEST(MyIniFile, LookupsFollowTheFileNotTheirGuesses) {
  const TMyIniFile ini(&kLines);
  struct Case {
    const char* section;
    const char* key;
    const char* expected;  // nullptr: not found
  };
  const Case cases[] = {
      {"Net", "MasterNAD", "5"},     // the first of two sections of a name
      {" net ", "masternad", "5"},   // the name is trimmed, case ignored
      {"Net", "Count", "3"},         // "Count " is another key
      {"Net", "Count ", " 2"},
      {"Net", "Path", "a=b "},       // value after the first "=", untrimmed
      {"Net", "Empty", ""},
      {"Net", "After", nullptr},     // an empty line ends the section
      {"Net", "noequals", nullptr},
      {"Net", "Other", nullptr},     // the next section ends it too
      {"Net", "Top", nullptr},
      {"Program", "Name", " Line 1 "},
      {"Programs", "Name", nullptr},
      {"Last", "Value", "-12"},
      {"", "Top", nullptr},
  };
  for (const Case& c : cases) {
    std::string_view value;
    const bool found = ini.FindKey(c.section, c.key, value);
    EXPECT_EQ(found, c.expected != nullptr) << c.section << "/" << c.key;
    if (found && c.expected != nullptr) {
      EXPECT_EQ(value, c.expected) << c.section << "/" << c.key;
    }
  }
  int index = -1;
  EXPECT_TRUE(ini.FindSection("program", index));
  EXPECT_EQ(index, 17);
  EXPECT_FALSE(ini.FindSection(" net  x", index));
}

TEST(MyIniFile, ReadersFallBackToTheirDefaults) {
  const TMyIniFile ini(&kLines);
  EXPECT_EQ(ini.ReadString("Program", "Name", "d"), " Line 1 ");
  EXPECT_EQ(ini.ReadString("Program", "Missing", "d"), "d");
  EXPECT_EQ(ini.ReadInteger("Net", "MasterNAD", -1), 5);
  EXPECT_EQ(ini.ReadInteger("Last", "Value", 0), -12);
  EXPECT_EQ(ini.ReadInteger("Net", "Path", -1), -1);
  EXPECT_EQ(ini.ReadInteger("Net", "Empty", 7), 7);
  EXPECT_EQ(ini.ReadInteger("Nowhere", "Value", -100000), -100000);

  const TMyIniFile none(static_cast<const std::vector<std::string>*>(nullptr));
  EXPECT_EQ(none.ReadInteger("Net", "MasterNAD", -1), -1);
  EXPECT_EQ(none.ReadString("Net", "MasterNAD", "x"), "x");
}

TEST(MyIniFile, IntegerTextMustBeWholeAndInRange) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  };
  const Case cases[] = {{"42", true, 42},         {"  +7", true, 7},      {"-2147483648", true, INT32_MIN},
                        {"2147483647", true, INT32_MAX}, {"2147483648", false, 0}, {"12 ", false, 0},
                        {"1x", false, 0},         {"", false, 0},         {"-", false, 0},
                        {"0x10", false, 0}};
  for (const Case& c : cases) {
    int v = 0;
    EXPECT_EQ(TMyIniFile::TryStrToInt(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

}  // namespace
