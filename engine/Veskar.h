// Placeholder exports of the library; nothing uses them.
#pragma once

#include "veskar_export.h"

class VESKAR_EXPORT CVeskar {
 public:
  CVeskar();
  CVeskar& operator=(const CVeskar&) { return *this; }
};

extern VESKAR_EXPORT int nVeskar;
VESKAR_EXPORT int fnVeskar();

// The library's version, "major.minor", as built.
VESKAR_EXPORT const char* veskarVersion();
