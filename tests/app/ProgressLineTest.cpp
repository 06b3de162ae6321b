// The terminal progress line: when it is shown, and that it stays one line and is erased.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/Progress.h"

namespace {

std::string contentOf(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  return text;
}

TEST(ProgressLineTest, ShownOnlyOnATerminalForAMegapixelOrMore) {
  EXPECT_TRUE(wantsProgressLine(true, 1000000));
  EXPECT_TRUE(wantsProgressLine(true, 4096000));
  EXPECT_FALSE(wantsProgressLine(true, 999999));
  EXPECT_FALSE(wantsProgressLine(false, 1000000));
  EXPECT_FALSE(wantsProgressLine(false, 50000000));
}

TEST(ProgressLineTest, UpdatesRewriteOneLineAndEndErased) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    ProgressLine line(file);
    line.begin(2560, 1600);
    ProgressLine::observe("graph", 4096000, &line);
    ProgressLine::observe("first stage", 255, &line);
    const std::string shown = contentOf(file);
    EXPECT_EQ(shown.find('\n'), std::string::npos);
    EXPECT_NE(shown.rfind("\rDornick: first stage done, 255 regions"), std::string::npos) << shown;
    std::fseek(file, 0, SEEK_END);
  }  // erased on scope exit
  const std::string text = contentOf(file);
  EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
  EXPECT_EQ(text.find('\n'), std::string::npos);
  std::fclose(file);

  // Nothing shown, nothing to erase.
  std::FILE* quiet = std::tmpfile();
  ASSERT_NE(quiet, nullptr);
  { ProgressLine line(quiet); }
  EXPECT_EQ(contentOf(quiet), "");
  std::fclose(quiet);
}

}  // namespace
