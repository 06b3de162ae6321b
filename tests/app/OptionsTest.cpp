// Options anywhere on the line, help and version, counts, and output paths checked before the work.
#include <algorithm>
#include <fstream>
#include <set>

#include "DornickRun.h"

namespace {

class OptionsTest : public DornickRunTest {
 protected:
  std::string image() const {
    return writePpm("in.ppm", 24, 20, [](int x, int y) {
      return x < 12 ? Rgb{200, static_cast<unsigned char>(40 + 3 * y), 60} : Rgb{30, 90, static_cast<unsigned char>(150 + x)};
    });
  }
  void expectUsage(const std::vector<std::string>& arguments) {
    const ProcessResult result = run(arguments);
    EXPECT_EQ(result.status, 2) << arguments.back();
    EXPECT_EQ(result.out, kUsageText) << arguments.back();
    EXPECT_FALSE(exists("out.pgm")) << arguments.back();
  }
  static size_t lineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }
};

TEST_F(OptionsTest, OptionsMeanTheSameWhereverTheyStand) {
  const std::string in = image();
  const ProcessResult last = run({"AS", in, path("a.pgm"), "5", "--preview", path("a.png"), "--regions", path("a.csv")});
  const ProcessResult first = run({"AS", "--preview", path("b.png"), "--regions=" + path("b.csv"), in, path("b.pgm"), "5"});
  const ProcessResult between = run({"AS", in, "--region-table", path("c.csv"), path("c.pgm"), "--preview=" + path("c.png"), "5"});
  for (const ProcessResult* result : {&last, &first, &between}) {
    EXPECT_EQ(result->status, 0) << result->err;
    EXPECT_EQ(result->out, "Number of regions : 5 \n");
  }
  for (const std::string other : {"b", "c"}) {
    EXPECT_EQ(readFile(path(other + ".pgm")), readFile(path("a.pgm"))) << other;
    EXPECT_EQ(readFile(path(other + ".png")), readFile(path("a.png"))) << other;
    EXPECT_EQ(readFile(path(other + ".csv")), readFile(path("a.csv"))) << other;
  }
  EXPECT_FALSE(readFile(path("a.csv")).empty());
}

TEST_F(OptionsTest, UnknownOptionsMissingValuesAndExtraWordsGiveUsage) {
  const std::string in = image();
  expectUsage({"AS", in, path("out.pgm"), "--colour"});
  expectUsage({"AS", "-x", in, path("out.pgm")});
  expectUsage({"AS", in, path("out.pgm"), "--preview"});
  expectUsage({"AS", in, path("out.pgm"), "--preview="});
  expectUsage({"AS", in, path("out.pgm"), "--help=yes"});
  expectUsage({"AS", in, path("out.pgm"), "40", "extra"});
  expectUsage({"GL", in, path("out.pgm"), "4", "extra"});
  expectUsage({"AS", in, path("out.pgm"), "--preview", path("a.png"), "--preview", path("b.png")});
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    EXPECT_TRUE(entry.path().filename() == "in.ppm" || entry.path().extension() == ".txt") << entry.path();
}

TEST_F(OptionsTest, HelpAndVersionSucceedAnywhere) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"AS", "in", "out", "--help"}, {"XX", "-h", "--bogus"}}) {
    const ProcessResult result = run(arguments);
    EXPECT_EQ(result.status, 0) << arguments[0];
    EXPECT_EQ(result.out.substr(0, std::string(kUsageText).size()), kUsageText);
    for (const char* option : {"--preview", "--outline", "--labels-png", "--regions", "--fast", "--threads", "--version"})
      EXPECT_NE(result.out.find(option), std::string::npos) << option;
  }
  const ProcessResult version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(lineCount(version.out), 3u) << version.out;
  EXPECT_EQ(version.out.rfind("Dornick ", 0), 0u) << version.out;
  EXPECT_NE(version.out.find("\nVeskar "), std::string::npos) << version.out;
  EXPECT_NE(version.out.find("\nImageMagick "), std::string::npos) << version.out;
}

TEST_F(OptionsTest, CountThatIsNotAWholeNumberIsNamedBeforeTheUsage) {
  const std::string in = image();
  for (const std::string count : {"abc", "-5", "-0", "4.5", "12x", "", " ", "+", "1e3"}) {
    expectUsage({"AS", in, path("out.pgm"), count});
    EXPECT_EQ(run({"AS", in, path("out.pgm"), count}).err, "Dornick: count " + count + " is not a whole number\n");
  }
}

TEST_F(OptionsTest, FastModeAndThreadCountAreReadAsTheOtherOptions) {
  const std::string in = image();
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--fast=yes"}, {"--threads"}, {"--threads="}, {"--threads", "0"}, {"--threads", "two"},
           {"--threads", "-2"}, {"--threads", "1.5"}, {"--threads", "2", "--threads", "3"}}) {
    std::vector<std::string> arguments{"AS", in, path("out.pgm")};
    arguments.insert(arguments.end(), bad.begin(), bad.end());
    expectUsage(arguments);
  }
  // The map depends on the mode, never on the thread count.
  const std::vector<std::vector<std::string>> lines{{"AS", in, path("exact.pgm"), "5"},
                                                    {"AS", in, path("exact2.pgm"), "5", "--threads", "2"},
                                                    {"AS", "--fast", in, path("fast.pgm"), "5", "--threads=1"},
                                                    {"AS", in, path("fast3.pgm"), "--threads", "3", "--fast", "5"}};
  for (const std::vector<std::string>& arguments : lines) {
    const ProcessResult result = run(arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Number of regions : 5 \n");
  }
  EXPECT_EQ(readFile(path("exact2.pgm")), readFile(path("exact.pgm")));
  EXPECT_EQ(readFile(path("fast3.pgm")), readFile(path("fast.pgm")));
}

TEST_F(OptionsTest, CountOutsideTheRangeIsClampedWithOneLine) {
  const std::string in = image();
  for (const auto& [count, used] : {std::pair("0", "2"), std::pair("1", "2"), std::pair("5000", "2048"),
                                    std::pair("99999999999999999999", "2048")}) {
    const ProcessResult result = run({"AS", in, path("out.pgm"), count});
    EXPECT_EQ(result.status, 0) << count;
    EXPECT_EQ(lineCount(result.err), 1u) << result.err;
    EXPECT_NE(result.err.find(count), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(std::string(" ") + used + " "), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("Number of regions : "), 0u);
  }
  for (const std::string count : {"2", "2048", " 40", "+40", "007"}) {
    const ProcessResult result = run({"AS", in, path("out.pgm"), count});
    EXPECT_EQ(result.status, 0) << count;
    EXPECT_EQ(result.err, "") << count;
  }
}

TEST_F(OptionsTest, OutputThatCannotBeCreatedFailsBeforeTheWork) {
  const std::string in = image();
  const std::string nowhere = path("missing/x");
  const std::vector<std::vector<std::string>> lines{
      {"AS", in, nowhere + ".pgm", "5"},
      {"AS", in, path("out.pgm"), "5", "--preview", nowhere + ".png"},
      {"AS", in, path("out.pgm"), "--outline", nowhere + ".png"},
      {"AS", in, path("out.pgm"), "--labels-png", nowhere + ".png"},
      {"GL", in, path("out.pgm"), "4", "--regions", nowhere + ".csv"},
      {"AS", in, path("out.pgm"), "--labels-png", folder.string()}};
  for (const std::vector<std::string>& arguments : lines) {
    const std::string& bad = arguments[2] == path("out.pgm") ? arguments.back() : arguments[2];
    const ProcessResult result = run(arguments);
    EXPECT_EQ(result.status, 1) << bad;
    // No region line: nothing was segmented.
    EXPECT_EQ(result.out, "failure in opening file " + bad + "\n");
    EXPECT_FALSE(exists("out.pgm")) << bad;
  }
  // An existing output is checked without being changed.
  std::filesystem::create_directories(path("kept"));
  const std::string kept = path("kept/a.csv");
  { std::ofstream(kept) << "old"; }
  const ProcessResult result = run({"AS", in, path("out.pgm"), "--regions", kept, "--preview", path("p.nosuchformat")});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("p.nosuchformat"), std::string::npos) << result.err;
  EXPECT_EQ(readFile(kept), "old");
  EXPECT_FALSE(exists("out.pgm"));
}

}  // namespace
