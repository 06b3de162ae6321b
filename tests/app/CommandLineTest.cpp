// Argument handling and image loading failures, common to both modes.
#include <fstream>

#include "DornickRun.h"

namespace {

class CommandLineTest : public DornickRunTest {
 protected:
  // The usage texts as ever, after one line on standard error saying what is wrong.
  void expectUsage(const std::vector<std::string>& arguments, const std::string& reason) {
    const ProcessResult result = run(arguments);
    EXPECT_EQ(result.status, 2) << reason;
    EXPECT_EQ(result.out, kUsageText) << reason;
    EXPECT_EQ(result.err, "Dornick: " + reason + "\n");
    EXPECT_FALSE(exists("out.pgm"));
  }
};

TEST_F(CommandLineTest, UnknownModeWordGivesItsNameAndUsage) {
  const std::string image = writeBlankPpm("in.ppm", 20, 20);
  expectUsage({"as", image, path("out.pgm"), "10"}, "unknown mode as (AS or GL)");
  expectUsage({"gl", image, path("out.pgm"), "10"}, "unknown mode gl (AS or GL)");
  expectUsage({"XX", image, path("out.pgm")}, "unknown mode XX (AS or GL)");
}

TEST_F(CommandLineTest, MissingArgumentsAreNamedBeforeTheUsage) {
  const std::string image = writeBlankPpm("in.ppm", 20, 20);
  expectUsage({}, "no mode given (AS or GL)");
  expectUsage({"AS"}, "no input file given");
  expectUsage({"AS", image}, "no output file given");
  expectUsage({"GL", image, path("out.pgm")}, "GL needs a cell size in pixels");
}

TEST_F(CommandLineTest, CellSizeThatIsNotAPositiveNumberIsNamedBeforeTheUsage) {
  const std::string image = writeBlankPpm("in.ppm", 20, 20);
  for (const std::string cellSize : {"0", "abc", "12x", "-3", "", " ", "+", "5 5"})
    expectUsage({"GL", image, path("out.pgm"), cellSize},
                "cell size " + cellSize + " is not a whole number of 1 or more");
}

TEST_F(CommandLineTest, MapNamedLikeAPictureIsWrittenAsPgmWithAWarning) {
  const std::string image = writeBlankPpm("in.ppm", 20, 20);
  for (const std::string name : {"out.png", "out.JPG", "out.tiff"}) {
    const ProcessResult result = run({"GL", image, path(name), "5"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "Dornick: " + path(name) +
                              " will hold a PGM label map, whatever its name says; --labels-png FILE writes the "
                              "labels as a PNG\n");
    EXPECT_EQ(readFile(path(name)).substr(0, 3), "P5\n");
  }
  EXPECT_EQ(run({"GL", image, path("out.pgm"), "5"}).err, "");
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
