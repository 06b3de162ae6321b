// Motion elements: a two-component motion vector and an eight-parameter motion model.
#pragma once

#include <algorithm>

#include "veskar_export.h"

// Any other value counts as no model wherever a motion model is tested.
enum MotionModel { MM_NONE = 0, MM_MV2 = 1, MM_MV8 = 2 };

class VESKAR_EXPORT E_MV2 {
 public:
  E_MV2() = default;
  E_MV2(short first, short second) : mvx(first), mvy(second) {}
  E_MV2(const E_MV2&) = default;
  explicit E_MV2(const E_MV2* source) : E_MV2(*source) {}
  E_MV2& operator=(const E_MV2&) = default;

  short mvx = 0;
  short mvy = 0;
};

class VESKAR_EXPORT E_MV8 {
 public:
  E_MV8() = default;
  explicit E_MV8(const float* values) { *this = values; }
  E_MV8(const E_MV8&) = default;
  explicit E_MV8(const E_MV8* source) : E_MV8(*source) {}
  E_MV8& operator=(const E_MV8&) = default;
  E_MV8& operator=(const float* values) {
    std::copy(values, values + 8, p);
    return *this;
  }

  float p[8] = {};
};
