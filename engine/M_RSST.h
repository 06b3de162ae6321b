// The region-merging segmentation engine: a recursive shortest spanning tree
// over a region adjacency graph, merged in seventeen stages. The layout of
// the graph's records (engine/GraphRecords.h) and of the frame's memory
// (engine/EngineInternals.h) stays with the engine's own files.
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/PAM_RSST.h"
#include "veskar_export.h"

class CLUVColorModel;
class CRSSTContour;
class S_CImageStorage;
class S_RegionStorage;
class LinkHeap;
struct EngineScratch;
struct FrameWorkspace;
struct PixelBox;
struct RSSTLink;

// The parameter fields come first and are public: a caller tunes an engine by
// setting them (or assigning a PAM_RSST to it) before processFrame.
class VESKAR_EXPORT M_RSST : public PAM_RSST {
 public:
  struct RSSTRegion;             // a region record
  struct RSSTRegionDescriptors;  // what only the contour stages use of a region

  using LinkCostFunction = double (M_RSST::*)(RSSTRegion*, RSSTRegion*);
  using JointPropertiesFunction = void (M_RSST::*)(RSSTRegion*, RSSTRegion*);

  static constexpr double kBlockingCost = 1000000.0;

  M_RSST();
  virtual ~M_RSST();
  M_RSST(const M_RSST&) = delete;
  // Copies parameters and configuration; work memory is never shared.
  M_RSST& operator=(const M_RSST& other);

  void processFrame(S_CImageStorage& image, S_RegionStorage& result, unsigned wanted,
                    unsigned regionFloor, unsigned margin);

  // The names processFrame reports its steps by, in pipeline order. Compare
  // the text, not the pointer: each library and program may hold its own copy.
  struct VESKAR_NO_EXPORT Step {
    static constexpr char kConversion[] = "conversion";
    static constexpr char kBlur[] = "blur";
    static constexpr char kGraph[] = "graph";
    static constexpr char kFirstStage[] = "first stage";
    static constexpr char kModels[] = "models";
    static constexpr char kContours[] = "contours";
    static constexpr char kThreshold[] = "threshold";
    static constexpr char kColorAndContour[] = "colour and contour";
    static constexpr char kWeakBorders[] = "weak borders";
    static constexpr char kVerySmall[] = "very small";
    static constexpr char kShapeReduction[] = "shape reduction";
    static constexpr char kVerySimilarColor[] = "very similar colour";
    static constexpr char kSmall[] = "small";
    static constexpr char kJaggedAndSimilar[] = "jagged and similar";
    static constexpr char kRemoveComplex[] = "remove complex";
    static constexpr char kRemoveVeryComplex[] = "remove very complex";
    static constexpr char kRemoveJagged[] = "remove jagged";
    static constexpr char kCreatesSimple[] = "creates simple";
    static constexpr char kBackground[] = "background";
    static constexpr char kSmallWithBig[] = "small with big";
    static constexpr char kMediumAndSimilar[] = "medium and similar";
    static constexpr char kMediumAndSimpler[] = "medium and simpler";
    static constexpr char kForceSmallest[] = "force smallest";
    static constexpr char kOutput[] = "output";
  };

  // Called after each step with its name (a Step text) and the region count
  // at that moment, e.g. to show progress on long runs. It must not throw.
  using ProgressObserver = void (*)(const char* step, unsigned regionCount, void* context);
  // Installs observer (nullptr removes it); context is passed back unchanged.
  void setProgressObserver(ProgressObserver observer, void* context = nullptr);

 protected:
  // Called after each step of processFrame with the step's name; an
  // instrumenting subclass (a benchmark, a dump) overrides it.
  virtual void stepDone(const char* step) { (void)step; }

  // The accelerated steps exist twice with the same results: fast versions
  // (the default) and literal ones that follow the definitions step by step,
  // kept for the tests that compare both. The choice is made here only.
  void useLiteralPaths(bool literal);

  // Pipeline steps and size-dependent limits.
  void setSizeDependentParameters();
  void* rsst_emalloc(long long size);
  void convertInput2LUV(S_CImageStorage* image, unsigned margin);
  void gaussianBlur();

  // Region graph and link heap.
  void rsst_initRSST();
  void rsst_initRegionsArray();
  void rsst_initLinks();
  void rsst_initPL();
  void rsst_setLink(int a, int b);
  unsigned rsst_upHeapLPA(unsigned k);
  unsigned rsst_reheapLPA(unsigned k);
  void rsst_updateLinks(int absorbed, int survivor);
  void rsst_recalculateCosts();
  int rsst_merge2Regions();
  void rsst_updateRegion(RSSTRegion* from, RSSTRegion* into);
  void rsst_insertElementRLL(uint32_t node, uint32_t* head);
  int rsst_searchRLL(uint32_t list, int regionIndex);
  unsigned countLinks(uint32_t list);
  // Releases everything the frame took.
  void rsst_freeMemory();
  static double mergingOrder(double a, double b, double c) { return 3 * a + b + c; }

  // Views of the frame's link heap and records, by slot and by id; a region's
  // list goes on through nextNode (see engine/GraphRecords.h).
  uint32_t heapSize();
  RSSTLink& linkInSlot(uint32_t k);
  double costInSlot(uint32_t k);
  RSSTLink& linkRecord(uint32_t id);
  uint32_t& nextNode(uint32_t node);
  // The frame's memory and link heap, for the engine's own files and the
  // subclasses built with them (engine/EngineInternals.h).
  VESKAR_NO_EXPORT inline FrameWorkspace& frame();
  VESKAR_NO_EXPORT inline LinkHeap& heap();
  VESKAR_NO_EXPORT inline RSSTRegionDescriptors& descriptorsOf(const RSSTRegion* r);
  // Calls visit(pixelIndex) for the region's pixels in list order.
  template <class Visit>
  void forEachPixelOf(const RSSTRegion& r, const Visit& visit) const;

  // Calls visit(regionIndex, pixelCount) once per live region: heap slots in
  // order, each link's regionA before its regionB. The pixel count serves as
  // the visited mark during the walk (hence passed in) and is restored after.
  template <class Visit>
  void forEachLiveRegion(const Visit& visit) {
    forEachLiveRegionCalling(
        [](const void* v, int index, uint32_t pixelCount) { (*static_cast<const Visit*>(v))(index, pixelCount); },
        &visit);
  }
  void forEachLiveRegionCalling(void (*call)(const void* visit, int, uint32_t), const void* visit);

  // First stage.
  void merge_AvgColorAndSize(bool recompute, unsigned target);
  double linkCost_ColorAndSize(RSSTRegion* p, RSSTRegion* q);
  void jointProperties_ColorMean(RSSTRegion* from, RSSTRegion* into);

  // Colour models.
  int allocateLUVModels(int n);
  int deallocateLUVModels();
  void extractLUVModels();

  // Contours and the label map.
  int allocateContours(int n);
  int deallocateContours();
  void extractContours();
  void updateContoursOfMergedReg(RSSTRegion* from, RSSTRegion* into);
  void jointProperties_ColortAndContour(RSSTRegion* from, RSSTRegion* into);
  bool bIsContourPixel(int x, int y);
  bool bIsRContourPixel(int x, int y);
  bool bIsImageBorderPixel(int x, int y);
  bool bIsPixelNeigbourWith(unsigned int label, int x, int y);
  bool bIsPixel8NeighbourWith(unsigned int label, int x, int y);
  bool bIsEven(int n) { return n % 2 == 0; }
  unsigned char computeJaggedness4CPixel(int x, int y);
  double computeCPointLength(int x, int y);

  // Geometry measures (read-only).
  double computeShapeComplexity(RSSTRegion* r);
  void geometryIfMerged(RSSTRegion* a, RSSTRegion* b, double& commonContourLength,
                        double& mergedComplexity);
  void geometricCosts(RSSTRegion* a, RSSTRegion* b, double& borderCost, double& shapeCost,
                      double& mergedComplexity);
  void computeJaggOfContours(RSSTRegion* a, RSSTRegion* b, double& jaggedBorderCost,
                             unsigned int& commonPixelCount, double& jaggedShareA,
                             double& jaggedShareB);
  double computeBoundaryStrength(RSSTRegion* a, RSSTRegion* b);
  int countImageBorderPixels(RSSTRegion* r);
  unsigned calcNumberOfCommonPixelsIB(RSSTRegion* a, RSSTRegion* b);
  bool bImageBorderRegions(RSSTRegion* a, RSSTRegion* b);

  // Pair measures shared by every contour-aware cost.
  struct PairMeasures {
    double colorDistance;
    double commonContourLength;
    double mergedComplexity;
    double borderCost;
    double shapeCost;
    double combinedCost() const { return mergingOrder(colorDistance, borderCost, shapeCost); }
    // Limits are inclusive: a measure equal to its limit still passes.
    bool within(double maxColor, double maxShape, double maxBorder) const {
      return !(colorDistance > maxColor) && !(shapeCost > maxShape) && !(borderCost > maxBorder);
    }
  };
  PairMeasures measurePair(RSSTRegion* a, RSSTRegion* b);

  // Stage driver, threshold and predicates.
  void updateColorThreshold();
  bool bIsSmallAndIncluded(RSSTRegion* a, RSSTRegion* b, double unused);
  bool bIsSmallest(RSSTRegion* r);

  // The sixteen contour-aware stages, in pipeline order.
  void merge_ColorAndContour();
  void merge_WeakBorders();
  void merge_VerySmall();
  void merge_ShapeComplxReduction();
  void merge_VerySimilarColor();
  void merge_Small();
  void merge_JaggedAndSimilarColor();
  void merge_RemoveComplex();
  void merge_RemoveVeryComplex();
  void merge_RemoveJagged();
  void merge_CreatesSimple();
  void merge_Background();
  void merge_SmallWithBig();
  void merge_MediumAndSimilarColor();
  void merge_MediumAndSimpler();
  void merge_ForceSmallest(unsigned regionFloor);

  double linkCost_ColorContour(RSSTRegion* a, RSSTRegion* b);
  double linkCost_WeakBorders(RSSTRegion* a, RSSTRegion* b);
  double linkCost_VerySmall(RSSTRegion* a, RSSTRegion* b);
  double linkCost_ShapeComplxReduction(RSSTRegion* a, RSSTRegion* b);
  double linkCost_VerySimilarColor(RSSTRegion* a, RSSTRegion* b);
  double linkCost_Small(RSSTRegion* a, RSSTRegion* b);
  double linkCost_JaggedAndSimilarColor(RSSTRegion* a, RSSTRegion* b);
  double linkCost_RemoveComplex(RSSTRegion* a, RSSTRegion* b);
  double linkCost_RemoveVeryComplex(RSSTRegion* a, RSSTRegion* b);
  double linkCost_RemoveJagged(RSSTRegion* a, RSSTRegion* b);
  double linkCost_CreateSimple(RSSTRegion* a, RSSTRegion* b);
  double linkCost_Background(RSSTRegion* a, RSSTRegion* b);
  double linkCost_SmallWithBig(RSSTRegion* a, RSSTRegion* b);
  double linkCost_MediumAndSimilarColor(RSSTRegion* a, RSSTRegion* b);
  double linkCost_MediumAndSimpler(RSSTRegion* a, RSSTRegion* b);
  double linkCost_ForceSmallest(RSSTRegion* a, RSSTRegion* b);

  // Label output.
  void writeOutput(S_RegionStorage& result, unsigned margin);
  void extractLinkNumbers();

  // Diagnostic dumps, for instrumenting the engine between stages.
  void writeContours();
  void writeColorShades();
  void writeRegionShades(FILE* file, CLUVColorModel* model, int bandHeight);
  void saveTableAsImage(unsigned** table, int width, int height, char* fileName);
  void saveUCHARTableAsImage(unsigned** table, int width, int height, char* fileName);
  void calcStat(const char* fileName);

  int16_t height = 0;
  int16_t width = 0;
  uint32_t regionCount = 0;
  RSSTRegion* regions = nullptr;  // views into the frame's workspace
  RSSTRegionDescriptors* regionDescriptors = nullptr;
  uint32_t* pixelNext = nullptr;  // the pixel after each pixel on its region's list
  LinkCostFunction linkCost;
  JointPropertiesFunction jointProperties;
  CRSSTContour* contours = nullptr;
  CLUVColorModel* colorModels = nullptr;
  int32_t contourCount = 0;
  int32_t colorModelCount = 0;
  FILE* statFile = nullptr;
  double colorThreshold = 0.0;
  uint32_t imageArea = 0;
  uint32_t firstStageTarget = 0;
  uint32_t includedSizeLimit = 0;
  uint32_t verySmallSizeLimit = 0;
  uint32_t smallSizeLimit = 0;
  uint32_t mediumSizeLimit = 0;
  uint32_t wantedRegions = 2;
  int32_t borderBandX = 0;
  int32_t borderBandY = 0;
  int32_t borderLimitX = 0;
  int32_t borderLimitY = 0;
  int32_t jaggednessRadius = 2;

 private:
  friend struct StageSequence;

  // The words the stages and measures are written in, defined beside their
  // users (the inline and template ones in engine/EngineInternals.h).
  // The fast mode's graph step (the tiles) and first stage (their regions' graph).
  VESKAR_NO_EXPORT void mergeInTiles();
  VESKAR_NO_EXPORT void mergeTileGraph();
  VESKAR_NO_EXPORT void forceSmallestAboveFloor();
  VESKAR_NO_EXPORT void runStage(LinkCostFunction cost, void (M_RSST::*setLimits)() = nullptr);
  template <class Tests>
  VESKAR_NO_EXPORT double gatedCost(RSSTRegion* a, RSSTRegion* b, const Tests& tests);
  VESKAR_NO_EXPORT void measureGeometry(RSSTRegion* a, RSSTRegion* b, PairMeasures& m);
  VESKAR_NO_EXPORT double jaggedBorderCostOf(RSSTRegion* a, RSSTRegion* b, double& jaggedShareA, double& jaggedShareB);
  VESKAR_NO_EXPORT bool eitherAtLeastAsComplexAs(RSSTRegion* a, RSSTRegion* b, double gate);
  VESKAR_NO_EXPORT void setVerySmallSizeLimit();
  VESKAR_NO_EXPORT void setSmallSizeLimitFromCount();
  VESKAR_NO_EXPORT void setSmallSizeLimitFromArea();
  VESKAR_NO_EXPORT inline CRSSTContour& contourOf(const RSSTRegion* r);
  VESKAR_NO_EXPORT inline CLUVColorModel& modelOf(const RSSTRegion* r);
  VESKAR_NO_EXPORT inline const PixelBox* knownBoxOf(const RSSTRegion* r);
  VESKAR_NO_EXPORT void listContourPixels();

  // The first stage's merge loops, fast and literal.
  VESKAR_NO_EXPORT void mergeColorAndSizeSkippingZeroLinks(uint32_t limit);
  VESKAR_NO_EXPORT void mergeColorAndSizeStepByStep(uint32_t limit);

  bool literal_ = false;                 // see useLiteralPaths
  ProgressObserver progressObserver_ = nullptr;
  void* progressContext_ = nullptr;
  uint64_t mergeGeneration_ = 0;         // bumps on every merge: what was cached of the graph goes stale
  EngineScratch* scratch_;               // work tables kept between merges and frames
  FrameWorkspace* frame_ = nullptr;      // what the current frame took; see rsst_freeMemory
};
