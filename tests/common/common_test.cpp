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

TEST(Utf8Repair, KeepsWellFormedTextAndReplacesEachIllFormedByte) {
  // Well-formed text stays, the first and last character of each length and range included; each byte of a stray,
  // never-leading, overlong (the largest of each length), surrogate, too large or cut sequence becomes U+FFFD.
  const std::string kept = "a\0\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"s;
  const auto fffd = [](int n) { std::string s; while (n-- > 0) s += "\xEF\xBF\xBD"; return s; };
  EXPECT_EQ(repairedUtf8(kept + "a\x80\xC1\xBF\xF5\xFF\xE0\x9F\xBF\xED\xA0\x80\xF0\x8F\xBF\xBF\xF4\x90\x80\x80"
                                "b\xF0\x9F\x98x\xE2\x82"),
            kept + "a" + fffd(19) + "b" + fffd(3) + "x" + fffd(2));
}

std::set<std::string> namesIn(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// On another filesystem than the temporary directory, which a rename cannot cross; failures leave nothing behind.
TEST(OutputFile, ReplacesTheFileWholeWithTheUsersModeAndNoAuxiliaryFile) {
  TempDir dir(fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path());
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
