// Test access to the engine's protected machinery.
#pragma once

#include <utility>

#include "engine/EngineInternals.h"
#include "engine/M_RSST.h"
#include "engine/descriptors/CLUVColorModel.h"
#include "engine/descriptors/CRSSTContour.h"
#include "storage/S_CImageStorage.h"
#include "storage/S_RegionStorage.h"

class EngineProbe : public M_RSST {
 public:
  using M_RSST::RSSTRegion;
  using M_RSST::PairMeasures;
  using M_RSST::kBlockingCost;

  using M_RSST::setSizeDependentParameters;
  using M_RSST::rsst_emalloc;
  using M_RSST::convertInput2LUV;
  using M_RSST::gaussianBlur;
  using M_RSST::rsst_initRSST;
  using M_RSST::rsst_setLink;
  using M_RSST::rsst_upHeapLPA;
  using M_RSST::rsst_reheapLPA;
  using M_RSST::rsst_updateLinks;
  using M_RSST::rsst_recalculateCosts;
  using M_RSST::rsst_merge2Regions;
  using M_RSST::rsst_updateRegion;
  using M_RSST::rsst_searchRLL;
  using M_RSST::countLinks;
  using M_RSST::rsst_freeMemory;
  using M_RSST::merge_AvgColorAndSize;
  using M_RSST::linkCost_ColorAndSize;
  using M_RSST::linkCost_ColorContour;
  using M_RSST::linkCost_WeakBorders;
  using M_RSST::linkCost_VerySmall;
  using M_RSST::linkCost_ShapeComplxReduction;
  using M_RSST::linkCost_VerySimilarColor;
  using M_RSST::linkCost_Small;
  using M_RSST::linkCost_JaggedAndSimilarColor;
  using M_RSST::linkCost_RemoveComplex;
  using M_RSST::linkCost_RemoveVeryComplex;
  using M_RSST::linkCost_RemoveJagged;
  using M_RSST::linkCost_CreateSimple;
  using M_RSST::linkCost_Background;
  using M_RSST::linkCost_SmallWithBig;
  using M_RSST::linkCost_MediumAndSimilarColor;
  using M_RSST::linkCost_MediumAndSimpler;
  using M_RSST::linkCost_ForceSmallest;
  using M_RSST::jointProperties_ColorMean;
  using M_RSST::allocateLUVModels;
  using M_RSST::deallocateLUVModels;
  using M_RSST::extractLUVModels;
  using M_RSST::allocateContours;
  using M_RSST::deallocateContours;
  using M_RSST::extractContours;
  using M_RSST::updateContoursOfMergedReg;
  using M_RSST::jointProperties_ColortAndContour;
  using M_RSST::bIsContourPixel;
  using M_RSST::bIsRContourPixel;
  using M_RSST::bIsImageBorderPixel;
  using M_RSST::bIsPixelNeigbourWith;
  using M_RSST::bIsPixel8NeighbourWith;
  using M_RSST::bIsEven;
  using M_RSST::computeJaggedness4CPixel;
  using M_RSST::computeCPointLength;
  using M_RSST::computeShapeComplexity;
  using M_RSST::geometryIfMerged;
  using M_RSST::geometricCosts;
  using M_RSST::computeJaggOfContours;
  using M_RSST::computeBoundaryStrength;
  using M_RSST::countImageBorderPixels;
  using M_RSST::calcNumberOfCommonPixelsIB;
  using M_RSST::bImageBorderRegions;
  using M_RSST::updateColorThreshold;
  using M_RSST::bIsSmallAndIncluded;
  using M_RSST::bIsSmallest;
  using M_RSST::measurePair;
  using M_RSST::writeOutput;
  using M_RSST::extractLinkNumbers;
  using M_RSST::forEachLiveRegion;
  using M_RSST::writeContours;
  using M_RSST::writeColorShades;
  using M_RSST::writeRegionShades;
  using M_RSST::saveTableAsImage;
  using M_RSST::saveUCHARTableAsImage;
  using M_RSST::calcStat;

  using M_RSST::height;
  using M_RSST::width;
  using M_RSST::heapSize;
  using M_RSST::linkInSlot;
  using M_RSST::costInSlot;
  using M_RSST::linkRecord;
  using M_RSST::nextNode;
  using M_RSST::linkOfNode;
  using M_RSST::nodeOf;
  using M_RSST::regionCount;
  using M_RSST::regions;
  using M_RSST::linkCost;
  using M_RSST::jointProperties;
  using M_RSST::contours;
  using M_RSST::colorModels;
  using M_RSST::frame;
  using M_RSST::heap;
  using M_RSST::contourCount;
  using M_RSST::colorModelCount;
  using M_RSST::statFile;
  using M_RSST::colorThreshold;
  using M_RSST::imageArea;
  using M_RSST::firstStageTarget;
  using M_RSST::includedSizeLimit;
  using M_RSST::verySmallSizeLimit;
  using M_RSST::smallSizeLimit;
  using M_RSST::mediumSizeLimit;
  using M_RSST::wantedRegions;
  using M_RSST::borderBandX;
  using M_RSST::borderBandY;
  using M_RSST::borderLimitX;
  using M_RSST::borderLimitY;
  using M_RSST::jaggednessRadius;
  using M_RSST::useLiteralPaths;

  // The two regions of the cheapest link.
  std::pair<int, int> topLink() { return {linkInSlot(1).regionA, linkInSlot(1).regionB}; }
};
