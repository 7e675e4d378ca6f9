// Windows-1252 text of the Zelta files against our UTF-8 strings.
#include <gtest/gtest.h>

#include <string>

#include "common/ansi_text.h"

namespace {

TEST(AnsiText, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string utf8 = AnsiToUtf8(all);
  EXPECT_EQ(Utf8ToAnsi(utf8), all);
}

TEST(AnsiText, MapsTheWindowsPageNotLatin1) {
  struct Case {
    const char* ansi;
    const char* utf8;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"\x80", "\xE2\x82\xAC"},       // euro sign
      {"\x96", "\xE2\x80\x93"},       // en dash
      {"\xB0" "C", "\xC2\xB0" "C"},   // degree sign
      {"K\xE4se", "K\xC3\xA4se"},
      {"\x81", "\xC2\x81"},           // undefined in the page: kept as C1 control
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnsiToUtf8(c.ansi), c.utf8) << c.ansi;
    EXPECT_EQ(Utf8ToAnsi(c.utf8), c.ansi) << c.ansi;
  }
}

TEST(AnsiText, UnmappableOrBrokenUtf8BecomesQuestionMarks) {
  EXPECT_EQ(Utf8ToAnsi("snow\xE2\x98\x83man"), "snow?man");  // U+2603 has no byte
  EXPECT_EQ(Utf8ToAnsi("\xF0\x9F\x98\x80"), "?");            // outside the BMP
  EXPECT_EQ(Utf8ToAnsi("a\xC3"), "a?");                      // cut sequence
  EXPECT_EQ(Utf8ToAnsi("\xFF" "b"), "?b");
}

}  // namespace
