// The allocation file: grammar, arrays, skipped lines and format errors.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include "model/load_project.h"
#include "test_load_project_support.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

struct ErrorCase {
  const char* title;
  const char* alc;
  const char* message;
};

class AllocationErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(AllocationErrors, RaiseTheirMessageAndLeaveNoRecords) {
  TLoadProject reader;
  ASSERT_EQ(LoadText(reader, ";cpu OLD 1\n0010 M 1 0 0 global int A\n;end\n"), "");
  ASSERT_EQ(reader.FPrograms.size(), 1u);

  EXPECT_EQ(LoadText(reader, GetParam().alc, "##PROJECT_GLOBAL_BEGIN\n[Programs]\nCount=1\n"
                                              "##PROJECT_GLOBAL_END\n"),
            GetParam().message);
  EXPECT_TRUE(reader.FPrograms.empty());
  EXPECT_FALSE(reader.FProjectFileMatched);
}

const ErrorCase kErrors[] = {
    {"addr_before_cpu", ";addr seg count\n;cpu U 1\n;end\n",
     "Zelta allocation file (*.ALC) format old"},
    {"variable_before_cpu", "0010 M 1 0 0 global int A\n;cpu U 1\n;end\n",
     "Missmatched file format in t.alc"},
    {"address_not_hex", ";cpu U 1\n0010 M 1 0 0 global int A\n00G0 M 1 0 0 global int B\n;end\n",
     "Missmatched file format in t.alc"},
    {"address_with_prefix", ";cpu U 1\n$10 M 1 0 0 global int A\n;end\n",
     "Missmatched file format in t.alc"},
    {"address_negative", ";cpu U 1\n-10 M 1 0 0 global int A\n;end\n",
     "Missmatched file format in t.alc"},
    {"address_over_32_bits", ";cpu U 1\n80000000 M 1 0 0 global int A\n;end\n",
     "Missmatched file format in t.alc"},
    {"lone_address_token", ";cpu U 1\nhello\n;end\n", "Missmatched file format in t.alc"},
    {"count_zero", ";cpu U 1\n0010 M 0 0 0 global int A\n;end\n",
     "Missmatched file format in t.alc (Array column)"},
    {"count_negative", ";cpu U 1\n0010 M -2 0 0 global int A\n;end\n",
     "Missmatched file format in t.alc (Array column)"},
    {"count_text", ";cpu U 1\n0010 M x 0 0 global int A\n;end\n",
     "Missmatched file format in t.alc (Array column)"},
    // Would ask for billions of records from one short line.
    {"count_huge", ";cpu U 1\n0010 M 2000000000 0 1 global bit A\n;end\n",
     "Missmatched file format in t.alc (Array column)"},
};

INSTANTIATE_TEST_SUITE_P(Alc, AllocationErrors, ::testing::ValuesIn(kErrors),
                         [](const auto& info) { return std::string(info.param.title); });

struct ParseCase {
  const char* title;
  const char* alc;
  std::vector<std::string> records;  // of the first program
};

class AllocationLines : public ::testing::TestWithParam<ParseCase> {};

TEST_P(AllocationLines, YieldTheirRecords) {
  TLoadProject reader;
  ASSERT_EQ(LoadText(reader, GetParam().alc), "");
  ASSERT_FALSE(reader.FPrograms.empty());
  EXPECT_THAT(Describe(*reader.FPrograms[0]), ElementsAreArray(GetParam().records));
}

const ParseCase kLines[] = {
    {"every_plain_type",
     ";cpu U 1\n0001 M 1 0 0 global bit B\n0002 M 1 0 0 global word W\n"
     "0004 M 1 0 0 global int I\n0006 M 1 0 0 global long L\n000A M 1 0 0 global real R\n;end\n",
     {"B@1:1", "W@2:2", "I@4:3", "L@6:4", "R@10:5"}},
    {"offset_added_to_plain", ";cpu U 1\n00ff M 1 3 9 global int V\n;end\n", {"V@258:3"}},
    {"int_array_with_suffix", ";cpu U 1\n0010 x 3 2 4 global int arr.x comment text\n;end\n",
     {"arr@16:8*", "arr[0].x@18:3^arr", "arr[1].x@22:3^arr", "arr[2].x@26:3^arr"}},
    {"bit_array", ";cpu U 1\n0020 M 2 0 1 global bit F\n;end\n",
     {"F@32:7*", "F[0]@32:1^F", "F[1]@33:1^F"}},
    {"long_array", ";cpu U 1\n0020 M 2 0 4 global long C.a.b\n;end\n",
     {"C@32:9*", "C[0].a.b@32:4^C", "C[1].a.b@36:4^C"}},
    {"real_array", ";cpu U 1\n0020 M 2 1 4 global real S\n;end\n",
     {"S@32:10*", "S[0]@33:5^S", "S[1]@37:5^S"}},
    {"word_array_has_no_head", ";cpu U 1\n0020 M 2 0 2 global word D\n;end\n",
     {"D[0]@32:2", "D[1]@34:2"}},
    {"skipped_columns",
     ";cpu U 1\n0010 M 1 0 0 global Int A\n0010 M 1 0 0 LOCAL int B\n0010 M 1 0 0 Reg int C\n"
     "0010 M 1 -1 0 global int D\n0010 M 1 x 0 global int E\n0010 M 1 0 x global int F\n"
     "0010 M 1 0 0 global int\n0010 M 1 0 0 global int G\n;end\n",
     {"G@16:3"}},
    {"any_other_scope_accepted", ";cpu U 1\n0010 M 1 0 0 retain int A\n;end\n", {"A@16:3"}},
    // An address the record cannot hold drops the line instead of wrapping.
    {"address_overflow_skipped",
     ";cpu U 1\n7FFFFFFF M 1 1 0 global int A\n0010 M 3 0 -16 global int B\n;end\n", {}},
    {"second_address_0_skipped",
     ";cpu U 1\n0000 M 1 0 0 global int A\n0000 M 1 0 0 global int B\n0002 M 1 0 0 global int C\n"
     ";end\n",
     {"A@0:3", "C@2:3"}},
    // The first address-0 line takes the mark even when it yields nothing.
    {"address_0_mark_taken_by_skipped_line",
     ";cpu U 1\n0000 M 1 0 0 local int A\n0000 M 1 0 0 global int B\n;end\n", {}},
    {"cpu_without_unit_keeps_section",
     ";cpu U 1\n0000 M 1 0 0 global int A\n;cpu\n0000 M 1 0 0 global int B\n"
     "0004 M 1 0 0 global int C\n;end\n",
     {"A@0:3", "C@4:3"}},
    {"blank_and_header_lines",
     "\n   \n;cpu U 1\n;ADDR anything\n\t\n0004 M 1 0 0 global int A\n;end\n", {"A@4:3"}},
    {"only_variable_is_last_line", ";cpu U 1\n0004 M 1 0 0 global int A", {}},
    {"only_variable_is_last_line_with_break", ";cpu U 1\n0004 M 1 0 0 global int A\n", {}},
};

INSTANTIATE_TEST_SUITE_P(Alc, AllocationLines, ::testing::ValuesIn(kLines),
                         [](const auto& info) { return std::string(info.param.title); });

TEST(LoadProjectAlc, SectionsCarryUnitsNADsAndTheirOwnAddress0Mark) {
  TLoadProject reader;
  ASSERT_EQ(LoadText(reader,
                     ";cpu Unit1 1 2 x 0 -3 +4\n0000 M 1 0 0 global int A\n"
                     ";CPU Unit2\n0000 M 1 0 0 global int B\n0000 M 1 0 0 global int C\n;end\n"),
            "");
  ASSERT_EQ(reader.FPrograms.size(), 2u);
  EXPECT_EQ(reader.FPrograms[0]->FUnitName, "Unit1");
  EXPECT_THAT(reader.FPrograms[0]->FNADs, ElementsAre(1, 2, 4));
  EXPECT_EQ(reader.FPrograms[1]->FUnitName, "Unit2");
  EXPECT_THAT(reader.FPrograms[1]->FNADs, IsEmpty());
  EXPECT_THAT(Describe(*reader.FPrograms[1]), ElementsAre("B@0:3"));
}

TEST(LoadProjectAlc, LineEndsAndCommentsDoNotChangeTheRecords) {
  const std::string lf = ";cpu U 1\n0010 M 2 0 2 global int  Temp   Zone  temperature \t\n;end";
  for (const std::string& text :
       {lf, std::string(";cpu U 1\r\n0010 M 2 0 2 global int  Temp   Zone  temperature \t\r\n;end\r\n"),
        std::string(";cpu U 1\r0010 M 2 0 2 global int  Temp   Zone  temperature \t\r;end")}) {
    TLoadProject reader;
    ASSERT_EQ(LoadText(reader, text), "");
    ASSERT_EQ(reader.FPrograms.size(), 1u);
    const auto& vars = reader.FPrograms[0]->FVars;
    ASSERT_EQ(vars.size(), 3u);
    for (const auto& v : vars) EXPECT_EQ(v->FDescription, "Zone  temperature");
    EXPECT_EQ(vars[2]->FName, "Temp[1]");
  }
}

TEST(LoadProjectAlc, Windows1252TextBecomesUtf8) {
  TLoadProject reader;
  ASSERT_EQ(LoadText(reader, ";cpu K\xE4se 1\n0010 M 1 0 0 global real T\xFC Temperatur in \xB0" "C\n;end\n"),
            "");
  EXPECT_EQ(reader.FPrograms[0]->FUnitName, "K\xC3\xA4se");
  EXPECT_EQ(reader.FPrograms[0]->FVars[0]->FName, "T\xC3\xBC");
  EXPECT_EQ(reader.FPrograms[0]->FVars[0]->FDescription, "Temperatur in \xC2\xB0" "C");
}

TEST(LoadProjectAlc, TokenizerSeparatesOnSpacesOnly) {
  struct Case {
    std::string line;
    std::vector<std::string> tokens;
  };
  const Case cases[] = {
      {"a  b c", {"a", "b", "c"}},
      {":x y", {":", "x", "y"}},         // a leading colon stands alone
      {"a:b c", {"a:b", "c"}},
      {"a\tb c", {"a\tb", "c"}},         // a tab belongs to the token
      {"\x01" "a\x02 b", {"a", "b"}},    // control characters are trimmed
      {"a   ", {"a"}},
      {"", {}},
      {std::string("a\0b c", 5), {std::string("a\0b", 3), "c"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    int pos = 0;
    std::string_view tok;
    while (TLoadProject::NextToken(pos, c.line, tok)) got.emplace_back(tok);
    EXPECT_EQ(got, c.tokens) << c.line;
  }
}

TEST(LoadProjectAlc, TypeWordsAreExact) {
  EXPECT_EQ(TypeCodeOfWord("bit"), 1);
  EXPECT_EQ(TypeCodeOfWord("word"), 2);
  EXPECT_EQ(TypeCodeOfWord("int"), 3);
  EXPECT_EQ(TypeCodeOfWord("long"), 4);
  EXPECT_EQ(TypeCodeOfWord("real"), 5);
  EXPECT_EQ(TypeCodeOfWord("Int"), 0);
  EXPECT_EQ(TypeCodeOfWord("string"), 0);
}

TEST(LoadProjectAlc, FindVarIgnoresCaseAndTakesTheLastMatch) {
  TLoadProject reader;
  ASSERT_EQ(LoadText(reader, ";cpu U 1\n0002 M 1 0 0 global int Speed\n"
                             "0004 M 1 0 0 global long SPEED\n;end\n"),
            "");
  const TLoadedNorvo& p = *reader.FPrograms[0];
  ASSERT_NE(p.FindVar("speed"), nullptr);
  EXPECT_EQ(p.FindVar("speed")->FAddress, 4);
  EXPECT_EQ(p.FindVar("spee"), nullptr);
}

}  // namespace
