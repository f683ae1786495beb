#include "output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "temp_dir.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;

// Every name in `dir`, so a test can see that no auxiliary file was left.
std::vector<std::string> namesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(OutputFile, EmptyPathTouchesNothing) {
  TempDir dir;
  EXPECT_TRUE(writeOutputFile("", "{}"));
  EXPECT_TRUE(namesIn(dir.path()).empty());
}

TEST(OutputFile, CreatesMissingDirectoriesAndWritesExactBytes) {
  TempDir dir;
  const std::string path = dir / "a/b/c/out.json";
  ASSERT_TRUE(writeOutputFile(path, R"({"ok":true})"));
  EXPECT_EQ(readFile(path), R"({"ok":true})");
  EXPECT_EQ(namesIn(dir / "a/b/c"), std::vector<std::string>{"out.json"});
}

TEST(OutputFile, ReplacesAnExistingFileWhole) {
  TempDir dir;
  const std::string path = dir / "out.json";
  std::ofstream(path) << std::string(10000, 'x');
  ASSERT_TRUE(writeOutputFile(path, "short"));
  EXPECT_EQ(readFile(path), "short");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.json"});
}

TEST(OutputFile, GetsTheUsersDefaultFileMode) {
  TempDir dir;
  const std::string path = dir / "out.json";
  mode_t old = umask(022);
  ASSERT_TRUE(writeOutputFile(path, "x"));
  umask(old);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(OutputFile, RelativePathIsTakenFromTheWorkingDirectory) {
  TempDir dir;
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  bool ok = writeOutputFile("rel/out.json", "r");
  fs::current_path(before);
  ASSERT_TRUE(ok);
  EXPECT_EQ(readFile(dir / "rel/out.json"), "r");
}

TEST(OutputFile, ASymlinkAtThePathIsReplacedNotFollowed) {
  TempDir dir;
  const std::string victim = dir / "victim";
  std::ofstream(victim) << "keep";
  fs::create_symlink(victim, dir / "out.json");
  ASSERT_TRUE(writeOutputFile(dir / "out.json", "new"));
  EXPECT_EQ(readFile(victim), "keep");
  EXPECT_FALSE(fs::is_symlink(dir / "out.json"));
  EXPECT_EQ(readFile(dir / "out.json"), "new");
}

// Failures leave what was there untouched and no auxiliary file behind.
TEST(OutputFile, FailuresLeaveNothingBehind) {
  TempDir dir;
  fs::create_directory(dir / "existing_dir");
  std::ofstream(dir / "inside") << "x";
  std::ofstream(dir / "plain_file") << "old";
  const std::string failing[] = {
      dir / "existing_dir",        // a directory at the path
      dir / "existing_dir/",       // a path that names a directory
      dir / "plain_file/out.json",  // a file where a directory should be
      "/proc/self/halvic-out.json",  // a place nobody may create files in
  };
  for (const auto& path : failing) {
    EXPECT_FALSE(writeOutputFile(path, "text")) << path;
  }
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"existing_dir", "inside", "plain_file"}));
  EXPECT_TRUE(namesIn(dir / "existing_dir").empty());
  EXPECT_EQ(readFile(dir / "plain_file"), "old");
}

}  // namespace
}  // namespace halvic
