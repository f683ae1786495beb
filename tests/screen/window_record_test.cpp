#include "window_record.h"

#include <gtest/gtest.h>

#include <clocale>
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
      // beyond a double's range: unreadable, unless infinity is spelt out
      {"1e400", 0, 0.0},  {"-1e-400", 0, 0.0},     {"-Infinity", 0, -std::numeric_limits<double>::infinity()},
      {"4.9e-324", 0, std::numeric_limits<double>::denorm_min()},
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

// A user whose locale writes decimal commas still reads the window server's
// "2.5" as 2.5, and "2,5" as no number: the records are not prose.
TEST(LooseConversions, ReadNumbersAlikeInADecimalCommaLocale) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  bool switched = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "tr_TR.UTF-8", "fr_FR.UTF-8"}) {
    if (std::setlocale(LC_ALL, name) != nullptr && std::string(std::localeconv()->decimal_point) == ",") {
      switched = true;
      break;
    }
  }
  if (!switched) {
    std::setlocale(LC_ALL, previous.c_str());
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }
  const LooseValue point{"2.5"}, comma{"2,5"}, exponent{"-1.25e2"};
  EXPECT_EQ(cgDoubleValue(&point), 2.5);
  EXPECT_EQ(cgDoubleValue(&comma), 0.0);
  EXPECT_EQ(cgDoubleValue(&exponent), -125.0);
  std::setlocale(LC_ALL, previous.c_str());
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
