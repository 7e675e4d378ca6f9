// BSTR allocation and the UTF-8/UTF-16 conversions.
#include <gtest/gtest.h>

#include "platform/variant.h"
#include "test_variant_support.h"

namespace {

class BstrTest : public TaskMemTest {};

TEST_F(BstrTest, AllocationAndLengths) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);

  BSTR s = SysAllocString(u"abc");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(SysStringByteLen(s), 6u);
  EXPECT_EQ(s[3], u'\0');
  SysFreeString(s);

  const char16_t withNul[] = {u'a', 0, u'b'};
  s = SysAllocStringLen(withNul, 3);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(OleView(s), u"a");  // a plain C view stops at the NUL
  EXPECT_EQ(std::u16string_view(s, SysStringLen(s)), std::u16string_view(withNul, 3));
  EXPECT_EQ(BstrToUtf8(s), std::string("a\0b", 3));
  SysFreeString(s);

  s = SysAllocStringLen(nullptr, 4);
  EXPECT_EQ(SysStringLen(s), 4u);
  EXPECT_EQ(s[4], u'\0');
  SysFreeString(s);

  s = SysAllocStringByteLen("xyz", 3);
  EXPECT_EQ(SysStringByteLen(s), 3u);
  EXPECT_EQ(SysStringLen(s), 1u);
  SysFreeString(s);

  s = SysAllocStringLen(u"", 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 0u);
  SysFreeString(s);
}

TEST_F(BstrTest, RefusesImpossibleLengths) {
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST_F(BstrTest, Utf8RoundTrips) {
  for (const std::string& text : {std::string(""), std::string("plain"), std::string("Gr\xC3\xBC\xC3\x9F" "e"),
                                 std::string("\xE2\x82\xAC 5"), std::string("\xF0\x9F\x98\x80 smile"),
                                 std::string("nul\0inside", 10)}) {
    ComBstr b(text);
    ASSERT_NE(b.get(), nullptr);
    EXPECT_EQ(b.Utf8(), text);
  }
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(Utf8ToUtf16("\xC3\xA9"), u"\u00E9");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST_F(BstrTest, InvalidSequencesBecomeReplacementCharacters) {
  struct {
    std::string in;
    std::u16string out;
  } cases[] = {
      {"a\xFFz", u"a\uFFFDz"},
      {"\xC3", u"\uFFFD"},                      // truncated at the end
      {"\xC3z", u"\uFFFDz"},                    // continuation missing
      {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\x80", u"\uFFFD"},
      {"\xE2\x82", u"\uFFFD"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16(c.in), c.out) << c.in.size();

  const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00};
  EXPECT_EQ(Utf16ToUtf8(std::u16string_view(lone, 4)), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  const char16_t highAtEnd[] = {0xD83D};
  EXPECT_EQ(Utf16ToUtf8(std::u16string_view(highAtEnd, 1)), "\xEF\xBF\xBD");
}

TEST_F(BstrTest, TaskAllocatorCountsBlocks) {
  const int64_t start = CoTaskMemLiveBlocks();
  void* zero = CoTaskMemAlloc(0);
  void* other = CoTaskMemAlloc(0);
  ASSERT_NE(zero, nullptr);
  EXPECT_NE(zero, other);
  EXPECT_EQ(CoTaskMemLiveBlocks(), start + 2);
  void* grown = CoTaskMemRealloc(zero, 100);
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(CoTaskMemLiveBlocks(), start + 2);
  EXPECT_EQ(CoTaskMemRealloc(grown, 0), nullptr);  // frees it
  EXPECT_EQ(CoTaskMemLiveBlocks(), start + 1);
  void* fresh = CoTaskMemRealloc(nullptr, 8);
  EXPECT_EQ(CoTaskMemLiveBlocks(), start + 2);
  CoTaskMemFree(fresh);
  CoTaskMemFree(other);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(CoTaskMemLiveBlocks(), start);
}

}  // namespace
