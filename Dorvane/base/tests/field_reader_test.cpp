#include "base/field_reader.h"

#include <gtest/gtest.h>

namespace dorvane {
namespace {

struct FieldCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> fields;
};

TEST(ReadFields, SplitsLinesAndCommasLikeASequentialFile) {
  const FieldCase cases[] = {
      {"empty file", "", {}},
      {"last line without end", "a\r\nb", {"a", "b"}},
      {"LF and CR LF ends", "a\nb\r\n", {"a", "b"}},
      {"empty line is an empty field", "a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"comma splits", "SmtpServer a.example,b.example\r\n", {"SmtpServer a.example", "b.example"}},
      {"comma at line end opens an empty field", "a,\r\nb", {"a", "", "b"}},
      {"leading blanks skipped, inner tabs kept", " \t Key\tvalue \r\n", {"Key\tvalue "}},
      {"quoted field keeps its comma", "\"a, b\"\r\n", {"a, b"}},
      {"text after the closing quote dropped", "\"a\" tail,c\r\n", {"a", "c"}},
      {"quote inside a field is kept", "x=\"y\",z", {"x=\"y\"", "z"}},
      {"unclosed quote ends at its line", "\"open\r\nnext\r\n", {"open", "next"}},
      {"lone CR belongs to the field", "a\rb\r\n", {"a\rb"}},
  };
  for (const FieldCase& c : cases) EXPECT_EQ(ReadFields(c.bytes), c.fields) << c.name;
}

TEST(ReplaceAll, ReplacesEveryOccurrenceWithoutRescanning) {
  EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceAll("x.y.z", ".", ".."), "x..y..z");
  EXPECT_EQ(ReplaceAll("abc", "", "z"), "abc");
}

TEST(TrimSpaces, StripsOnlySpaces) {
  EXPECT_EQ(TrimSpaces("  a b  "), "a b");
  EXPECT_EQ(TrimSpaces("\ta\t"), "\ta\t");
  EXPECT_EQ(TrimSpaces("   "), "");
}

}  // namespace
}  // namespace dorvane
