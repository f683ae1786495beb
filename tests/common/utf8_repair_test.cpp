#include "utf8_repair.h"

#include <gtest/gtest.h>

#include <string>

#include "utf8.h"

namespace halvic {
namespace {

#define FFFD "\xEF\xBF\xBD"

TEST(Utf8Repair, KeepsWellFormedTextAndReplacesEachIllFormedByte) {
  struct Case {
    const char* what;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"ASCII with NUL", std::string("a\0b", 3), std::string("a\0b", 3)},
      {"two to four byte sequences", "\xC3\xA7\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
       "\xC3\xA7\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
      {"stray continuation byte", "a\x80" "b", "a" FFFD "b"},
      {"bytes that never start a sequence", "\xC0\xC1\xF5\xFF", FFFD FFFD FFFD FFFD},
      {"overlong slash", "\xC0\xAF", FFFD FFFD},
      {"overlong three byte form", "\xE0\x80\xAF", FFFD FFFD FFFD},
      {"UTF-16 surrogate", "\xED\xA0\x80", FFFD FFFD FFFD},
      {"past U+10FFFF", "\xF4\x90\x80\x80", FFFD FFFD FFFD FFFD},
      {"sequence cut by the end", "ok\xE2\x82", "ok" FFFD FFFD},
      {"sequence cut by ASCII", "\xF0\x9F\x98" "x", FFFD FFFD FFFD "x"},
      {"Latin-1 between valid letters", "G\xF6r\xC3\xBC\x73", "G" FFFD "r\xC3\xBCs"},
  };
  for (const Case& c : cases) {
    const std::string repaired = repairedUtf8(c.in);
    EXPECT_EQ(repaired, c.out) << c.what;
    EXPECT_TRUE(isValidUtf8(repaired)) << c.what;
  }
}

}  // namespace
}  // namespace halvic
