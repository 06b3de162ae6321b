// Tests of the contour records, the label-map predicates, jaggedness codes and the contour update of a merge.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DescriptorStates.h"
#include "support/TestSupport.h"

namespace {

// Red quarter block, green field, one blue pixel well inside.
const std::vector<std::string> kQuarterAndDot = {
    "RRRRRGGGGGGG", "RRRRRGGGGGGG", "RRRRRGGGGGGG", "RRRRRGGGGGGG", "RRRRRGGGGGGG", "GGGGGGGGGGGG",
    "GGGGGGGBGGGG", "GGGGGGGGGGGG", "GGGGGGGGGGGG", "GGGGGGGGGGGG", "GGGGGGGGGGGG", "GGGGGGGGGGGG"};

const std::vector<std::string> kHalves(6, "RRRRGGGG");
const std::vector<std::string> kThreeBands(8, "RRRRGGGBBB");

int storedCode(const CRSSTContour& k, unsigned x, unsigned y) {
  for (uint32_t i = 0; i < k.nPixels; ++i)
    if (k.pixelX[i] == x && k.pixelY[i] == y) return k.pixelJaggedness[i];
  return -1;
}

// Every stored pixel of the region is a contour pixel of its label, with the
// code and length its position has under the current map.
void expectStoredPixelsCurrent(DrawnProbe& probe, EngineProbe::RSSTRegion* region) {
  const CRSSTContour& k = probe.contours[probe.descriptorsOf(region).contourIndex];
  for (uint32_t i = 0; i < k.nPixels; ++i) {
    const int x = static_cast<int>(k.pixelX[i]);
    const int y = static_cast<int>(k.pixelY[i]);
    EXPECT_EQ(probe.labelAt(x, y), k.regionIndex) << x << "," << y;
    EXPECT_TRUE(probe.bIsContourPixel(x, y)) << x << "," << y;
    EXPECT_EQ(k.pixelJaggedness[i], probe.computeJaggedness4CPixel(x, y)) << x << "," << y;
    EXPECT_EQ(k.pixelLength[i], static_cast<float>(probe.computeCPointLength(x, y))) << x << "," << y;
  }
}

}  // namespace

class JaggednessTest : public testing::Test {
 protected:
  void SetUp() override { probe.prepare(kQuarterAndDot, 3); }
  DrawnProbe probe;
};

TEST_F(JaggednessTest, RadiusTwoCodesStraightBordersCornersAndALonePixel) {
  ASSERT_EQ(probe.jaggednessRadius, 2);
  EXPECT_EQ(probe.computeJaggedness4CPixel(4, 2), 0);    // red side of the vertical border
  EXPECT_EQ(probe.computeJaggedness4CPixel(5, 2), 0);    // green side
  EXPECT_EQ(probe.computeJaggedness4CPixel(2, 4), 0);    // red side of the horizontal border
  EXPECT_EQ(probe.computeJaggedness4CPixel(2, 5), 0);
  EXPECT_EQ(probe.computeJaggedness4CPixel(4, 4), 102);  // quarter-plane corner: 9 of 25
  EXPECT_EQ(probe.computeJaggedness4CPixel(7, 6), 238);  // lone pixel: 1 of 25
  EXPECT_EQ(probe.computeJaggedness4CPixel(8, 6), 153);  // its neighbour: 24 of 25
  EXPECT_EQ(probe.computeJaggedness4CPixel(1, 2), 0);    // window leaves the image
  EXPECT_EQ(storedCode(probe.contourAt(4, 4), 4, 4), 102);
  EXPECT_EQ(storedCode(probe.contourAt(7, 6), 7, 6), 238);
  EXPECT_EQ(storedCode(probe.contourAt(8, 6), 8, 6), 153);
}

TEST_F(JaggednessTest, LargerRadiusTruncatesTheScaledDeviation) {
  probe.jaggednessRadius = 3;                             // half window 28
  EXPECT_EQ(probe.computeJaggedness4CPixel(7, 6), 245);  // 27 * 255 / 28 = 245.9
  EXPECT_EQ(probe.computeJaggedness4CPixel(4, 4), 109);  // 16 of 49: 12 * 255 / 28 = 109.3
  EXPECT_EQ(probe.computeJaggedness4CPixel(2, 4), 0);    // window leaves the image
}

TEST_F(JaggednessTest, ExtractedCodesAndLengthsMatchThePixelRules) {
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(probe.computeJaggedness4CPixel(i, 0), 0);
    EXPECT_EQ(probe.computeJaggedness4CPixel(0, i), 0);
    EXPECT_EQ(probe.computeJaggedness4CPixel(i, 11), 0);
    EXPECT_EQ(probe.computeJaggedness4CPixel(11, i), 0);
  }
  expectStoredPixelsCurrent(probe, probe.regionAt(0, 0));
  expectStoredPixelsCurrent(probe, probe.regionAt(11, 11));
  expectStoredPixelsCurrent(probe, probe.regionAt(7, 6));
}

class ContourExtractionTest : public testing::Test {
 protected:
  DrawnProbe probe;
};

TEST_F(ContourExtractionTest, ListsPixelsColumnByColumnWithRingAndInteriorLengths) {
  probe.prepare(kHalves, 2);
  const CRSSTContour& red = probe.contourAt(0, 0);
  const std::vector<Pixel> expected = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {1, 0}, {1, 5},
                                       {2, 0}, {2, 5}, {3, 0}, {3, 1}, {3, 2}, {3, 3}, {3, 4}, {3, 5}};
  EXPECT_EQ(pixelsOf(red), expected);
  EXPECT_EQ(red.regionIndex, probe.labelAt(0, 0));
  for (uint32_t i = 0; i < red.nPixels; ++i) {
    const bool ring = red.pixelY[i] == 0 || red.pixelY[i] == 5 || red.pixelX[i] == 0;
    EXPECT_EQ(red.pixelLength[i], ring ? 1.0f : 1.2071f) << i;
    EXPECT_EQ(red.pixelJaggedness[i], 0) << i;
  }
  float interior = 0;
  for (int i = 0; i < 4; ++i) interior += 1.2071f;
  EXPECT_FLOAT_EQ(red.length, 12.0f + interior);
  EXPECT_EQ(red.lengthNoIB, interior);  // the ring never counts here
  EXPECT_EQ(probe.computeCPointLength(3, 2), 1.2071);
  EXPECT_EQ(probe.computeCPointLength(7, 4), 1.0);
  EXPECT_EQ(probe.computeCPointLength(6, 5), 1.0);
}

TEST_F(ContourExtractionTest, RingPixelsAreContourPixelsButNotRegionContourPixels) {
  probe.prepare(kHalves, 2);
  for (int x = 0; x < 8; ++x) {
    EXPECT_TRUE(probe.bIsContourPixel(x, 0));
    EXPECT_TRUE(probe.bIsContourPixel(x, 5));
    EXPECT_FALSE(probe.bIsRContourPixel(x, 0));
  }
  EXPECT_TRUE(probe.bIsContourPixel(7, 3));
  EXPECT_FALSE(probe.bIsContourPixel(1, 2));  // inside red
  EXPECT_TRUE(probe.bIsRContourPixel(3, 2));
  EXPECT_TRUE(probe.bIsRContourPixel(4, 2));
  EXPECT_FALSE(probe.bIsRContourPixel(6, 2));
}

// Red combs down every even column from a red top row; every red pixel is a
// contour pixel, 5050 of them, so only the first 5000 in column order are kept.
TEST_F(ContourExtractionTest, AContourLongerThanTheCapacityKeepsItsFirst5000Pixels) {
  std::vector<std::string> rows(100, std::string(100, 'G'));
  rows[0] = std::string(100, 'R');
  for (auto& row : rows)
    for (int x = 0; x < 100; x += 2) row[x] = 'R';
  probe.prepare(rows, 51);
  const CRSSTContour& comb = probe.contourAt(0, 0);
  ASSERT_EQ(comb.nPixels, 5000u);
  EXPECT_EQ(pixelsOf(comb).back(), Pixel(98, 50));
  float length = 0;
  for (uint32_t i = 0; i < comb.nPixels; ++i) length += comb.pixelLength[i];
  EXPECT_EQ(comb.length, length);
}

TEST(ContourRecordTest, The5001stPixelIsIgnored) {
  auto k = std::make_unique<CRSSTContour>();
  EXPECT_EQ(k->nPixels, 0u);
  k->regionIndex = 7;
  k->reset(200, 200);
  EXPECT_EQ(k->regionIndex, 7);
  EXPECT_EQ(k->maxX, 199u);
  for (unsigned i = 0; i < 5000; ++i) k->addContourPixel(1 + i % 100, 1 + i / 100, 1.2071f, 9);
  const float length = k->length;
  const float lengthNoIB = k->lengthNoIB;
  k->pixelX[5000] = 12345;
  k->addContourPixel(5, 5, 1.2071f, 9);
  EXPECT_EQ(k->nPixels, 5000u);
  EXPECT_EQ(k->length, length);
  EXPECT_EQ(k->lengthNoIB, lengthNoIB);
  EXPECT_EQ(k->pixelX[5000], 12345u);
}

TEST(ContourRecordTest, EdgePixelsAddToTheLengthOnly) {
  auto k = std::make_unique<CRSSTContour>();
  k->reset(10, 8);
  k->addContourPixel(0, 3, 1.0f, 0);
  k->addContourPixel(9, 3, 1.0f, 0);
  k->addContourPixel(4, 7, 1.0f, 0);
  k->addContourPixel(4, 0, 1.0f, 0);
  k->addContourPixel(4, 3, 1.2071f, 0);
  EXPECT_EQ(k->length, 4.0f + 1.2071f);
  EXPECT_EQ(k->lengthNoIB, 1.2071f);
}

class ContourMergeTest : public testing::Test {
 protected:
  void SetUp() override { probe.prepare(kThreeBands, 3); }
  DrawnProbe probe;
};

TEST_F(ContourMergeTest, SurvivorListsItsOwnRemainingPixelsFirstThenTheAbsorbed) {
  EngineProbe::RSSTRegion* red = probe.regionAt(0, 0);
  EngineProbe::RSSTRegion* green = probe.regionAt(5, 0);
  const int redLabel = probe.labelAt(0, 0);
  probe.jointProperties_ColortAndContour(green, red);
  const CRSSTContour& survivor = probe.contours[probe.descriptorsOf(red).contourIndex];
  const CRSSTContour& absorbed = probe.contours[probe.descriptorsOf(green).contourIndex];
  std::vector<Pixel> expected;
  for (unsigned y = 0; y < 8; ++y) expected.emplace_back(0, y);
  for (unsigned x : {1u, 2u, 3u, 4u, 5u}) {
    expected.emplace_back(x, 0);
    expected.emplace_back(x, 7);
  }
  for (unsigned y = 0; y < 8; ++y) expected.emplace_back(6, y);
  EXPECT_EQ(pixelsOf(survivor), expected);
  EXPECT_EQ(survivor.regionIndex, redLabel);
  EXPECT_EQ(absorbed.nPixels, 0u);
  EXPECT_EQ(absorbed.length, 0.0f);
  EXPECT_EQ(absorbed.lengthNoIB, 0.0f);
  for (int x = 4; x < 7; ++x)
    for (int y = 0; y < 8; ++y) EXPECT_EQ(probe.labelAt(x, y), redLabel);
  expectStoredPixelsCurrent(probe, red);
}

// A merge by colour alone moves pixels without relabelling them: the contour
// merge that follows must still relabel every pixel the absorbed region holds.
TEST_F(ContourMergeTest, PixelsMovedByAColourOnlyMergeFollowTheirRegion) {
  EngineProbe::RSSTRegion* red = probe.regionAt(0, 0);
  EngineProbe::RSSTRegion* green = probe.regionAt(5, 0);
  EngineProbe::RSSTRegion* blue = probe.regionAt(8, 0);
  const int greenLabel = probe.labelAt(5, 0);
  const int blueLabel = probe.labelAt(8, 0);
  probe.rsst_updateRegion(green, red);  // the engine's colour-only update
  ASSERT_EQ(probe.labelAt(5, 0), greenLabel);
  probe.jointProperties_ColortAndContour(red, blue);
  for (int x = 0; x < 10; ++x)
    for (int y = 0; y < 8; ++y) EXPECT_EQ(probe.labelAt(x, y), blueLabel) << x << "," << y;
  expectStoredPixelsCurrent(probe, blue);
}

TEST_F(ContourMergeTest, MergeJoinsColourModelsAndMeansAndLeavesTheAbsorbedModel) {
  EngineProbe::RSSTRegion* red = probe.regionAt(0, 0);
  EngineProbe::RSSTRegion* green = probe.regionAt(5, 0);
  const double redL = red->meanL;
  const double greenL = green->meanL;
  probe.jointProperties_ColortAndContour(green, red);
  EXPECT_EQ(probe.colorModels[probe.descriptorsOf(red).colorModelIndex].getTotalNumbOfPixels(), 56);
  EXPECT_EQ(probe.colorModels[probe.descriptorsOf(green).colorModelIndex].getTotalNumbOfPixels(), 24);
  EXPECT_DOUBLE_EQ(red->meanL, (24 * greenL + 32 * redL) / 56);
  EXPECT_EQ(red->pixelCount, 32u);  // counts and pixel lists are the merge step's business
}

// The blue dot merges into the green field: the field's codes around it change.
TEST(ContourMergeCodesTest, CodesNearTheAbsorbedRegionAreRecounted) {
  DrawnProbe probe;
  probe.prepare(kQuarterAndDot, 3);
  EngineProbe::RSSTRegion* green = probe.regionAt(11, 11);
  const CRSSTContour& field = probe.contours[probe.descriptorsOf(green).contourIndex];
  ASSERT_EQ(storedCode(field, 5, 4), 51);  // 18 of 25 green: 6 red, 1 blue
  probe.jointProperties_ColortAndContour(probe.regionAt(7, 6), green);
  EXPECT_EQ(storedCode(field, 8, 6), -1);  // no longer a contour pixel
  EXPECT_EQ(storedCode(field, 5, 4), 68);  // 19 of 25
  expectStoredPixelsCurrent(probe, green);
  expectStoredPixelsCurrent(probe, probe.regionAt(0, 0));
}

TEST(ContourPredicateTest, CornersTestOnlyNeighboursInsideTheImage) {
  DrawnProbe probe;
  probe.prepare({"GGGGGG", "GRGGGG", "GGGGGG", "GGGGGG", "GGGGBG", "GGGGGG"}, 3);
  const unsigned red = static_cast<unsigned>(probe.labelAt(1, 1));
  const unsigned blue = static_cast<unsigned>(probe.labelAt(4, 4));
  EXPECT_FALSE(probe.bIsPixelNeigbourWith(red, 0, 0));  // red is only diagonal to the corner
  EXPECT_TRUE(probe.bIsPixelNeigbourWith(red, 1, 0));
  EXPECT_TRUE(probe.bIsPixelNeigbourWith(red, 0, 1));
  EXPECT_FALSE(probe.bIsPixelNeigbourWith(red, 1, 1));  // the pixel itself is not tested
  EXPECT_FALSE(probe.bIsPixelNeigbourWith(blue, 5, 5));
  EXPECT_TRUE(probe.bIsPixelNeigbourWith(blue, 5, 4));
  EXPECT_TRUE(probe.bIsPixelNeigbourWith(blue, 4, 5));

  EXPECT_FALSE(probe.bIsPixel8NeighbourWith(red, 0, 0));  // the whole ring is excluded
  EXPECT_FALSE(probe.bIsPixel8NeighbourWith(red, 1, 0));
  EXPECT_TRUE(probe.bIsPixel8NeighbourWith(red, 1, 1));  // the centre counts
  EXPECT_TRUE(probe.bIsPixel8NeighbourWith(red, 2, 2));
  EXPECT_FALSE(probe.bIsPixel8NeighbourWith(red, 3, 3));
  EXPECT_FALSE(probe.bIsPixel8NeighbourWith(blue, 5, 5));
  EXPECT_TRUE(probe.bIsPixel8NeighbourWith(blue, 3, 3));
}

TEST(ContourPredicateTest, ImageBorderBandReadsNoLabel) {
  EngineProbe probe;  // no label map at all
  probe.borderBandX = 1;
  probe.borderBandY = 2;
  probe.borderLimitX = 4;
  probe.borderLimitY = 3;
  EXPECT_TRUE(probe.bIsImageBorderPixel(0, 3));
  EXPECT_TRUE(probe.bIsImageBorderPixel(1, 1));
  EXPECT_TRUE(probe.bIsImageBorderPixel(5, 2));
  EXPECT_TRUE(probe.bIsImageBorderPixel(2, 4));
  EXPECT_FALSE(probe.bIsImageBorderPixel(1, 2));
  EXPECT_FALSE(probe.bIsImageBorderPixel(4, 3));
}

TEST(ContourPredicateTest, EvenIncludesNegativeNumbers) {
  EngineProbe probe;
  EXPECT_TRUE(probe.bIsEven(-4));
  EXPECT_FALSE(probe.bIsEven(-3));
  EXPECT_TRUE(probe.bIsEven(0));
  EXPECT_FALSE(probe.bIsEven(7));
}

TEST(ContourFailureTest, RecordsAreCountedAndAllocatedOnce) {
  EXPECT_FATAL(
      {
        DrawnProbe probe;
        probe.prepare(kThreeBands, 3);
        probe.allocateContours(1);
      },
      "M_RSST::allocateContours(...), Countours already allocated!");
  EXPECT_FATAL(
      {
        DrawnProbe probe;
        probe.prepare(kThreeBands, 3);
        probe.deallocateContours();
        probe.allocateContours(2);
        probe.extractContours();
      },
      "M_RSST::extractContours(...) -> Number of conours Excided!");
  EXPECT_FATAL(
      {
        EngineProbe probe;
        probe.deallocateContours();
      },
      "M_RSST::deallocateContours(...), Contour NOT allocated!");
}
