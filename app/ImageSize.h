// The largest image Dornick and the Python module take: every storage holds 16-bit sizes.
#pragma once

constexpr unsigned kMaxImageSide = 32767;
inline constexpr char kImageTooLarge[] = "Images wider or higher than 32767 pixels are not supported";
