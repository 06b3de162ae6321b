// Placeholder exports of the library.
#include "engine/Veskar.h"

int nVeskar = 0;

CVeskar::CVeskar() {}

int fnVeskar() { return 42; }

const char* veskarVersion() { return VESKAR_VERSION; }
