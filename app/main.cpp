// Dornick: segments an image file, or cuts it into a grid, and writes a PGM label map.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/GridLayout.h"
#include "app/ImageLoading.h"
#include "color/T_ColorConverter.h"
#include "engine/M_RSST.h"
#include "storage/Report.h"
#include "storage/S_CImageStorage.h"
#include "storage/S_RegionStorage.h"

namespace {

enum class Mode { ArbitraryShape, GridLayout };

struct Arguments {
  Mode mode = Mode::ArbitraryShape;
  const char* inputPath = nullptr;
  char* outputPath = nullptr;
  unsigned wanted = 0;
  unsigned regionFloor = 255;
  unsigned cellSize = 0;
};

// Every storage holds 16-bit sizes.
constexpr int kMaxImageSide = 32767;

[[noreturn]] void exitWithUsage() {
  std::fputs("Arbitrary Shape Usage: \n AS InputFile OutputFile [Max_Number_Of_Seg] \n\n", stdout);
  std::fputs("Grid Layout Usage: \n GL InputFile OutputFile GridSize_In_Pixels \n\n", stdout);
  std::exit(2);
}

// atoi reading (blanks, sign, digits; no digits gives 0), clamped to int instead of overflowing.
int readLenientInteger(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// A positive decimal number (leading blanks and a plus sign allowed, nothing
// after the digits). Sizes beyond any image saturate: they all give an empty grid.
bool readCellSize(const char* text, unsigned* cellSize) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text == '+') ++text;
  if (*text == '\0') return false;
  unsigned long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(*c - '0');
    if (value > kMaxImageSide) value = kMaxImageSide + 1;
  }
  *cellSize = static_cast<unsigned>(value);
  return value > 0;
}

Arguments parseArguments(int argc, char** argv) {
  if (argc < 4) exitWithUsage();
  Arguments arguments;
  arguments.inputPath = argv[2];
  arguments.outputPath = argv[3];
  if (std::strcmp(argv[1], "AS") == 0) {
    if (argc > 4) {
      // A negative count wraps to a huge one, which the engine clamps to its maximum.
      arguments.wanted = static_cast<unsigned>(readLenientInteger(argv[4]));
      arguments.regionFloor = 0;
    }
  } else if (std::strcmp(argv[1], "GL") == 0) {
    arguments.mode = Mode::GridLayout;
    if (argc < 5 || !readCellSize(argv[4], &arguments.cellSize)) exitWithUsage();
  } else {
    exitWithUsage();
  }
  return arguments;
}

unsigned char toByte(float planeValue) {
  return T_ColorConverter::round_double2uchar(static_cast<double>(planeValue) * 255.0);
}

void fillColorImage(const ImageFile& file, S_CImageStorage& image) {
  const int width = file.getWidth();
  const int height = file.getHeight();
  const RgbPlanes planes = file.readPlanes();
  image.allocateStorage(static_cast<short>(width), static_cast<short>(height), CM_RGB);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const size_t i = static_cast<size_t>(y) * width + x;
      image.writePixelRgb(static_cast<short>(x), static_cast<short>(y), toByte(planes.red[i]),
                          toByte(planes.green[i]), toByte(planes.blue[i]));
    }
  }
}

int runArbitraryShape(const ImageFile& file, const Arguments& arguments) {
  S_CImageStorage image;
  S_RegionStorage regions;
  const auto engine = std::make_unique<M_RSST>();
  fillColorImage(file, image);
  regions.allocateStorage(static_cast<short>(file.getWidth()), static_cast<short>(file.getHeight()));
  engine->processFrame(image, regions, arguments.wanted, arguments.regionFloor, 0);
  std::printf("Number of regions : %d \n", static_cast<int>(regions.getRegionNumber()));
  // An image the engine declined leaves no regions, so there is no map to write.
  if (regions.getRegionNumber() == 0) return 1;
  return regions.writeAsPGM(arguments.outputPath) == 1 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments arguments = parseArguments(argc, argv);
  MagickSession magick(argv[0]);
  LoadLimits limits;
  if (arguments.mode == Mode::GridLayout) limits.bytesPerPixel = kGridBytesPerPixel;
  const ImageFile file(arguments.inputPath, limits);
  if (!file.isLoaded()) {
    std::fprintf(stderr, " could not load %s\n", arguments.inputPath);
    std::fprintf(stderr, "Dornick -> %s\n", file.getFailure().c_str());
    return 1;
  }
  for (const std::string& note : file.getNotes()) reportWarning(note.c_str());
  if (file.getWidth() > kMaxImageSide || file.getHeight() > kMaxImageSide)
    reportFatal("Dornick -> Images wider or higher than 32767 pixels are not supported!");
  if (arguments.mode == Mode::GridLayout)
    return runGridLayout(file.getWidth(), file.getHeight(), arguments.cellSize, arguments.outputPath);
  return runArbitraryShape(file, arguments);
}
