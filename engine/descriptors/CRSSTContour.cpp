// Contour records carry no out-of-line code; this unit keeps the class exported.
#include "engine/descriptors/CRSSTContour.h"
