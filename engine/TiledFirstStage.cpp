// The fast mode's first stage: the first stage's rule inside square tiles, the
// tiles on every worker, then on the graph the tiles' regions make.
#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "engine/EngineInternals.h"
#include "engine/RegionMerger.h"
#include "engine/WorkerThreads.h"

namespace {

using MergerRegion = ColorSizeMerger::Region;

// A tile's graph (regions, links, heap: about 600 KB) stays in a core's own
// cache, where the same merges run several times faster than over a whole
// photo (tiles of 128 took 15 % longer, for the same quality).
constexpr int kTileSide = 64;
// Each tile merges down to this share of its pixels; links across tiles are
// held back until then. Small images keep more, so that the tiles together
// always leave the global merge twice its target.
constexpr double kTileShare = 1.0 / 16;

struct Tile {
  int x0, y0, width, height;
};

// Where a tile's results sit in its worker's lists.
struct TilePlace {
  unsigned worker;
  uint32_t firstRegion, regionCount;
  uint32_t firstLink, linkCount;
  uint32_t firstBorder;  // its border labels: left column, right column, top row, bottom row
};

// One worker's merger, reused from tile to tile, and the results of its tiles.
// Regions are numbered within their tile, in the merger's order.
struct TileWorker {
  ColorSizeMerger merger;
  std::vector<uint32_t> numberOf;  // by merger region, then by pixel of the tile
  std::vector<MergerRegion> regions;
  std::vector<std::pair<uint32_t, uint32_t>> links;
  std::vector<uint32_t> borders;
};

struct Planes {
  double** l;
  double** u;
  double** v;
};

void mergeTile(const Tile& tile, const Planes& planes, int imageWidth, uint32_t target, uint32_t* pixelNext,
               TileWorker& worker, TilePlace& place) {
  ColorSizeMerger& merger = worker.merger;
  const int w = tile.width;
  const int h = tile.height;
  const uint32_t pixels = static_cast<uint32_t>(w * h);
  merger.begin(pixels, static_cast<uint32_t>(h * (w - 1) + w * (h - 1)));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int gx = tile.x0 + x;
      const int gy = tile.y0 + y;
      const uint32_t p = static_cast<uint32_t>(gx + gy * imageWidth);
      pixelNext[p] = kNoPixel;
      merger.addRegion(MergerRegion{planes.l[gx][gy], planes.u[gx][gy], planes.v[gx][gy], 1, 0, 0, 0, 0, 0, 0, p, p, p});
    }
  }
  // The whole graph's link order: rows of horizontal links, then vertical ones.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x + 1 < w; ++x) merger.addLink(static_cast<uint32_t>(x + y * w), static_cast<uint32_t>(x + 1 + y * w));
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x < w; ++x) merger.addLink(static_cast<uint32_t>(x + y * w), static_cast<uint32_t>(x + (y + 1) * w));
  merger.mergeDownTo(target, pixelNext);

  place.firstRegion = static_cast<uint32_t>(worker.regions.size());
  place.firstLink = static_cast<uint32_t>(worker.links.size());
  std::vector<uint32_t>& numberOf = worker.numberOf;
  numberOf.resize(pixels);
  uint32_t count = 0;
  for (uint32_t r = 0; r < pixels; ++r) {
    if (merger.region(r).pixelCount == 0) continue;
    numberOf[r] = count++;
    worker.regions.push_back(merger.region(r));
  }
  merger.forEachLiveLink([&](uint32_t a, uint32_t b) { worker.links.emplace_back(numberOf[a], numberOf[b]); });
  place.regionCount = count;
  place.linkCount = static_cast<uint32_t>(worker.links.size()) - place.firstLink;

  // From here numberOf is by pixel of the tile.
  for (uint32_t k = 0; k < count; ++k) {
    const MergerRegion& region = worker.regions[place.firstRegion + k];
    for (uint32_t p = region.firstPixel; p != kNoPixel; p = pixelNext[p]) {
      const int x = static_cast<int>(p % static_cast<uint32_t>(imageWidth)) - tile.x0;
      const int y = static_cast<int>(p / static_cast<uint32_t>(imageWidth)) - tile.y0;
      numberOf[static_cast<uint32_t>(x + y * w)] = k;
    }
  }
  place.firstBorder = static_cast<uint32_t>(worker.borders.size());
  for (int y = 0; y < h; ++y) worker.borders.push_back(numberOf[static_cast<uint32_t>(y * w)]);
  for (int y = 0; y < h; ++y) worker.borders.push_back(numberOf[static_cast<uint32_t>(y * w + w - 1)]);
  for (int x = 0; x < w; ++x) worker.borders.push_back(numberOf[static_cast<uint32_t>(x)]);
  for (int x = 0; x < w; ++x) worker.borders.push_back(numberOf[static_cast<uint32_t>((h - 1) * w + x)]);
}

// Links of the graph of tile regions: every tile's own, then those across its
// right and bottom edges. Two regions of neighbouring tiles meet on the one
// edge between them only, so a link is never made twice.
class TileGraphBuilder {
 public:
  TileGraphBuilder(const std::vector<Tile>& tiles, const std::vector<TilePlace>& places,
                   const std::vector<TileWorker>& workers, int columns)
      : tiles_(tiles), places_(places), workers_(workers), columns_(columns) {
    uint32_t base = 0;
    for (const TilePlace& place : places) {
      bases_.push_back(base);
      base += place.regionCount;
    }
  }

  void build(ColorSizeMerger& graph) {
    uint32_t regionTotal = 0;
    uint32_t linkBound = 0;
    for (std::size_t t = 0; t < tiles_.size(); ++t) {
      regionTotal += places_[t].regionCount;
      linkBound += places_[t].linkCount + static_cast<uint32_t>(tiles_[t].width + tiles_[t].height);
    }
    graph.begin(regionTotal, linkBound);
    for (const TilePlace& place : places_)
      for (uint32_t k = 0; k < place.regionCount; ++k) graph.addRegion(workers_[place.worker].regions[place.firstRegion + k]);
    const int tileCount = static_cast<int>(tiles_.size());
    for (int t = 0; t < tileCount; ++t) {
      const TilePlace& place = places_[t];
      const TileWorker& worker = workers_[place.worker];
      for (uint32_t k = 0; k < place.linkCount; ++k) {
        const auto& link = worker.links[place.firstLink + k];
        graph.addLink(bases_[t] + link.first, bases_[t] + link.second);
      }
      if ((t + 1) % columns_ != 0) linkAcross(graph, t, t + 1, kRightColumn, kLeftColumn, tiles_[t].height);
      if (t + columns_ < tileCount) linkAcross(graph, t, t + columns_, kBottomRow, kTopRow, tiles_[t].width);
    }
  }

 private:
  enum Edge { kLeftColumn, kRightColumn, kTopRow, kBottomRow };

  const uint32_t* borderOf(int t, Edge edge) const {
    const TilePlace& place = places_[t];
    const Tile& tile = tiles_[t];
    const uint32_t offsets[] = {0, static_cast<uint32_t>(tile.height), static_cast<uint32_t>(2 * tile.height),
                                static_cast<uint32_t>(2 * tile.height + tile.width)};
    return &workers_[place.worker].borders[place.firstBorder + offsets[edge]];
  }

  void linkAcross(ColorSizeMerger& graph, int t, int other, Edge ownEdge, Edge otherEdge, int length) {
    const uint32_t* own = borderOf(t, ownEdge);
    const uint32_t* facing = borderOf(other, otherEdge);
    made_.clear();
    for (int i = 0; i < length; ++i) {
      const std::pair<uint32_t, uint32_t> pair{bases_[t] + own[i], bases_[other] + facing[i]};
      if (std::find(made_.rbegin(), made_.rend(), pair) != made_.rend()) continue;
      made_.push_back(pair);
      graph.addLink(pair.first, pair.second);
    }
  }

  const std::vector<Tile>& tiles_;
  const std::vector<TilePlace>& places_;
  const std::vector<TileWorker>& workers_;
  const int columns_;
  std::vector<uint32_t> bases_;  // by tile: the graph's number of its first region
  std::vector<std::pair<uint32_t, uint32_t>> made_;
};

}  // namespace

// The tiles, then the graph of their regions, kept in the frame until the
// first stage merges it.
void M_RSST::mergeInTiles() {
  const int w = width;
  const int h = height;
  const long long area = static_cast<long long>(w) * h;
  const uint32_t limit = wantedRegions > firstStageTarget ? wantedRegions : firstStageTarget;
  pixelNext = frame().pixelNext.take(area);

  std::vector<Tile> tiles;
  for (int y0 = 0; y0 < h; y0 += kTileSide)
    for (int x0 = 0; x0 < w; x0 += kTileSide) tiles.push_back(Tile{x0, y0, std::min(kTileSide, w - x0), std::min(kTileSide, h - y0)});
  const int columns = (w + kTileSide - 1) / kTileSide;
  const double share = std::min(1.0, std::max(kTileShare, 2.0 * limit / static_cast<double>(area)));
  const Planes planes{frame().smoothL.getPtr2Array(), frame().smoothU.getPtr2Array(), frame().smoothV.getPtr2Array()};
  const uint32_t tileCount = static_cast<uint32_t>(tiles.size());
  std::vector<TileWorker> workers(workerCount(threadCount, tileCount));
  std::vector<TilePlace> places(tiles.size());
  runOnWorkers(threadCount, tileCount, [&](uint32_t t, unsigned worker) {
    const Tile& tile = tiles[t];
    const uint32_t target = static_cast<uint32_t>(std::ceil(tile.width * tile.height * share));
    places[t].worker = worker;
    mergeTile(tile, planes, w, target, pixelNext, workers[worker], places[t]);
  });
  frame().releasePlanes();

  const auto graph = std::make_shared<ColorSizeMerger>();
  TileGraphBuilder(tiles, places, workers, columns).build(*graph);
  regionCount = graph->liveCount();
  frame().tileGraph = graph;
}

void M_RSST::mergeTileGraph() {
  const std::shared_ptr<ColorSizeMerger> graph = std::static_pointer_cast<ColorSizeMerger>(frame().tileGraph);
  frame().tileGraph.reset();
  graph->mergeDownTo(wantedRegions > firstStageTarget ? wantedRegions : firstStageTarget, pixelNext);

  // The engine's graph of what is left, regions by the pixel they started from.
  const long long area = static_cast<long long>(width) * height;
  regions = frame().regions.take(area);
  regionDescriptors = frame().regionDescriptors.takeZeroed(area);
  ++mergeGeneration_;
  regionCount = graph->liveCount();
  for (uint32_t r = 0; r < graph->regionTotal(); ++r) {
    const MergerRegion& kept = graph->region(r);
    if (kept.pixelCount == 0) continue;
    regions[kept.index] = RSSTRegion{kept.meanL, kept.meanU, kept.meanV, kept.pixelCount, 0, kept.firstPixel, kept.lastPixel, 0, 0};
  }
  uint32_t linkCount = 0;
  graph->forEachLiveLink([&](uint32_t, uint32_t) { ++linkCount; });
  heap().allocate(linkCount);
  graph->forEachLiveLink([&](uint32_t a, uint32_t b) {
    rsst_setLink(static_cast<int>(graph->region(a).index), static_cast<int>(graph->region(b).index));
  });
}
