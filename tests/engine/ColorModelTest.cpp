// Tests of the region colour model: dominant shades, distances, merging, listing and empty models.
#include "engine/descriptors/CLUVColorModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Counts = std::vector<unsigned>;
using Values = std::vector<double>;

Counts countsOf(const ColorShade* list) {
  Counts counts;
  for (; list != nullptr; list = list->next) counts.push_back(list->numbOfPixels);
  return counts;
}

Values weightsOf(const ColorShade* list) {
  Values weights;
  for (; list != nullptr; list = list->next) weights.push_back(list->pi);
  return weights;
}

Values lightnessesOf(const ColorShade* list) {
  Values values;
  for (; list != nullptr; list = list->next) values.push_back(list->L);
  return values;
}

// Shades 20 apart in L, so no two are neighbours: L = 0, 20, 40, ...
void addApart(CLUVColorModel& model, std::initializer_list<int> counts) {
  double L = 0.0;
  for (int n : counts) {
    model.addShade(L, 0.0, 0.0, n);
    L += 20.0;
  }
}

std::string printed(CLUVColorModel& model) {
  FILE* file = std::tmpfile();
  model.printShadeLists(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

}  // namespace

class DominantShadeTest : public testing::Test {
 protected:
  Counts dominantCounts() { return countsOf(model.getDominantShadeList()); }
  CLUVColorModel model;
};

TEST_F(DominantShadeTest, SeventyThirtyKeepsBothLargestFirst) {
  addApart(model, {30, 70});
  EXPECT_EQ(dominantCounts(), (Counts{70, 30}));
  EXPECT_EQ(weightsOf(model.getDominantShadeList()), (Values{0.7, 0.3}));
  EXPECT_EQ(countsOf(model.getFullShadeList()), (Counts{30, 70}));
}

TEST_F(DominantShadeTest, EightyTwentyDropsAShadeAtExactlyAFifth) {
  addApart(model, {20, 80});
  EXPECT_EQ(dominantCounts(), Counts{80});
  EXPECT_EQ(weightsOf(model.getDominantShadeList()), Values{1.0});
}

TEST_F(DominantShadeTest, SizeStepStopsOnceAFifthIsCoveredAndTiesGoToListOrder) {
  addApart(model, {10, 10, 10, 10, 10, 10, 10, 10, 10, 10});
  EXPECT_EQ(lightnessesOf(model.getDominantShadeList()), (Values{0.0, 20.0}));
  CLUVColorModel tied;
  addApart(tied, {10, 45, 45});
  EXPECT_EQ(lightnessesOf(tied.getDominantShadeList()), (Values{20.0, 40.0}));
}

TEST_F(DominantShadeTest, BelowFivePixelsDenseShadesAreTakenInListOrder) {
  addApart(model, {1, 3});
  EXPECT_EQ(dominantCounts(), (Counts{1, 3}));
  EXPECT_EQ(weightsOf(model.getDominantShadeList()), (Values{0.25, 0.75}));
}

TEST_F(DominantShadeTest, ShadesCloserThanFifteenCountEachOther) {
  model.addShade(20.0, 0.0, 0.0, 76);
  model.addShade(80.0, 0.0, 0.0, 12);
  model.addShade(80.0, 14.9, 0.0, 12);  // counts the 12 above although it is already taken
  EXPECT_EQ(dominantCounts(), (Counts{76, 12, 12}));
  CLUVColorModel atFifteen;
  atFifteen.addShade(20.0, 0.0, 0.0, 76);
  atFifteen.addShade(80.0, 0.0, 0.0, 12);
  atFifteen.addShade(80.0, 15.0, 0.0, 12);
  EXPECT_EQ(countsOf(atFifteen.getDominantShadeList()), Counts{76});
}

TEST_F(DominantShadeTest, SaturationIsAveragedOverDominantShadesOnly) {
  model.addShade(20.0, 3.0, 4.0, 70);
  model.addShade(80.0, 6.0, -8.0, 30);
  model.addShade(50.0, 60.0, 80.0, 10);  // saturation 100, too small to be dominant
  EXPECT_EQ(model.getAvgSaturation(), 6.5);
}

TEST(ModelMergeTest, AddColorModelConcatenatesAndLeavesTheOtherAlone) {
  CLUVColorModel survivor, absorbed;
  addApart(survivor, {30});
  absorbed.addShade(40.0, 0.0, 0.0, 50);
  absorbed.addShade(80.0, 0.0, 0.0, 20);
  survivor.addColorModel(&absorbed);
  EXPECT_EQ(countsOf(survivor.getFullShadeList()), (Counts{30, 50, 20}));
  EXPECT_EQ(lightnessesOf(survivor.getFullShadeList()), (Values{0.0, 40.0, 80.0}));
  EXPECT_EQ(survivor.getTotalNumbOfPixels(), 100);
  EXPECT_EQ(countsOf(survivor.getDominantShadeList()), (Counts{50, 30}));
  EXPECT_EQ(countsOf(absorbed.getFullShadeList()), (Counts{50, 20}));
  EXPECT_EQ(absorbed.getTotalNumbOfPixels(), 70);
  EXPECT_EQ(countsOf(absorbed.getDominantShadeList()), (Counts{50, 20}));
  EXPECT_NE(survivor.getFullShadeList()->next, absorbed.getFullShadeList());
}

TEST(ModelMergeTest, AddingAModelToItselfDoublesItOnce) {
  CLUVColorModel model;
  addApart(model, {30, 70});
  model.addColorModel(&model);
  EXPECT_EQ(countsOf(model.getFullShadeList()), (Counts{30, 70, 30, 70}));
  EXPECT_EQ(model.getTotalNumbOfPixels(), 200);
}

TEST(ColorDistanceTest, OneShadeModelsAreApartByShadeDistanceOver267) {
  CLUVColorModel grey, red, far, empty;
  grey.addShade(50.0, 0.0, 0.0, 100);
  red.addShade(50.0, 30.0, 40.0, 100);
  far.addShade(150.0, 200.0, 200.0, 100);
  EXPECT_DOUBLE_EQ(grey.calcDistanceWithO(&empty), 0.5);  // half the model's psqr of 1
  EXPECT_NEAR(grey.calcDistanceWithO(&red), 50.0 / 267, 1e-15);
  EXPECT_NEAR(grey.calcDistanceWithO(&far), 300.0 / 267, 1e-15);
  EXPECT_GT(grey.calcDistanceWithO(&far), 1.0);
}

TEST(ColorDistanceTest, WeightingUsesTheLowerSaturation) {
  CLUVColorModel pale, vivid;
  pale.addShade(50.0, 6.0, 8.0, 100);
  vivid.addShade(50.0, 30.0, 40.0, 100);
  EXPECT_NEAR(pale.calcDistanceWith(&vivid), 40.0 / 267 * 0.95, 1e-15);
  EXPECT_NEAR(vivid.calcDistanceWith(&pale), 40.0 / 267 * 0.95, 1e-15);
}

TEST(ColorDistanceTest, TwoShadeModelMatchesHandWorkedSums) {
  CLUVColorModel mixed, grey, empty;
  mixed.addShade(50.0, 0.0, 0.0, 70);
  mixed.addShade(50.0, 36.0, 48.0, 30);  // 60 from the first shade
  grey.addShade(50.0, 0.0, 0.0, 100);
  const double a = 1 - 60.0 / 267;
  EXPECT_NEAR(mixed.calcDistanceWithO(&empty), (0.58 + 0.42 * a) / 2, 1e-15);
  EXPECT_NEAR(mixed.calcDistanceWithO(&grey), 0.09 * 60.0 / 267, 1e-15);
}

TEST(ColorDistanceTest, SelfDistanceIsZeroAndPairsAreSymmetric) {
  CLUVColorModel p, q;
  p.addShade(30.0, 5.0, -10.0, 50);
  p.addShade(70.0, 40.0, 20.0, 30);
  p.addShade(72.0, 35.0, 25.0, 20);
  q.addShade(40.0, -20.0, 30.0, 60);
  q.addShade(90.0, 10.0, 10.0, 40);
  EXPECT_EQ(p.calcDistanceWith(&p), 0.0);
  EXPECT_EQ(p.calcDistanceWithO(&p), 0.0);
  EXPECT_GT(p.calcDistanceWith(&q), 0.0);
  EXPECT_DOUBLE_EQ(p.calcDistanceWith(&q), q.calcDistanceWith(&p));
  EXPECT_DOUBLE_EQ(p.calcDistanceWithO(&q), q.calcDistanceWithO(&p));
}

TEST(ShadeListingTest, ListsFullThenDominantShades) {
  CLUVColorModel model;
  EXPECT_EQ(printed(model), "\nCOLOR MODEL:\nfull list:\n\nCOLOR MODEL:\ndominant list:\n\n");
  model.addShade(50.0, -3.5, 7.25, 20);
  model.addShade(62.5, 10.0, -20.0, 80);
  EXPECT_EQ(printed(model),
            "\nCOLOR MODEL:\nfull list:\n"
            "\n\t(50.00,-3.50, 7.25, 20)\n\t(62.50,10.00,-20.00, 80)"
            "\nCOLOR MODEL:\ndominant list:\n"
            "\n\t(62.50,10.00,-20.00, 80)\n");
}

TEST(EmptyModelTest, EmptyAndPixelFreeModelsGiveZeroNotNaN) {
  CLUVColorModel empty, other, pixelFree;
  double L = 1.0, u = 1.0, v = 1.0;
  empty.getAverageColor(empty.getFullShadeList(), L, u, v);
  EXPECT_EQ(Values({L, u, v}), (Values{0.0, 0.0, 0.0}));
  empty.addColorModel(&other);
  EXPECT_EQ(empty.getAvgSaturation(), 0.0);
  EXPECT_EQ(empty.calcDistanceWith(&other), 0.0);
  pixelFree.addShade(50.0, 30.0, 40.0, 0);
  EXPECT_EQ(pixelFree.getDominantShadeList(), nullptr);
  EXPECT_EQ(pixelFree.getAvgSaturation(), 0.0);
  pixelFree.getAverageColor(pixelFree.getFullShadeList(), L, u, v);
  EXPECT_FALSE(std::isnan(L) || std::isnan(u) || std::isnan(v));
}

TEST(EmptyModelTest, ResetReturnsTheModelToItsEmptyState) {
  CLUVColorModel model, empty;
  addApart(model, {30, 70});
  EXPECT_EQ(model.resetModel(), 1);
  EXPECT_EQ(model.getFullShadeList(), nullptr);
  EXPECT_EQ(model.getDominantShadeList(), nullptr);
  EXPECT_EQ(model.getTotalNumbOfPixels(), 0);
  EXPECT_EQ(model.getAvgSaturation(), 0.0);
  EXPECT_EQ(model.calcDistanceWithO(&empty), 0.0);
  model.addShade(10.0, 0.0, 0.0, 5);
  EXPECT_EQ(countsOf(model.getFullShadeList()), Counts{5});
}
