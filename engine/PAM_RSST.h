// The engine's tunable parameters with their defaults.
#pragma once

#include <cstdint>

#include "veskar_export.h"

class VESKAR_EXPORT PAM_RSST {
 public:
  PAM_RSST() { setDefault(); }
  PAM_RSST(const PAM_RSST&) = default;
  PAM_RSST& operator=(const PAM_RSST&) = default;

  void setDefault() {
    firstStageRegions = 255;
    includedSizeRatio = 1.0 / 35.0;
    verySmallSizeRatio = 0.005;
    smallSizeRatio = 0.02;
    mediumSizeRatio = 0.1;
    fastMode = false;
    threadCount = 1;
  }

  uint32_t firstStageRegions;   // region count at which colour-and-size merging stops
  double includedSizeRatio;     // area share below which a region counts as small when enclosed
  double verySmallSizeRatio;
  double smallSizeRatio;
  double mediumSizeRatio;
  // Merges inside tiles first, on threadCount threads: as good, several times
  // faster, but other maps than the default (which stay the same for ever).
  bool fastMode;
  unsigned threadCount;  // threads a frame may use; 0 and 1 both mean the caller's alone
};
