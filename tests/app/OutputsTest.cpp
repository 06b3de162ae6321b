// Preview, outline, grey PNG label map and region table, checked against the PGM
// label map of the same run and the colours of the drawn input.
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "DornickRun.h"
#include "PngReading.h"

namespace {

using Color = std::array<unsigned, 3>;

class OutputsTest : public DornickRunTest {
 protected:
  static constexpr int kWidth = 48;
  static constexpr int kHeight = 40;

  // Four blocks, one of them dark, with a ripple so that region means are not the drawn colours.
  static Rgb colorAt(int x, int y) {
    const int ripple = (x * 7 + y * 13) % 9 - 4;
    const auto shade = [ripple](int base) { return static_cast<unsigned char>(base + ripple); };
    if (y < 16) return x < 20 ? Rgb{shade(210), shade(120), shade(60)} : Rgb{shade(90), shade(170), shade(220)};
    return x < 30 ? Rgb{shade(20), shade(25), shade(30)} : Rgb{shade(230), shade(230), shade(120)};
  }

  std::string drawnImage() const { return writePpm("in.ppm", kWidth, kHeight, colorAt); }

  ParsedLabelMap runWith(const std::vector<std::string>& arguments) {
    const ProcessResult result = run(arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return parseLabelMap(readFile(arguments[2]));
  }

  // The mean input colour of every label, rounded to nearest.
  static std::map<unsigned, Color> regionMeans(const ParsedLabelMap& map) {
    std::map<unsigned, std::array<unsigned long, 4>> sums;
    for (int y = 0; y < map.height; ++y)
      for (int x = 0; x < map.width; ++x) {
        const Rgb c = colorAt(x, y);
        auto& s = sums[map.at(x, y)];
        s[0] += c.r, s[1] += c.g, s[2] += c.b, s[3] += 1;
      }
    std::map<unsigned, Color> means;
    for (const auto& [label, s] : sums)
      for (int c = 0; c < 3; ++c) means[label][c] = static_cast<unsigned>((s[c] + s[3] / 2) / s[3]);
    return means;
  }

  static bool changesLabel(const ParsedLabelMap& map, int x, int y) {
    return (x + 1 < map.width && map.at(x + 1, y) != map.at(x, y)) ||
           (y + 1 < map.height && map.at(x, y + 1) != map.at(x, y));
  }

  static Color pixel(const PngPicture& picture, int x, int y) {
    const size_t i = 3 * (static_cast<size_t>(y) * picture.width + x);
    return {picture.samples.at(i), picture.samples.at(i + 1), picture.samples.at(i + 2)};
  }
};

TEST_F(OutputsTest, PreviewPaintsRegionMeansWithBordersExactlyWhereLabelsChange) {
  const std::string in = drawnImage();
  const ParsedLabelMap map = runWith({"AS", in, path("out.pgm"), "6", "--preview", path("preview.png")});
  const PngPicture preview = readPng(path("preview.png"));
  ASSERT_EQ(preview.width, kWidth);
  ASSERT_EQ(preview.height, kHeight);
  ASSERT_EQ(preview.channels, 3);
  const std::map<unsigned, Color> means = regionMeans(map);
  const Color black{0, 0, 0}, white{255, 255, 255};
  int borderPixels = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const Color shown = pixel(preview, x, y);
      const Color mean = means.at(map.at(x, y));
      if (changesLabel(map, x, y)) {
        ++borderPixels;
        EXPECT_TRUE(shown == black || shown == white) << x << "," << y;
        // The border stands out from its region, dark ones included.
        const auto luma = [](const Color& c) { return (299 * int(c[0]) + 587 * int(c[1]) + 114 * int(c[2])) / 1000; };
        EXPECT_GE(std::abs(luma(shown) - luma(mean)), 96) << "border lost in its region at " << x << "," << y;
      } else {
        EXPECT_EQ(shown, mean) << x << "," << y;
      }
    }
  EXPECT_GT(borderPixels, kWidth);

  // The extension picks the format.
  runWith({"AS", in, path("out.pgm"), "6", "--preview", path("preview.jpg")});
  EXPECT_EQ(readFile(path("preview.jpg")).substr(0, 3), "\xFF\xD8\xFF");
}

TEST_F(OutputsTest, OutlineDrawsOneColourOverTheBordersOnly) {
  const ParsedLabelMap map = runWith({"AS", drawnImage(), path("out.pgm"), "6", "--outline", path("outline.png")});
  const PngPicture outline = readPng(path("outline.png"));
  ASSERT_EQ(outline.width, kWidth);
  ASSERT_EQ(outline.height, kHeight);
  std::set<Color> borderColors;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const Rgb c = colorAt(x, y);
      const Color input{c.r, c.g, c.b};
      if (changesLabel(map, x, y)) {
        borderColors.insert(pixel(outline, x, y));
        EXPECT_NE(pixel(outline, x, y), input) << x << "," << y;
      } else {
        EXPECT_EQ(pixel(outline, x, y), input) << x << "," << y;
      }
    }
  EXPECT_EQ(borderColors.size(), 1u);
}

TEST_F(OutputsTest, GreyPngHoldsThePgmLabelsInEightAndSixteenBits) {
  const std::string in = drawnImage();
  struct Case {
    std::vector<std::string> arguments;
    int bitDepth;
  };
  const std::vector<Case> cases{
      {{"AS", in, path("out.pgm"), "6"}, 8},
      {{"AS", in, path("out.pgm"), "300"}, 16},
      {{"GL", in, path("out.pgm"), "2"}, 16},  // 480 cells
      {{"GL", in, path("out.pgm"), "7"}, 8},   // uncovered band labelled 0
  };
  for (Case c : cases) {
    c.arguments.insert(c.arguments.end(), {"--labels-png", path("labels.png")});
    const ParsedLabelMap map = runWith(c.arguments);
    const PngPicture png = readPng(path("labels.png"));
    EXPECT_EQ(png.bitDepth, c.bitDepth) << c.arguments[3];
    EXPECT_EQ(png.channels, 1) << c.arguments[3];
    EXPECT_FALSE(png.palette) << c.arguments[3];
    EXPECT_EQ(png.samples, map.samples) << c.arguments[3];
    EXPECT_EQ(*std::max_element(png.samples.begin(), png.samples.end()) > 255, c.bitDepth == 16);
  }
}

TEST_F(OutputsTest, RegionTableAccountsForEveryPixel) {
  const std::string in = drawnImage();
  for (const std::vector<std::string>& mode :
       std::vector<std::vector<std::string>>{{"AS", "7"}, {"GL", "9"}}) {
    const ParsedLabelMap map = runWith({mode[0], in, path("out.pgm"), mode[1], "--regions", path("t.csv")});
    const std::string mapBytes = readFile(path("out.pgm"));
    runWith({mode[0], in, path("out.pgm"), mode[1], "--regions=" + path("t.json")});
    EXPECT_EQ(readFile(path("out.pgm")), mapBytes);
    std::istringstream csv(readFile(path("t.csv")));
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "label,pixels,left,top,right,bottom,centroid_x,centroid_y,display_red,display_green,"
                    "display_blue,mean_red,mean_green,mean_blue");
    const std::map<unsigned, Color> means = regionMeans(map);
    std::vector<std::vector<double>> rows;
    unsigned long pixelSum = 0;
    while (std::getline(csv, line)) {
      std::vector<double> row;
      std::istringstream fields(line);
      for (std::string field; std::getline(fields, field, ',');) row.push_back(std::stod(field));
      ASSERT_EQ(row.size(), 14u) << line;
      const unsigned label = static_cast<unsigned>(row[0]);
      pixelSum += static_cast<unsigned long>(row[1]);
      unsigned long inside = 0, touches = 0;
      double sumX = 0, sumY = 0;
      for (int y = 0; y < map.height; ++y)
        for (int x = 0; x < map.width; ++x) {
          if (map.at(x, y) != label) continue;
          const bool inBox = x >= row[2] && y >= row[3] && x <= row[4] && y <= row[5];
          EXPECT_TRUE(inBox) << "label " << label << " pixel " << x << "," << y;
          ++inside;
          sumX += x, sumY += y;
          touches |= (x == row[2]) | (y == row[3]) << 1 | (x == row[4]) << 2 | (y == row[5]) << 3;
        }
      EXPECT_EQ(inside, static_cast<unsigned long>(row[1])) << line;
      EXPECT_EQ(touches, 15u) << "box of label " << label << " is not tight";
      EXPECT_NEAR(row[6], sumX / inside, 0.005) << line;
      EXPECT_NEAR(row[7], sumY / inside, 0.005) << line;
      EXPECT_EQ((Color{unsigned(row[11]), unsigned(row[12]), unsigned(row[13])}), means.at(label)) << line;
      rows.push_back(row);
    }
    EXPECT_EQ(pixelSum, static_cast<unsigned long>(kWidth) * kHeight) << mode[0];
    EXPECT_EQ(rows.size(), means.size()) << mode[0];

    // The JSON file carries the same numbers, row for row.
    const std::string json = readFile(path("t.json"));
    const std::regex number(R"(: (-?[0-9.]+))");
    std::vector<double> jsonNumbers;
    for (auto it = std::sregex_iterator(json.begin(), json.end(), number); it != std::sregex_iterator(); ++it)
      jsonNumbers.push_back(std::stod((*it)[1]));
    std::vector<double> csvNumbers{double(kWidth), double(kHeight)};
    for (const auto& row : rows) csvNumbers.insert(csvNumbers.end(), row.begin(), row.end());
    EXPECT_EQ(jsonNumbers, csvNumbers) << mode[0];
  }
}

}  // namespace
