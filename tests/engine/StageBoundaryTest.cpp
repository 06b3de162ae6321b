// Every limit of every stage cost, probed at the edge: a pair whose measure
// sits exactly on the limit is priced, the nearest value the engine's
// arithmetic gives beyond it is blocked (or the reverse where the stage asks
// for at least a value). The pairs are hand-built, and the value of each
// measure is found by searching the pair's inputs, so the tests hold the
// limits without restating how any measure is computed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "DescriptorStates.h"
#include "EngineSteps.h"

namespace {

using Region = EngineProbe::RSSTRegion;

// The pair's inputs as lengths: the contour length as stored, and the summed
// lengths of its contour pixels that touch the other region (jagged or not)
// and of those that do not.
struct Side {
  uint32_t pixels;
  float length = 64;
  float lengthNoIB = 32;  // the base of the jagged share
  double facing = 32;
  double jaggedFacing = 16;
  double rest = 0;
  double jaggedRest = 0;
};

// A: 16 pels, complexity 16; B: 48 pels, complexity 64/sqrt(48) = 9.2. Every
// gate of the stages holds and every measure sits well inside every limit.
struct PairShape {
  Side a{16};
  Side b{48};
};

// Up to three floats, none negative, whose sum in double is the value.
std::vector<float> piecesOf(double value) {
  std::vector<float> pieces;
  for (int i = 0; i < 3 && value > 0; ++i) {
    float piece = static_cast<float>(value);
    if (piece > value) piece = std::nextafter(piece, 0.0f);
    if (piece > 0) pieces.push_back(piece);
    value -= piece;
  }
  return pieces;
}

class BoundaryProbe : public PairProbe {
 public:
  using Cost = double (M_RSST::*)(RSSTRegion*, RSSTRegion*);

  BoundaryProbe() {
    // Flat planes: every border pixel is a weak colour step.
    for (T_Array<double>* plane : {&frame().smoothL, &frame().smoothU, &frame().smoothV}) {
      double** p = plane->allocateArray(width, height);
      for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y) p[x][y] = 0.0;
    }
    includedSizeLimit = 0;  // no exemption: only the tests decide
    verySmallSizeLimit = 17;
    smallSizeLimit = 17;
    mediumSizeLimit = 49;
    borderBandY = height;  // the whole picture is border band
    colorThreshold = 0.05;
    setColours(2.0, 0.0);
  }

  // A at column 4, B at column 5, rows 1..6, facing each other; the pixels
  // that do not face the other region lie apart, at columns 1 and 8.
  void build(const PairShape& shape) {
    int32_t** map = frame().labelMap.getPtr2Array();
    for (int x = 0; x < width; ++x)
      for (int y = 0; y < height; ++y) map[x][y] = kElsewhere;
    for (int y = 1; y <= 6; ++y) {
      paint(0, 4, y);
      paint(1, 5, y);
    }
    placeSide(0, shape.a, 4, 1);
    placeSide(1, shape.b, 5, 8);
  }

  // Two one-shade models lightness dL apart, both of saturation u.
  void setColours(double dL, double u) {
    for (int i = 0; i < 2; ++i) {
      colorModels[i].resetModel();
      colorModels[i].addShade(50.0 + i * dL, u, 0.0, 1);
    }
  }
  double colourDistance() { return colorModels[0].calcDistanceWith(&colorModels[1]); }

  PairMeasures measures() { return measurePair(a(), b()); }
  double cost(Cost cost) { return (this->*cost)(a(), b()); }
  bool priced(Cost c) { return cost(c) == measures().combinedCost() && cost(c) < kBlockingCost; }
  bool blocked(Cost c) { return cost(c) == kBlockingCost; }

 private:
  void placeSide(int region, const Side& side, int x, int restX) {
    contours[region].reset(width, height);
    int row = 1;
    for (float f : piecesOf(side.jaggedFacing)) place(region, x, row++, f, 100);
    for (float f : piecesOf(side.facing)) place(region, x, row++, f, 0);
    row = 1;
    for (float f : piecesOf(side.jaggedRest)) place(region, restX, row++, f, 100);
    for (float f : piecesOf(side.rest)) place(region, restX, row++, f, 0);
    contours[region].length = side.length;
    contours[region].lengthNoIB = side.lengthNoIB;
    pair[region].pixelCount = side.pixels;
  }
};

// Doubles of one sign are ordered like their bit patterns.
int64_t keyOf(double value) {
  int64_t key;
  std::memcpy(&key, &value, sizeof key);
  return key;
}
double valueOf(int64_t key) {
  double value;
  std::memcpy(&value, &key, sizeof value);
  return value;
}

// Adjacent doubles between from and to (both >= 0) where test turns from
// false to true; test(from) must be false and test(to) true.
std::pair<double, double> edgeBetween(double from, double to, const std::function<bool(double)>& test) {
  int64_t outside = keyOf(from), inside = keyOf(to);
  while (outside - inside > 1 || inside - outside > 1) {
    const int64_t middle = outside + (inside - outside) / 2;
    (test(valueOf(middle)) ? inside : outside) = middle;
  }
  return {valueOf(outside), valueOf(inside)};
}

enum class Measure { Colour, Border, Shape, Strength, Merged, JaggedBorder, JaggedShareA, JaggedShareB };

struct Edge {
  const char* stage;
  BoundaryProbe::Cost cost;
  Measure measure;
  double limit;
  // False where no pair can sit exactly on the limit: a shape cost is 1 minus
  // a gain of at least a half there, so it lands only on multiples of 2^-53,
  // and 0.41 is none. The two nearest values around it are probed instead.
  bool reachable = true;
  uint32_t pixelsOfB = 48;  // 400 puts B's complexity at the 3.5 floor
  // How many doubles from the limit the nearest reachable values may lie: near
  // shape costs of 0.41 and 0.5 the complexity ratio moves the cost in steps.
  int steps = 1;
};

std::string nameOf(Measure m) {
  const char* names[] = {"colour", "border", "shape", "boundary strength", "merged complexity",
                         "jagged border", "jagged share of A", "jagged share of B"};
  return names[static_cast<int>(m)];
}

void PrintTo(const Edge& e, std::ostream* os) { *os << e.stage << ", " << nameOf(e.measure) << " " << e.limit; }

// Shares are asked for at least the limit; every other measure at most.
bool blocksBelow(Measure m) { return m == Measure::JaggedShareA || m == Measure::JaggedShareB; }

// Lengths of a pair whose measure m follows parameter p, everything else as in PairShape.
PairShape shapeFor(const Edge& e, double p) {
  PairShape s;
  s.b.pixels = e.pixelsOfB;
  const Measure m = e.measure;
  const double limit = e.limit;
  switch (m) {
    case Measure::Border:
      s.b.jaggedFacing = limit >= 0.9 ? 2 : 8;
      s.b.facing = p;
      break;
    case Measure::Strength:  // A has the shorter contour on a tie: its weak pixels count
      s.a.jaggedFacing = 2;
      s.a.facing = p;
      break;
    case Measure::Shape:  // the merged complexity grows with the pixels apart
      s.a.rest = p;
      break;
    case Measure::Merged:
      s.a.rest = p;
      break;
    case Measure::JaggedBorder:
      s.b.jaggedFacing = p;
      break;
    case Measure::JaggedShareA:
    case Measure::JaggedShareB:
      s.a.jaggedFacing = s.b.jaggedFacing = 4;
      (m == Measure::JaggedShareA ? s.a : s.b).jaggedRest = p;
      break;
    case Measure::Colour:
      break;
  }
  return s;
}

double valueOf(BoundaryProbe& probe, Measure m) {
  double jaggedBorder = 0, shareA = 0, shareB = 0;
  unsigned common = 0;
  probe.computeJaggOfContours(probe.a(), probe.b(), jaggedBorder, common, shareA, shareB);
  const EngineProbe::PairMeasures pm = probe.measures();
  switch (m) {
    case Measure::Colour: return pm.colorDistance;
    case Measure::Border: return pm.borderCost;
    case Measure::Shape: return pm.shapeCost;
    case Measure::Strength: return probe.computeBoundaryStrength(probe.a(), probe.b());
    case Measure::Merged: return pm.mergedComplexity;
    case Measure::JaggedBorder: return jaggedBorder;
    case Measure::JaggedShareA: return shareA;
    case Measure::JaggedShareB: return shareB;
  }
  return 0;
}

// Models whose distance is exactly target: the lightness step is searched for
// each of a run of saturations until one lands on it.
bool setColourDistance(BoundaryProbe& probe, double target) {
  for (int i = 0; i < 4000; ++i) {
    const double u = 10.0 + i * 3e-14;
    const auto [below, atOrAbove] = edgeBetween(0.0, 200.0, [&](double dL) {
      probe.setColours(dL, u);
      return probe.colourDistance() >= target;
    });
    probe.setColours(atOrAbove, u);
    if (probe.colourDistance() == target) return true;
  }
  return false;
}

// The two sides of the limit: the value nearest to it that passes and the
// nearest that blocks, as far as the pair's inputs can move the measure.
struct Sides {
  double passing, blocking;
};

Sides probeEdge(BoundaryProbe& probe, const Edge& e, bool& ok) {
  const double beyond = std::nextafter(e.limit, blocksBelow(e.measure) ? 0.0 : 2.0 * e.limit + 1);
  if (e.measure == Measure::Colour) {
    probe.build(PairShape{});
    ok = setColourDistance(probe, e.limit);
    const double passing = valueOf(probe, e.measure);
    const bool passes = probe.priced(e.cost);
    ok = ok && setColourDistance(probe, beyond);
    EXPECT_TRUE(passes) << e.stage << ": colour distance equal to " << e.limit << " is blocked";
    EXPECT_TRUE(probe.blocked(e.cost)) << e.stage << ": colour distance just above " << e.limit << " is priced";
    return {passing, valueOf(probe, e.measure)};
  }
  const auto build = [&](double p) { probe.build(shapeFor(e, p)); };
  const auto isBeyond = [&](double p) {
    build(p);
    const double v = valueOf(probe, e.measure);
    return blocksBelow(e.measure) ? v < e.limit : v > e.limit;
  };
  // Each family runs from well inside the limit (parameter 0 or the far end) to well beyond it.
  double inside = 0.0, outside = 4000.0;
  if (!isBeyond(outside)) std::swap(inside, outside);
  if (isBeyond(inside) || !isBeyond(outside)) {
    ADD_FAILURE() << e.stage << ": the " << nameOf(e.measure) << " family does not cross " << e.limit;
    ok = false;
    return {0, 0};
  }
  const auto [pass, block] = edgeBetween(inside, outside, isBeyond);
  build(pass);
  const double passing = valueOf(probe, e.measure);
  EXPECT_TRUE(probe.priced(e.cost)) << e.stage << ": " << nameOf(e.measure) << " " << passing << " is blocked";
  build(block);
  const double blocking = valueOf(probe, e.measure);
  EXPECT_TRUE(probe.blocked(e.cost)) << e.stage << ": " << nameOf(e.measure) << " " << blocking << " is priced";
  ok = true;
  return {passing, blocking};
}

class StageEdgeTest : public testing::TestWithParam<Edge> {};

TEST_P(StageEdgeTest, LimitPassesAndTheNextValueBeyondBlocks) {
  const Edge& e = GetParam();
  BoundaryProbe probe;
  probe.build(PairShape{});
  ASSERT_TRUE(probe.priced(e.cost)) << e.stage << " blocks the base pair";
  bool ok = false;
  const Sides sides = probeEdge(probe, e, ok);
  ASSERT_TRUE(ok) << e.stage << ": no pair found at the " << nameOf(e.measure) << " limit";
  const double away = blocksBelow(e.measure) ? 0.0 : 2.0 * e.limit + 1;
  double farthest = e.limit, nearest = e.limit;
  for (int i = 0; i < e.steps; ++i) {
    farthest = std::nextafter(farthest, away);
    nearest = std::nextafter(nearest, -away);
  }
  const std::string what = std::string(e.stage) + ", " + nameOf(e.measure) + " limit " + std::to_string(e.limit);
  if (e.reachable) {
    EXPECT_EQ(sides.passing, e.limit) << what;
  } else {
    EXPECT_NE(sides.passing, e.limit) << what << " can be reached after all";
    EXPECT_TRUE(blocksBelow(e.measure) ? sides.passing <= nearest : sides.passing >= nearest) << what;
  }
  EXPECT_NE(sides.blocking, e.limit) << what;
  EXPECT_TRUE(blocksBelow(e.measure) ? sides.blocking >= farthest : sides.blocking <= farthest)
      << what << ": first blocked value " << sides.blocking;
}

using P = BoundaryProbe;
const Edge kEdges[] = {
    {"colour and contour", &P::linkCost_ColorContour, Measure::Colour, 0.05},  // the threshold of the probe
    {"colour and contour", &P::linkCost_ColorContour, Measure::Shape, 0.85},
    {"colour and contour", &P::linkCost_ColorContour, Measure::Border, 0.9},
    {"weak borders", &P::linkCost_WeakBorders, Measure::Colour, 0.08},
    {"weak borders", &P::linkCost_WeakBorders, Measure::Shape, 0.9},
    {"weak borders", &P::linkCost_WeakBorders, Measure::Border, 0.95},
    {"weak borders", &P::linkCost_WeakBorders, Measure::Strength, 0.9},
    {"shape reduction", &P::linkCost_ShapeComplxReduction, Measure::Colour, 0.055},
    {"shape reduction", &P::linkCost_ShapeComplxReduction, Measure::Shape, 0.41, false, 48, 4},
    {"shape reduction", &P::linkCost_ShapeComplxReduction, Measure::Border, 0.5},
    {"very similar colour", &P::linkCost_VerySimilarColor, Measure::Colour, 0.018},
    // Its shape limit 0.9 never decides: a merged complexity of at most 10 over
    // parts of at least 3.5 keeps the shape cost below 0.87.
    {"very similar colour", &P::linkCost_VerySimilarColor, Measure::Border, 0.95},
    {"very similar colour", &P::linkCost_VerySimilarColor, Measure::Merged, 10.0},
    {"small", &P::linkCost_Small, Measure::Colour, 0.07},
    {"small", &P::linkCost_Small, Measure::Shape, 0.8},
    {"small", &P::linkCost_Small, Measure::Border, 0.7},
    {"jagged and similar", &P::linkCost_JaggedAndSimilarColor, Measure::Colour, 0.05},
    {"jagged and similar", &P::linkCost_JaggedAndSimilarColor, Measure::Shape, 0.8},
    {"jagged and similar", &P::linkCost_JaggedAndSimilarColor, Measure::Border, 0.8},
    {"jagged and similar", &P::linkCost_JaggedAndSimilarColor, Measure::JaggedBorder, 0.92},
    {"remove complex", &P::linkCost_RemoveComplex, Measure::Colour, 0.12},
    {"remove complex", &P::linkCost_RemoveComplex, Measure::Shape, 0.9},
    {"remove complex", &P::linkCost_RemoveComplex, Measure::Border, 0.6},
    {"remove very complex", &P::linkCost_RemoveVeryComplex, Measure::Colour, 0.2},
    {"remove very complex", &P::linkCost_RemoveVeryComplex, Measure::Shape, 0.9},
    {"remove very complex", &P::linkCost_RemoveVeryComplex, Measure::Border, 0.6},
    {"remove jagged", &P::linkCost_RemoveJagged, Measure::Colour, 0.07},
    {"remove jagged", &P::linkCost_RemoveJagged, Measure::Shape, 0.95},
    {"remove jagged", &P::linkCost_RemoveJagged, Measure::Border, 0.8},
    {"remove jagged", &P::linkCost_RemoveJagged, Measure::JaggedBorder, 0.95},
    {"remove jagged", &P::linkCost_RemoveJagged, Measure::JaggedShareA, 0.25},
    {"remove jagged", &P::linkCost_RemoveJagged, Measure::JaggedShareB, 0.25},
    {"creates simple", &P::linkCost_CreateSimple, Measure::Colour, 0.07},
    {"creates simple", &P::linkCost_CreateSimple, Measure::Shape, 0.5, true, 400, 4},  // merged at most 4.5
    {"creates simple", &P::linkCost_CreateSimple, Measure::Border, 0.75},
    {"creates simple", &P::linkCost_CreateSimple, Measure::Merged, 4.5},
    {"background", &P::linkCost_Background, Measure::Colour, 0.03},
    {"small with big", &P::linkCost_SmallWithBig, Measure::Colour, 0.1},
    {"small with big", &P::linkCost_SmallWithBig, Measure::Shape, 0.6},
    {"small with big", &P::linkCost_SmallWithBig, Measure::Border, 0.7},
    {"medium and similar", &P::linkCost_MediumAndSimilarColor, Measure::Colour, 0.02},
    {"medium and similar", &P::linkCost_MediumAndSimilarColor, Measure::Shape, 0.8},
    {"medium and similar", &P::linkCost_MediumAndSimilarColor, Measure::Border, 0.8},
    {"medium and simpler", &P::linkCost_MediumAndSimpler, Measure::Colour, 0.06},
    {"medium and simpler", &P::linkCost_MediumAndSimpler, Measure::Shape, 0.41, false, 48, 4},
    {"medium and simpler", &P::linkCost_MediumAndSimpler, Measure::Border, 0.5},
};

INSTANTIATE_TEST_SUITE_P(Stages, StageEdgeTest, testing::ValuesIn(kEdges),
                         [](const testing::TestParamInfo<Edge>& info) {
                           std::string name = std::string(info.param.stage) + "_" + nameOf(info.param.measure);
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// Size gates: a region of exactly the limit is not small (or medium); one
// pixel less is. The limits are set on the probe, the stages' setters are
// held by the size-limit and stage-order tests.
struct SizeGate {
  const char* stage;
  BoundaryProbe::Cost cost;
  uint32_t BoundaryProbe::*limit;
  bool both;  // both regions must be below the limit, not just one
};

void PrintTo(const SizeGate& g, std::ostream* os) { *os << g.stage; }

class SizeGateTest : public testing::TestWithParam<SizeGate> {};

TEST_P(SizeGateTest, ExactlyTheLimitIsNotBelowIt) {
  const SizeGate& g = GetParam();
  BoundaryProbe probe;
  const uint32_t limit = probe.*g.limit;
  for (const bool sideA : {true, false}) {
    PairShape shape;
    Side& probed = sideA ? shape.a : shape.b;
    Side& other = sideA ? shape.b : shape.a;
    other.pixels = g.both ? limit - 1 : limit;
    probed.pixels = limit - 1;
    probe.build(shape);
    EXPECT_TRUE(probe.priced(g.cost)) << g.stage << (sideA ? ", A" : ", B") << " one below the limit";
    probed.pixels = limit;
    probe.build(shape);
    EXPECT_TRUE(probe.blocked(g.cost)) << g.stage << (sideA ? ", A" : ", B") << " at the limit";
  }
}

INSTANTIATE_TEST_SUITE_P(Stages, SizeGateTest,
                         testing::Values(SizeGate{"very small", &P::linkCost_VerySmall, &P::verySmallSizeLimit, false},
                                         SizeGate{"small", &P::linkCost_Small, &P::smallSizeLimit, false},
                                         SizeGate{"small with big", &P::linkCost_SmallWithBig, &P::smallSizeLimit, false},
                                         SizeGate{"medium and similar", &P::linkCost_MediumAndSimilarColor,
                                                  &P::mediumSizeLimit, true},
                                         SizeGate{"medium and simpler", &P::linkCost_MediumAndSimpler,
                                                  &P::mediumSizeLimit, true}),
                         [](const testing::TestParamInfo<SizeGate>& info) {
                           std::string name = info.param.stage;
                           for (char& c : name)
                             if (c == ' ') c = '_';
                           return name;
                         });

// Complexity gates, with 16 pixels per region so that the complexity is a
// quarter of the contour length: the remove stages need one region at least as
// complex as their gate (A counted in single precision), small-with-big needs
// both more complex than 5.
TEST(ComplexityGateEdgeTest, RemoveStagesOpenAtTheirGateAndCloseBelow) {
  for (const auto& [gate, cost] : {std::pair(10.0f, &P::linkCost_RemoveComplex), std::pair(11.0f, &P::linkCost_RemoveVeryComplex)}) {
    for (const bool sideA : {true, false}) {
      BoundaryProbe probe;
      PairShape shape;
      shape.a.pixels = shape.b.pixels = 16;
      shape.a.facing = shape.b.facing = 8;
      shape.a.length = shape.b.length = 36.0f;  // complexity 9
      Side& probed = sideA ? shape.a : shape.b;
      probed.length = 4 * gate;
      probe.build(shape);
      EXPECT_EQ(probe.computeShapeComplexity(sideA ? probe.a() : probe.b()), gate);
      EXPECT_TRUE(probe.priced(cost)) << gate << (sideA ? ", A" : ", B") << " exactly at the gate";
      probed.length = std::nextafter(4 * gate, 0.0f);
      probe.build(shape);
      EXPECT_TRUE(probe.blocked(cost)) << gate << (sideA ? ", A" : ", B") << " just below the gate";
    }
  }
}

TEST(ComplexityGateEdgeTest, SmallWithBigNeedsBothAboveFive) {
  for (const bool sideA : {true, false}) {
    BoundaryProbe probe;
    PairShape shape;
    shape.a.pixels = shape.b.pixels = 16;
    shape.a.facing = shape.b.facing = 8;
    shape.a.length = shape.b.length = 24.0f;  // complexity 6
    Side& probed = sideA ? shape.a : shape.b;
    probed.length = std::nextafter(20.0f, 21.0f);
    probe.build(shape);
    EXPECT_TRUE(probe.priced(&P::linkCost_SmallWithBig)) << (sideA ? "A" : "B") << " just above 5";
    probed.length = 20.0f;
    probe.build(shape);
    EXPECT_EQ(probe.computeShapeComplexity(sideA ? probe.a() : probe.b()), 5.0);
    EXPECT_TRUE(probe.blocked(&P::linkCost_SmallWithBig)) << (sideA ? "A" : "B") << " exactly 5";
  }
}

// The exemption bound: a lone region one pixel below the inclusion size
// merges although every test fails; at the bound it does not.
TEST(ExemptionEdgeTest, OnePixelBelowTheInclusionSizeIsExempt) {
  BoundaryProbe probe;
  probe.includedSizeLimit = 16;
  probe.setColours(100.0, 0.0);  // fails every colour test
  PairShape shape;
  shape.a.pixels = 15;
  probe.build(shape);
  EXPECT_TRUE(probe.priced(&P::linkCost_ShapeComplxReduction));
  shape.a.pixels = 16;
  probe.build(shape);
  EXPECT_TRUE(probe.blocked(&P::linkCost_ShapeComplxReduction));
}

}  // namespace

// The force stage merges while the count is above the floor and stops on it.
TEST(ForceStageEdgeTest, StopsExactlyOnTheRegionFloor) {
  S_CImageStorage image;
  drawNoisyScene(image, {"RGBY", "KWCM", "OgRB"}, 6, 20, 11);
  StepRecorder unforced;
  S_RegionStorage result;
  unforced.processFrame(image, result, 2, 1000, 0);
  ASSERT_GE(unforced.counts.size(), 2u);
  const uint32_t left = unforced.counts[unforced.counts.size() - 2].second;  // after the force stage
  ASSERT_GT(left, 4u) << "the scene must leave the force stage something to do";
  for (const uint32_t floor : {left - 1, 3u}) {
    M_RSST engine;
    engine.processFrame(image, result, 2, floor, 0);
    EXPECT_EQ(result.getRegionNumber(), static_cast<int>(floor));
  }
}
