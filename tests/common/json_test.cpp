#include "json.h"
#include "utf8.h"

#include <fast_float/fast_float.h>
#include <gtest/gtest.h>

#include <system_error>
#include <cmath>
#include <limits>

namespace halvic {
namespace {

std::string text(const JsonValue& v) {
  auto s = serializeJson(v);
  EXPECT_TRUE(s.has_value());
  return s.value_or("<failed>");
}

struct EscapeCase {
  std::string input;
  std::string expected;  // the JSON string literal, quotes included
};

class JsonStringEscapes : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonStringEscapes, WritesTheExpectedLiteral) {
  EXPECT_EQ(text(JsonValue(GetParam().input)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Writer, JsonStringEscapes,
    ::testing::Values(
        EscapeCase{"", R"("")"},
        EscapeCase{"/tmp/a.png", R"("\/tmp\/a.png")"},
        EscapeCase{"say \"hi\"", R"("say \"hi\"")"},
        EscapeCase{"C:\\dir", R"("C:\\dir")"},
        EscapeCase{"a\nb\tc\rd\be\ff", R"("a\nb\tc\rd\be\ff")"},
        EscapeCase{std::string("nul\0x", 5), R"("nul\u0000x")"},
        EscapeCase{"\x01\x1f\x7f", "\"\\u0001\\u001f\x7f\""},
        EscapeCase{"Çalışma ığüşöç ĞÜŞİÖÇ", "\"Çalışma ığüşöç ĞÜŞİÖÇ\""},
        EscapeCase{"emoji 😀 and U+2028 \u2028", "\"emoji 😀 and U+2028 \u2028\""}));

TEST(JsonWriter, ObjectIsCompactAndKeepsInsertionOrder) {
  JsonObject bounds{{"x", 10.5}, {"y", -4.0}, {"width", 300.0}, {"height", 200.0}};
  JsonObject result{{"ok", true}, {"z_first", "a"}, {"bounds", bounds}, {"a_last", false}};
  EXPECT_EQ(text(result),
            R"({"ok":true,"z_first":"a","bounds":{"x":10.5,"y":-4,"width":300,"height":200},"a_last":false})");
  EXPECT_EQ(text(JsonObject{{"ok", true}}), R"({"ok":true})");
  EXPECT_EQ(text(JsonObject{}), "{}");
}

TEST(JsonWriter, SettingAnExistingKeyReplacesItInPlace) {
  JsonObject o{{"a", 1}, {"b", 2}};
  o.set("a", "again");
  EXPECT_EQ(text(o), R"({"a":"again","b":2})");
}

TEST(JsonWriter, ArraysOfObjectsKeepListOrder) {
  JsonArray events{JsonObject{{"start_ts", std::int64_t{-1}}}, JsonObject{{"start_ts", std::int64_t{0}}}};
  EXPECT_EQ(text(JsonObject{{"ok", true}, {"events", events}}), R"({"ok":true,"events":[{"start_ts":-1},{"start_ts":0}]})");
  EXPECT_EQ(text(JsonObject{{"events", JsonArray{}}}), R"({"events":[]})");
}

TEST(JsonWriter, IntegersAreExactDecimal) {
  EXPECT_EQ(text(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(text(std::numeric_limits<std::int64_t>::max()), "9223372036854775807");
  EXPECT_EQ(text(0), "0");
}

TEST(JsonWriter, DoublesReadBackAsTheSameDouble) {
  const double values[] = {0.0,   -0.0,    0.1,      1.0 / 3.0, 1e300, -1e-300, 5e-324,
                           1e21,  123456789.125, 2560.0, -1.5,  std::numeric_limits<double>::max()};
  for (double d : values) {
    std::string s = text(d);
    double back = 0;
    auto [end, ec] = fast_float::from_chars(s.data(), s.data() + s.size(), back);
    ASSERT_EQ(ec, std::errc()) << s;
    EXPECT_EQ(end, s.data() + s.size()) << s;
    EXPECT_EQ(back, d) << s;
    EXPECT_EQ(std::signbit(back), std::signbit(d)) << s;
    // A JSON number: no "inf", "nan", leading '+', or bare '.'.
    EXPECT_EQ(s.find_first_not_of("-0123456789.e+"), std::string::npos) << s;
    EXPECT_NE(s.front(), '.') << s;
  }
}

TEST(JsonWriter, ValuesWithoutJsonFormFailTheWholeText) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const JsonValue failing[] = {
      JsonValue(inf),
      JsonObject{{"ok", true}, {"bounds", JsonObject{{"x", -inf}}}},
      JsonObject{{"events", JsonArray{JsonObject{{"a", 1}}, JsonObject{{"b", nan}}}}},
      JsonObject{{"title", std::string("bad \xff byte")}},
      JsonObject{{std::string("key\xc3"), 1}},
      JsonValue(std::string("\xed\xa0\x80")),      // a UTF-16 surrogate
      JsonValue(std::string("\xc0\xaf")),          // overlong solidus
      JsonValue(std::string("\xf4\x90\x80\x80")),  // past U+10FFFF
  };
  for (const auto& v : failing) {
    EXPECT_EQ(serializeJson(v), std::nullopt);
    EXPECT_EQ(jsonTextOrFallback(v), R"({"ok":false,"error":"json_encode_failed"})");
  }
  EXPECT_EQ(kFallbackJson.size(), 41u);
}

TEST(Utf8, AcceptsWellFormedAndRejectsMalformedSequences) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"ascii", true},
      {"\xc2\x80", true},
      {"\xdf\xbf", true},
      {"\xe0\xa0\x80", true},
      {"\xef\xbf\xbf", true},
      {"\xf0\x90\x80\x80", true},
      {"\xf4\x8f\xbf\xbf", true},
      {"\x80", false},              // lone continuation
      {"\xc1\xbf", false},          // overlong
      {"\xe0\x9f\xbf", false},      // overlong
      {"\xed\xbf\xbf", false},      // surrogate
      {"\xf0\x8f\xbf\xbf", false},  // overlong
      {"\xf5\x80\x80\x80", false},  // out of range
      {"\xe2\x82", false},          // truncated
      {"a\xe2\x82", false},         // truncated at end
      {"\xe2\x28\xa1", false},      // bad continuation
      {"\xfe", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << ::testing::PrintToString(c.bytes);
}

}  // namespace
}  // namespace halvic
