// The contour-aware stages as one table: the order processFrame runs them in,
// each with its step name and the limits its link cost tests against.
#pragma once

#include <limits>
#include <string_view>

#include "engine/M_RSST.h"

// A measure above its limit blocks the pair; a measure equal to it passes.
struct StageLimits {
  double color = kNoLimit;   // colorDistance
  double shape = kNoLimit;   // shapeCost
  double border = kNoLimit;  // borderCost
  double own = kNoLimit;     // the stage's own measure, named in its cost function
  double least = 0.0;        // the complexity or jagged share the stage asks for, see its cost

  static constexpr double kNoLimit = std::numeric_limits<double>::infinity();
};

// Stands for the colour threshold of the image, known only once a frame runs.
constexpr double kImageThreshold = -1.0;

struct StageSequence {
  struct Row {
    const char* step;
    void (M_RSST::*stage)();
    StageLimits limits;
  };

  using S = M_RSST::Step;
  // clang-format off
  static constexpr Row kStages[] = {
    // step                 stage                                  colour  shape  border  own   least
    {S::kColorAndContour,   &M_RSST::merge_ColorAndContour,       {kImageThreshold, 0.85, 0.9}},
    {S::kWeakBorders,       &M_RSST::merge_WeakBorders,           {0.08,  0.9,  0.95, 0.9}},   // own: boundary strength
    {S::kVerySmall,         &M_RSST::merge_VerySmall,             {}},                        // a size rule only
    {S::kShapeReduction,    &M_RSST::merge_ShapeComplxReduction,  {0.055, 0.41, 0.5}},
    {S::kVerySimilarColor,  &M_RSST::merge_VerySimilarColor,      {0.018, 0.9,  0.95, 10.0}},  // own: merged complexity
    {S::kSmall,             &M_RSST::merge_Small,                 {0.07,  0.8,  0.7}},
    {S::kJaggedAndSimilar,  &M_RSST::merge_JaggedAndSimilarColor, {0.05,  0.8,  0.8,  0.92}},  // own: jagged border cost
    {S::kRemoveComplex,     &M_RSST::merge_RemoveComplex,         {0.12,  0.9,  0.6,  StageLimits::kNoLimit, 10.0}},
    {S::kRemoveVeryComplex, &M_RSST::merge_RemoveVeryComplex,     {0.2,   0.9,  0.6,  StageLimits::kNoLimit, 11.0}},
    {S::kRemoveJagged,      &M_RSST::merge_RemoveJagged,          {0.07,  0.95, 0.8,  0.95, 0.25}},  // own: jagged border cost
    {S::kCreatesSimple,     &M_RSST::merge_CreatesSimple,         {0.07,  0.5,  0.75, 4.5}},   // own: merged complexity
    {S::kBackground,        &M_RSST::merge_Background,            {0.03}},
    {S::kSmallWithBig,      &M_RSST::merge_SmallWithBig,          {0.1,   0.6,  0.7,  StageLimits::kNoLimit, 5.0}},
    {S::kMediumAndSimilar,  &M_RSST::merge_MediumAndSimilarColor, {0.02,  0.8,  0.8}},
    {S::kMediumAndSimpler,  &M_RSST::merge_MediumAndSimpler,      {0.06,  0.41, 0.5}},
    {S::kForceSmallest,     &M_RSST::forceSmallestAboveFloor,     {}},                        // the smallest region only
  };
  // clang-format on

  // The limits of the stage reported as step; a cost function takes its own
  // limits at compile time, so reordering the rows never moves a limit.
  static constexpr const StageLimits& limitsOf(std::string_view step) {
    for (const Row& row : kStages)
      if (step == row.step) return row.limits;
    return unknownStep();
  }

 private:
  static const StageLimits& unknownStep();  // never defined: an unknown name fails to compile
};
