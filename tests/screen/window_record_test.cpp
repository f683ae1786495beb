#include "window_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <string>

namespace halvic {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TEST(NumberObject, IntegerViewTruncatesTowardZeroAndSaturates) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, std::int64_t> cases[] = {{42.9, 42},    {-42.9, -42},  {-0x1p63, kMin},
                                                   {1e300, kMax}, {-inf, kMin}, {std::nan(""), 0}};
  for (auto [value, integer] : cases) EXPECT_EQ(NumberObject::fromDouble(value).integerValue, integer) << value;
  EXPECT_EQ(NumberObject::fromDouble(-2.5).doubleValue, -2.5);
}

TEST(LooseConversions, ReadOnlyTheKindsTheyKnowAndWholeStrings) {
  const struct {
    LooseValue value;
    std::int64_t integer;
    double real;
  } cases[] = {
      {NumberObject::fromDouble(42.9), 42, 42.9}, {std::int64_t{7}, 7, 7.0},  {2.5, 0, 2.5},  // no native-double int
      {"42", 42, 42.0},   {"+42", 42, 42.0},       {"-42", -42, -42.0},       {"42.5", 0, 42.5},
      {" 42", 0, 0.0},    {"42x", 0, 0.0},         {"+-1", 0, 0.0},           {"", 0, 0.0},
      {"9223372036854775807", kMax, 0x1p63},       {"9223372036854775808", 0, 0x1p63},
      {LooseValue::Other{}, 0, 0.0},               {LooseMap{{"X", std::int64_t{1}}}, 0, 0.0},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    EXPECT_EQ(cgIntValue(&cases[i].value), cases[i].integer);
    EXPECT_EQ(cgDoubleValue(&cases[i].value), cases[i].real);
  }
  EXPECT_EQ(cgIntValue(nullptr), 0);
  EXPECT_EQ(cgDoubleValue(nullptr), 0.0);
}

TEST(RectFromBounds, ConvertsEachFieldAndKeepsNegativeSizes) {
  const LooseMap bounds{{"X", NumberObject::fromDouble(-10.5)}, {"Y", std::int64_t{20}}, {"Width", "640"},
                        {"Height", NumberObject::fromDouble(-480)}};
  EXPECT_EQ(rectFromBounds(bounds), (Rect{-10.5, 20, 640, -480}));
  EXPECT_EQ(rectFromBounds({{"Width", "wide"}, {"x", 5.0}}), Rect{});  // keys are case-sensitive
}

TEST(Trim, RemovesUnicodeWhiteSpaceAndLineBreaksAtBothEndsOnly) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {" \t\n\v\f\r abc \r\n", "abc"},  {"\u00A0abc\u3000", "abc"},  {"\u2028a \n b\u2029", "a \n b"},
      {"\u0085x\u1680", "x"},           {"\u2000x\u200A", "x"},      {"\u202Fx\u205F", "x"},
      {"\u200Bx\uFEFF", "\u200Bx\uFEFF"},  // format characters, not separators
      {" \u00E7\u011F ", "\u00E7\u011F"}, {" \n \u3000", ""},
      {"a\xE2\x80", "a\xE2\x80"},  // a cut-off sequence is left alone
  };
  for (auto [text, expected] : cases) {
    EXPECT_EQ(trimWhitespaceAndNewlines(text), expected) << ::testing::PrintToString(std::string(text));
  }
}

}  // namespace
}  // namespace halvic
