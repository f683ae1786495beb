// The JSON writer, UTF-8 repair, the atomic output file and emit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

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

TEST(JsonWriter, ValuesWithoutJsonFormFailTheWholeText) {
  const JsonValue failing[] = {
      JsonObject{{"ok", true}, {"bounds", JsonObject{{"x", -std::numeric_limits<double>::infinity()}}}},
      JsonObject{{"events", JsonArray{JsonObject{{"a", 1}}, JsonObject{{"b", std::nan("")}}}}},
      JsonObject{{std::string("key\xc3"), 1}},
      std::string("\xed\xa0\x80"),      // a UTF-16 surrogate
      std::string("\xc0\xaf"),          // overlong solidus
      std::string("\xf4\x90\x80\x80"),  // past U+10FFFF
  };
  for (const auto& v : failing) EXPECT_EQ(jsonTextOrFallback(v), R"({"ok":false,"error":"json_encode_failed"})");
}

#define FFFD "\xEF\xBF\xBD"

TEST(Utf8Repair, KeepsWellFormedTextAndReplacesEachIllFormedByte) {
  // Well-formed text stays; stray, never-leading, overlong, surrogate, and cut sequences go.
  const std::string wellFormed = "a\0\xC3\xA7\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"s;
  EXPECT_EQ(repairedUtf8(wellFormed + "a\x80\xC0\xF5\xFF\xE0\x80\xAF\xED\xA0\x80" "b\xF0\x9F\x98" "x\xE2\x82"),
            wellFormed + "a" FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD "b" FFFD FFFD FFFD "x" FFFD FFFD);
}

std::vector<std::string> namesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(OutputFile, ReplacesTheFileWholeWithTheUsersModeAndNoAuxiliaryFile) {
  TempDir dir;
  std::ofstream(dir / "old.json") << std::string(10000, 'x');
  fs::create_symlink(dir / "old.json", dir / "link.json");
  const mode_t old = umask(002);
  for (const char* name : {"a/b/c/out.json", "old.json", "link.json"}) {
    ASSERT_TRUE(writeOutputFile(dir / name, name));
    EXPECT_EQ(readFile(dir / name), name);
    EXPECT_EQ(fs::symlink_status(dir / name).permissions(), static_cast<fs::perms>(0664)) << name;
  }
  umask(old);
  EXPECT_EQ(readFile(dir / "old.json"), "old.json");  // the link was replaced, not followed
  EXPECT_EQ(namesIn(dir / "a/b/c"), std::vector<std::string>{"out.json"});
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"a", "link.json", "old.json"}));
}

TEST(OutputFile, FailuresLeaveNothingBehind) {
  TempDir dir;
  fs::create_directory(dir / "dir");
  std::ofstream(dir / "file") << "old";
  for (const char* path : {"dir", "dir/", "file/out.json"}) EXPECT_FALSE(writeOutputFile(dir / path, "text")) << path;
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"dir", "file"}));
  EXPECT_EQ(readFile(dir / "file"), "old");
}

// Runs `body` with standard output on `fd` (closed afterwards).
template <typename Body>
void withStdoutOn(int fd, Body body) {
  const int saved = dup(STDOUT_FILENO);
  dup2(fd, STDOUT_FILENO);
  close(fd);
  body();
  dup2(saved, STDOUT_FILENO);
  close(saved);
}

TEST(Emit, PrintsOneLineAndCopiesItWithoutTheLineFeed) {
  TempDir dir;
  const std::pair<JsonObject, std::string> cases[] = {
      {{{"ok", false}, {"error", "unsupported_mode"}}, R"({"ok":false,"error":"unsupported_mode"})"},
      {{{"ok", true}, {"x", std::nan("")}}, std::string(kFallbackJson)},
  };
  for (const auto& [result, line] : cases) {
    withStdoutOn(open((dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                 [&] { emit(result, dir / "x/out.json"); });
    EXPECT_EQ(readFile(dir / "stdout"), line + "\n");
    EXPECT_EQ(readFile(dir / "x/out.json"), line);
  }
}

}  // namespace
}  // namespace halvic
