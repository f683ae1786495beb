// The JSON writer, UTF-8 repair, the atomic output file and emit.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <set>

#include "emit.h"
#include "output_file.h"
#include "temp_dir.h"
#include "utf8.h"
#include "utf8_repair.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::readFile;
using testing::TempDir;

TEST(JsonWriter, WritesCompactTextInInsertionOrderWithEscapes) {
  JsonObject o{{"ok", true},
               {"z", "a"},
               {"s", "/\"\\\n\t\r\b\f\0\x01\x1f\x7f Çalışma 😀 \u2028"s},
               {"events", JsonArray{JsonObject{{"x", 10.5}, {"y", -4.0}}, JsonObject{}, JsonArray{}}},
               {"min", std::numeric_limits<std::int64_t>::min()},
               {"doubles", JsonArray{1.0 / 3, 5e-324, 1e21, -0.0, std::numeric_limits<double>::max()}}};
  o.set("z", "again");
  o.set("new", false);
  EXPECT_EQ(serializeJson(o), R"({"ok":true,"z":"again","s":"\/\"\\\n\t\r\b\f\u0000\u0001\u001f)"
                              "\x7f Çalışma 😀 \u2028\","
                              R"("events":[{"x":10.5,"y":-4},{},[]],"min":-9223372036854775808,)"
                              R"("doubles":[0.3333333333333333,5e-324,1e+21,-0,1.7976931348623157e+308],"new":false})");
}

#define FFFD "\xEF\xBF\xBD"

TEST(Utf8Repair, KeepsWellFormedTextAndReplacesEachIllFormedByte) {
  // Well-formed text stays; stray, never-leading, overlong, surrogate, and cut sequences go.
  const std::string wellFormed = "a\0\xC3\xA7\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"s;
  EXPECT_EQ(repairedUtf8(wellFormed + "a\x80\xC0\xF5\xFF\xE0\x80\xAF\xED\xA0\x80" "b\xF0\x9F\x98" "x\xE2\x82"),
            wellFormed + "a" FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD "b" FFFD FFFD FFFD "x" FFFD FFFD);
}

std::set<std::string> namesIn(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// Failures (a directory in the way, a file as a parent) leave nothing behind.
TEST(OutputFile, ReplacesTheFileWholeWithTheUsersModeAndNoAuxiliaryFile) {
  TempDir dir;
  std::ofstream(dir / "old.json") << std::string(10000, 'x');
  fs::create_symlink(dir / "old.json", dir / "link.json");
  fs::create_directory(dir / "dir");
  const mode_t old = umask(002);
  for (const char* name : {"a/b/c/out.json", "old.json", "link.json"}) {
    ASSERT_TRUE(writeOutputFile(dir / name, name));
    EXPECT_EQ(readFile(dir / name), name);
    EXPECT_EQ(fs::symlink_status(dir / name).permissions(), static_cast<fs::perms>(0664)) << name;
  }
  umask(old);
  for (const char* path : {"dir", "dir/", "old.json/out.json"}) EXPECT_FALSE(writeOutputFile(dir / path, "x")) << path;
  EXPECT_EQ(readFile(dir / "old.json"), "old.json");  // the link was replaced, not followed
  EXPECT_EQ(namesIn(dir / "a/b/c"), std::set<std::string>{"out.json"});
  EXPECT_EQ(namesIn(dir.path), (std::set<std::string>{"a", "dir", "link.json", "old.json"}));
  EXPECT_TRUE(fs::is_empty(dir / "dir"));
}

// A value without a JSON form anywhere (non-finite numbers; text that is not UTF-8 is left to
// fuzz_json_writer) fails the whole text.
TEST(Emit, PrintsOneLineAndCopiesItWithoutTheLineFeed) {
  TempDir dir;
  const std::string fallback(kFallbackJson);
  const std::pair<JsonObject, std::string> cases[] = {
      {{{"ok", false}, {"error", "unsupported_mode"}}, R"({"ok":false,"error":"unsupported_mode"})"},
      {{{"ok", true}, {"bounds", JsonObject{{"x", -HUGE_VAL}}}}, fallback},
      {{{"events", JsonArray{JsonObject{{"a", 1}}, JsonObject{{"b", std::nan("")}}}}}, fallback},
  };
  for (const auto& [result, line] : cases) {
    ::testing::internal::CaptureStdout();
    emit(result, dir / "x/out.json");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), line + "\n");
    EXPECT_EQ(readFile(dir / "x/out.json"), line);
  }
}

}  // namespace
}  // namespace halvic
