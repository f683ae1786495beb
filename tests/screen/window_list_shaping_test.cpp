// The shaping rules of the macOS window-list translation, checked through the
// conversions and the selection that read their results.
#include "window_list_shaping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fake_desktop.h"
#include "utf16_text.h"
#include "window_record.h"
#include "window_selection.h"

namespace halvic {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

// A platform number as the backend sees it: a type encoding and the three
// readings. A reading that does not fit the storage must not be taken.
struct PlatformNumber {
  const char* objCType;
  std::int64_t signedReading = 0;
  std::uint64_t unsignedReading = 0;
  double doubleReading = 0.0;
};

NumberObject shape(const PlatformNumber& n, std::string* readingsTaken = nullptr) {
  auto note = [readingsTaken](const char* which) {
    if (readingsTaken != nullptr) *readingsTaken += which;
  };
  return numberObjectFrom(
      n.objCType, [&] { note("s"); return n.signedReading; },
      [&] { note("u"); return n.unsignedReading; }, [&] { note("d"); return n.doubleReading; });
}

TEST(WindowListShaping, EachTypeEncodingTakesOnlyTheReadingOfItsStorage) {
  const struct {
    const char* objCType;
    const char* reading;
  } cases[] = {
      {"d", "d"}, {"f", "d"},                                    // floating point
      {"Q", "u"}, {"L", "u"}, {"I", "u"}, {"S", "u"}, {"C", "u"},  // unsigned
      {"q", "s"}, {"l", "s"}, {"i", "s"}, {"s", "s"},            // signed
      {"c", "s"}, {"B", "s"},                                    // booleans: 0 and 1
      {"", "s"},  {nullptr, "s"},                                // no encoding at all
  };
  for (const auto& c : cases) {
    std::string taken;
    shape({c.objCType}, &taken);
    EXPECT_EQ(taken, c.reading) << (c.objCType ? c.objCType : "(null)");
  }
}

TEST(WindowListShaping, NumbersReachTheConversionsWithBothViews) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    PlatformNumber number;
    std::int64_t intValue;
    double doubleValue;
  } cases[] = {
      {{"d", 0, 0, 42.9}, 42, 42.9},    // fraction dropped toward zero
      {{"d", 0, 0, -1.5}, -1, -1.5},    // not floored
      {{"d", 0, 0, -0.5}, 0, -0.5},
      {{"f", 0, 0, 0.25}, 0, 0.25},
      {{"d", 0, 0, 1e300}, kMax, 1e300},  // saturated, never undefined
      {{"d", 0, 0, -1e300}, std::numeric_limits<std::int64_t>::min(), -1e300},
      {{"i", 1234, 0, 0.0}, 1234, 1234.0},
      {{"q", -7, 0, 0.0}, -7, -7.0},
      {{"c", 1, 0, 0.0}, 1, 1.0},
      {{"Q", 0, 5, 0.0}, 5, 5.0},
      {{"Q", 0, std::numeric_limits<std::uint64_t>::max(), 0.0}, kMax, 18446744073709551616.0},
  };
  for (const auto& c : cases) {
    const LooseValue value(shape(c.number));
    EXPECT_EQ(cgIntValue(&value), c.intValue) << c.number.objCType << " " << c.number.doubleReading;
    EXPECT_EQ(cgDoubleValue(&value), c.doubleValue) << c.number.objCType << " " << c.number.doubleReading;
  }
  const LooseValue notANumber(shape({"d", 99, 99, nan}));
  EXPECT_EQ(cgIntValue(&notANumber), 0);
  EXPECT_TRUE(std::isnan(cgDoubleValue(&notANumber)));
}

// A bounds dictionary of floating numbers, shaped as the backend shapes it.
LooseValue boundsDictionary(double x, double y, double width, double height) {
  DictionaryEntries entries;
  entries.emplace_back("X", shape({"d", 0, 0, x}));
  entries.emplace_back("Y", shape({"d", 0, 0, y}));
  entries.emplace_back("Width", shape({"d", 0, 0, width}));
  entries.emplace_back("Height", shape({"d", 0, 0, height}));
  return looseValueFromDictionary(std::move(entries));
}

TEST(WindowListShaping, DictionariesAreMapsOnlyWhenEveryKeyIsAString) {
  const LooseValue bounds = boundsDictionary(10, 20, -300, 200);
  ASSERT_NE(bounds.asMap(), nullptr);
  EXPECT_EQ(rectFromBounds(*bounds.asMap()), (Rect{10, 20, -300, 200}));

  const LooseValue empty = looseValueFromDictionary({});
  ASSERT_NE(empty.asMap(), nullptr);
  EXPECT_TRUE(empty.asMap()->empty());

  DictionaryEntries mixed;
  mixed.emplace_back("Width", shape({"d", 0, 0, 640}));
  mixed.emplace_back(std::nullopt, shape({"i", 1}));  // a number as key
  const LooseValue notAMap = looseValueFromDictionary(std::move(mixed));
  EXPECT_EQ(notAMap.asMap(), nullptr);
  EXPECT_EQ(cgDoubleValue(&notAMap), 0.0);
}

// A window record with the keys and number storages the window server uses:
// 32-bit integers for number, owner and layer, a double for alpha.
LooseValue windowDictionary(std::int64_t number, std::int64_t pid, const char* title, double width) {
  DictionaryEntries entries;
  entries.emplace_back(std::string(kCGWindowNumber), shape({"i", number}));
  entries.emplace_back(std::string(kCGWindowOwnerPID), shape({"i", pid}));
  entries.emplace_back(std::string(kCGWindowLayer), shape({"i", 0}));
  entries.emplace_back(std::string(kCGWindowAlpha), shape({"d", 0, 0, 1.0}));
  entries.emplace_back(std::string(kCGWindowOwnerName), std::string("Editor"));
  entries.emplace_back(std::string(kCGWindowName), std::string(title));
  entries.emplace_back(std::string(kCGWindowBounds), boundsDictionary(0, 25, width, 600));
  return looseValueFromDictionary(std::move(entries));
}

TEST(WindowListShaping, ShapedRecordsAreChosenByTheSelection) {
  testing::FakeDesktop desktop;
  desktop.windows = std::vector<LooseValue>{windowDictionary(11, 300, "", 1600),
                                            windowDictionary(12, 300, "Notes", 800)};
  const WindowSelection selection(desktop, 1);
  const auto best = selection.bestWindow(300);
  ASSERT_TRUE(best.has_value());
  EXPECT_EQ(cgIntValue(lookup(*best, kCGWindowNumber)), 12);  // titled beats larger
}

TEST(WindowListShaping, AListWithAnElementThatIsNoDictionaryIsRejected) {
  for (const LooseValue& stray : {LooseValue(LooseValue::Other{}), LooseValue(std::string("window")),
                                  LooseValue(shape({"i", 5}))}) {
    testing::FakeDesktop desktop;
    desktop.windows = std::vector<LooseValue>{windowDictionary(11, 300, "Notes", 800), stray};
    EXPECT_TRUE(WindowSelection(desktop, 1).visibleWindows().empty());
  }
}

TEST(Utf16Text, UnitsBecomeValidUtf8) {
  const struct {
    std::vector<std::uint16_t> units;
    std::string utf8;
  } cases[] = {
      {{}, ""},
      {{'a', 'b'}, "ab"},
      {{0x0131, 0x015F, 0x011F}, "\xC4\xB1\xC5\x9F\xC4\x9F"},  // ı ş ğ
      {{0x20AC}, "\xE2\x82\xAC"},                              // €
      {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},                  // 😀 from a surrogate pair
      {{'x', 0xD83D}, "x\xEF\xBF\xBD"},                        // a title cut inside a pair
      {{0xDE00, 'y'}, "\xEF\xBF\xBDy"},                        // a lone low surrogate
      {{0xD83D, 'z'}, "\xEF\xBF\xBDz"},                        // high without its low
      {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},                  // U+10FFFF
      {{'a', 0, 'b'}, std::string("a\0b", 3)},                 // NUL kept
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8FromUtf16(c.units), c.utf8);
  }
}

}  // namespace
}  // namespace halvic
