// Every photo of the golden set, segmented with and without a region count,
// on one thread and on two, must give its kept label map byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <tuple>

#include "support/GoldenMaps.h"

namespace {

std::string dataPath(const std::string& file) { return std::string(TEST_DATA_DIR) + "/" + file; }

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class GoldenMapTest : public testing::TestWithParam<std::tuple<GoldenImage, unsigned>> {};

TEST_P(GoldenMapTest, EveryRequestGivesTheKeptLabelMap) {
  const GoldenImage& photo = std::get<0>(GetParam());
  const unsigned threads = std::get<1>(GetParam());
  const std::string name = photo.name;
  S_CImageStorage image;
  ASSERT_EQ(readPpm(dataPath(photo.input), image), "");
  std::vector<GoldenMap> golden;
  ASSERT_EQ(parseGoldenMaps(readText(dataPath("golden/" + name + ".labels")), golden), "") << name << ".labels";
  ASSERT_EQ(golden.size(), kGoldenRequests.size()) << name << ".labels holds another set of requests";
  for (size_t i = 0; i < golden.size(); ++i) {
    const GoldenRequest request = kGoldenRequests[i];
    ASSERT_EQ(golden[i].request.wanted, request.wanted) << name;
    ASSERT_EQ(golden[i].request.regionFloor, request.regionFloor) << name;
    const GoldenMap actual = segmentForGolden(image, request, threads);
    EXPECT_EQ(describeDifference(golden[i], actual), "")
        << name << " segmented with wanted " << request.wanted << ", floor " << request.regionFloor << " on "
        << threads << " thread(s)";
  }
}

INSTANTIATE_TEST_SUITE_P(Photos, GoldenMapTest, testing::Combine(testing::ValuesIn(kGoldenImages), testing::Values(1u, 2u)),
                         [](const testing::TestParamInfo<GoldenMapTest::ParamType>& info) {
                           return std::get<0>(info.param).name + "_threads" + std::to_string(std::get<1>(info.param));
                         });

// The comparison itself: a difference must be found and located, identity must pass.
TEST(GoldenMapFormatTest, RoundTripsAndLocatesTheFirstDifference) {
  GoldenMap map;
  map.request = {10, 0};
  map.width = 5;
  map.height = 3;
  map.regions = 3;
  map.labels = {0, 0, 0, 1, 1, 0, 2, 2, 1, 1, 300, 300, 300, 300, 300};
  std::vector<GoldenMap> parsed;
  ASSERT_EQ(parseGoldenMaps(formatGoldenMaps("x", {map, map}), parsed), "");
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed[1].labels, map.labels);
  EXPECT_EQ(parsed[1].request.wanted, 10u);
  EXPECT_EQ(describeDifference(map, parsed[1]), "");
  GoldenMap changed = map;
  changed.labels[7] = 1;
  changed.labels[12] = 2;
  EXPECT_EQ(describeDifference(map, changed),
            "regions 3, golden 3; first differing pixel (2, 1): label 1, golden 2; 2 of 15 pixels differ");
  changed = map;
  changed.regions = 4;
  EXPECT_EQ(describeDifference(map, changed), "regions 4, golden 3");
  EXPECT_NE(parseGoldenMaps("map 10 0 5 1 3\n0*4\n", parsed), "");
}

}  // namespace
