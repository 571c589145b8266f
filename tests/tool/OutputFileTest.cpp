#include "OutputFile.h"

#include <cerrno>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

using namespace KestrelTool;

namespace {

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

} // namespace

// A stream's file: created without losing what it holds, emptied only when the thread that
// writes it is ready, and every failure kept for the message.
TEST(OutputFile, EmptiesRegularFilesAndKeepsTheFirstFailure) {
  const std::string path = testing::TempDir() + "/output-file.srt";
  { std::ofstream(path, std::ios::binary | std::ios::trunc) << "an earlier, longer export\n"; }
  OutputFile file;
  ASSERT_TRUE(file.create(path));
  EXPECT_EQ(contents(path), "an earlier, longer export\n") << "created, not yet emptied";
  file.empty();
  file.write("new");
  file.write(" text\n");
  EXPECT_TRUE(file.close());
  EXPECT_EQ(contents(path), "new text\n");

  OutputFile directory;
  EXPECT_FALSE(directory.create(testing::TempDir()));
  EXPECT_EQ(directory.error(), EISDIR);

  // A device is written as it is, never cut; a full one fails the writing, and the close
  // reports it.
  OutputFile full;
  ASSERT_TRUE(full.create("/dev/full"));
  full.empty();
  EXPECT_EQ(full.error(), 0);
  full.write("x");
  full.write("y");
  EXPECT_FALSE(full.close());
  EXPECT_EQ(full.error(), ENOSPC);
}
