// Argument handling and image loading failures, common to both modes.
#include <fstream>

#include "DornickRun.h"

namespace {

class CommandLineTest : public DornickRunTest {
 protected:
  void expectUsage(const std::vector<std::string>& arguments) {
    const ProcessResult result = run(arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, kUsageText);
    EXPECT_FALSE(exists("out.pgm"));
  }
};

TEST_F(CommandLineTest, UnknownModeWordGivesUsage) {
  const std::string image = writeBlankPpm("in.ppm", 20, 20);
  expectUsage({"as", image, path("out.pgm"), "10"});
  expectUsage({"gl", image, path("out.pgm"), "10"});
  expectUsage({"XX", image, path("out.pgm")});
}

TEST_F(CommandLineTest, MissingArgumentsGiveUsage) {
  const std::string image = writeBlankPpm("in.ppm", 20, 20);
  expectUsage({});
  expectUsage({"AS", image});
  expectUsage({"GL", image, path("out.pgm")});
}

TEST_F(CommandLineTest, CellSizeThatIsNotAPositiveNumberGivesUsage) {
  const std::string image = writeBlankPpm("in.ppm", 20, 20);
  for (const std::string cellSize : {"0", "abc", "12x", "-3", "", " ", "+", "5 5"})
    expectUsage({"GL", image, path("out.pgm"), cellSize});
}

TEST_F(CommandLineTest, CellSizeMayCarryLeadingBlanksAndPlusSign) {
  const std::string image = writeBlankPpm("in.ppm", 20, 20);
  for (const std::string cellSize : {" 5", "+5", "005"}) {
    const ProcessResult result = run({"GL", image, path("out.pgm"), cellSize});
    EXPECT_EQ(result.status, 0) << cellSize;
    EXPECT_EQ(result.out, "Number of regions : 16 \n") << cellSize;
  }
}

TEST_F(CommandLineTest, UnloadableImageFailsWithoutWriting) {
  const std::string missing = path("no-such-image.ppm");
  ProcessResult result = run({"GL", missing, path("out.pgm"), "4"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, " could not load " + missing + "\nDornick -> Cannot open the file: No such file or directory\n");
  EXPECT_EQ(result.out, "");

  const std::string junk = path("junk.ppm");
  std::ofstream(junk) << "P6 this is not an image";
  result = run({"AS", junk, path("out.pgm")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, " could not load " + junk + "\nDornick -> The PNM decoder refused it: negative or zero image size\n");
  EXPECT_FALSE(exists("out.pgm"));
}

TEST_F(CommandLineTest, ImageBeyond16BitSizesRefused) {
  // ImageMagick's own size policy may refuse such an image first; either way nothing is written.
  const std::string refusal = "\nERROR: Dornick -> Images wider or higher than 32767 pixels are not supported!\n";
  for (const auto& [width, height] : {std::pair(32768, 1), std::pair(1, 32768)}) {
    const std::string image = writeBlankPpm("wide.ppm", width, height);
    const ProcessResult result = run({"GL", image, path("out.pgm"), "1"});
    EXPECT_EQ(result.status, 1) << width << "x" << height;
    EXPECT_TRUE(result.err == refusal || result.err.rfind(" could not load " + image + "\nDornick -> ", 0) == 0)
        << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(exists("out.pgm"));
  }
}

}  // namespace
