// Dornick: segments an image file, or cuts it into a grid, and writes a PGM label map.
#include <malloc.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <magick/MagickCore.h>

#include "app/GridLayout.h"
#include "app/ImageLoading.h"
#include "app/OutputFile.h"
#include "app/Options.h"
#include "app/Outputs.h"
#include "app/Progress.h"
#include "app/RunCleanup.h"
#include "color/T_ColorConverter.h"
#include "engine/M_RSST.h"
#include "engine/Veskar.h"
#include "storage/Report.h"
#include "storage/S_CImageStorage.h"
#include "storage/S_RegionStorage.h"

namespace {

// The colour bytes, a label picture and one encoded copy, per pixel: the grid
// mode with every output measured 35 bytes per pixel in all at 1 megapixel.
constexpr double kColorOutputBytesPerPixel = 24.0;

// The input's colours as the engine sees them: red, green, blue bytes, row by row.
std::vector<unsigned char> readColorBytes(const ImageFile& file) {
  const size_t width = static_cast<size_t>(file.getWidth());
  std::vector<unsigned char> rgb(3 * width * static_cast<size_t>(file.getHeight()));
  file.forEachRow([&](size_t y, const float* samples) {
    for (size_t i = 0; i < 3 * width; ++i) rgb[3 * width * y + i] = sampleByte(samples[i]);
  });
  return rgb;
}

// The same bytes read back from the storage, which the engine leaves as it found it.
std::vector<unsigned char> colorBytesOf(const S_CImageStorage& image) {
  const int width = image.getWidth();
  const int height = image.getHeight();
  std::vector<unsigned char> rgb(3ul * width * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      unsigned char* pixel = &rgb[3 * (static_cast<size_t>(y) * width + x)];
      image.readPixelRgb(static_cast<short>(x), static_cast<short>(y), &pixel[0], &pixel[1], &pixel[2]);
    }
  return rgb;
}

// The cores this process may run on.
unsigned usableCores() {
  cpu_set_t cores;
  if (sched_getaffinity(0, sizeof(cores), &cores) != 0) return 1;
  const int count = CPU_COUNT(&cores);
  return count > 0 ? static_cast<unsigned>(count) : 1;
}

int runArbitraryShape(ImageFile& file, const Options& options) {
  S_CImageStorage image;
  S_RegionStorage regions;
  const auto engine = std::make_unique<M_RSST>();
  engine->fastMode = options.fast;
  engine->threadCount = options.threads != 0 ? options.threads : usableCores();
  file.fillStorage(image);
  // The storage holds every colour from here on.
  file.releasePixels();
  const long area = static_cast<long>(file.getWidth()) * file.getHeight();
  std::unique_ptr<ProgressLine> progress;
  if (wantsProgressLine(isatty(fileno(stderr)) == 1, area)) {
    progress = std::make_unique<ProgressLine>(stderr);
    progress->begin(file.getWidth(), file.getHeight());
    engine->setProgressObserver(&ProgressLine::observe, progress.get());
  }
  // The engine sizes the result itself, after its own work tables are gone.
  engine->processFrame(image, regions, options.wanted, options.regionFloor, 0);
  progress.reset();
  stopTimeLimit();
  std::printf("Number of regions : %d \n", static_cast<int>(regions.getRegionNumber()));
  // An image the engine declined leaves no regions, so there is no map to write.
  if (regions.getRegionNumber() == 0) return 1;
  if (regions.writeAsPGM(options.outputPath.c_str()) != 1) return 1;
  // The label picture is built only for the pictures and the table beside the map.
  if (options.outputPaths().size() == 1) return 0;
  const std::vector<unsigned char> rgb = options.needsColors() ? colorBytesOf(image) : std::vector<unsigned char>();
  image.deallocateStorage();
  writeRequestedOutputs(options, labelsOfRegions(regions), rgb);
  return 0;
}

int runGrid(const ImageFile& file, const Options& options) {
  const int width = file.getWidth();
  const int height = file.getHeight();
  stopTimeLimit();
  const int status = runGridLayout(width, height, options.cellSize, options.outputPath.c_str());
  if (status != 0) return status;
  if (options.outputPaths().size() == 1) return 0;
  const GridLayout grid = makeGridLayout(width, height, options.cellSize);
  // Only the pictures and the table read colours.
  const std::vector<unsigned char> rgb = options.needsColors() ? readColorBytes(file) : std::vector<unsigned char>();
  writeRequestedOutputs(options,
                        labelsOfGrid(gridLabels(grid, width, height), width, height,
                                     static_cast<long>(grid.getCellCount())),
                        rgb);
  return 0;
}

// Anything that would fail at the end fails before the work starts, and no
// output may destroy the input or another output.
void checkOutputs(const Options& options) {
  for (const std::string* picture : {&options.previewPath, &options.outlinePath})
    if (!picture->empty()) checkImageFormat(*picture);
  checkOutputIdentities(options.inputPath, options.outputPaths());
  for (const std::string& path : options.outputPaths()) checkOutputCreatable(path);
}

void printVersions() {
  std::printf("Dornick %s\nVeskar %s\n%s\n", DORNICK_VERSION, veskarVersion(), GetMagickVersion(nullptr));
}

}  // namespace

int main(int argc, char** argv) {
#ifdef M_MMAP_THRESHOLD
  // Image-sized blocks map straight from the system, so the ones freed while
  // the region graph is built (planes, decoded image) really go back; left
  // alone, the allocator raises this threshold on the first such free.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
  const Options options = parseCommandLine(argc, argv);
  if (options.request == Request::Help) {
    printHelp(stdout);
    return 0;
  }
  if (options.request == Request::Version) {
    MagickSession magick(argv[0]);
    printVersions();
    return 0;
  }
  keepDecoderTemporariesApart();
  cleanUpOnSignals();
  if (options.maxSeconds > 0.0) startTimeLimit(options.maxSeconds);
  MagickSession magick(argv[0]);
  checkOutputs(options);

  LoadLimits limits;
  limits.maxMegapixels = options.maxMegapixels;
  limits.acceptDamaged = options.acceptDamaged;
  limits.autoOrient = options.autoOrient;
  if (options.mode == Mode::GridLayout) {
    limits.bytesPerPixel = kGridBytesPerPixel;
    // The grid mode reads the colours only for the pictures and the table.
    if (options.needsColors()) limits.bytesPerPixel += kColorOutputBytesPerPixel;
  }
  ImageFile file(options.inputPath.c_str(), limits);
  if (!file.isLoaded()) {
    std::fprintf(stderr, " could not load %s\n", options.inputPath.c_str());
    std::fprintf(stderr, "Dornick -> %s\n", file.getFailure().c_str());
    return 1;
  }
  for (const std::string& note : file.getNotes()) reportWarning(note.c_str());
  for (const std::string* picture : {&options.previewPath, &options.outlinePath})
    if (!picture->empty()) checkPictureSize(*picture, file.getWidth(), file.getHeight());
  if (options.mode == Mode::GridLayout) return runGrid(file, options);
  return runArbitraryShape(file, options);
}
