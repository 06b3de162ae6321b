// Outputs beside the label map, encoded through ImageMagick's core library.
#include "app/Outputs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <magick/MagickCore.h>

#include "app/OutputFile.h"
#include "storage/PgmFormat.h"
#include "storage/Report.h"
#include "storage/S_RegionStorage.h"

namespace {

constexpr Rgb8 kBlack{0, 0, 0};
constexpr Rgb8 kWhite{255, 255, 255};
// Outline colours, tried in this order; the one fewest pixels resemble wins.
constexpr Rgb8 kOutlineColors[] = {{255, 0, 255}, {0, 255, 0}, {255, 255, 0}, {0, 255, 255}, {255, 0, 0}};
// Squared RGB distance under which a pixel hides an outline colour.
constexpr int kResemblance = 120 * 120;

// A caller holding a failure catcher (the Python module) gets the text as an exception.
[[noreturn]] void failWith(const std::string& text) {
  veskar::takeFailure(text);
  std::fprintf(stderr, "Dornick: %s\n", text.c_str());
  std::exit(1);
}

// Pictures are written only in these formats: their encoders are built into the
// decoder library, start no other program and take any image this program reads
// up to the side given (0: any).
struct PictureFormat {
  const char* extension;
  int maxSide;
};
constexpr PictureFormat kPictureFormats[] = {
    {"png", 0},   {"jpg", 65500}, {"jpeg", 65500}, {"tif", 0}, {"tiff", 0}, {"bmp", 0}, {"gif", 65535},
    {"ppm", 0},   {"pgm", 0},     {"pbm", 0},      {"pnm", 0}, {"pam", 0},  {"webp", 16383}};

const PictureFormat* pictureFormatOf(const std::string& path) {
  const std::string extension = extensionOf(path);
  for (const PictureFormat& format : kPictureFormats)
    if (extension == format.extension) return &format;
  return nullptr;
}

[[noreturn]] void failToEncode(const std::string& path, const char* reason) {
  failWith(path + " could not be written: " + reason);
}

// Encodes pixels in the named format (an extension such as "png"). Only that name
// reaches ImageMagick, so nothing in the path is read as a format prefix.
std::string encodeImage(const std::string& path, const std::string& format, const LabelPicture& picture,
                        const char* map,
                        StorageType type, const void* pixels,
                        const std::vector<std::pair<const char*, const char*>>& settings) {
  ExceptionInfo* exception = AcquireExceptionInfo();
  Image* image = ConstituteImage(static_cast<size_t>(picture.width), static_cast<size_t>(picture.height),
                                 map, type, pixels, exception);
  if (image == nullptr) failToEncode(path, "out of memory");
  ImageInfo* info = CloneImageInfo(nullptr);
  const std::string formatName = "x." + format;
  std::snprintf(info->filename, sizeof info->filename, "%s", formatName.c_str());
  std::snprintf(image->filename, sizeof image->filename, "%s", formatName.c_str());
  SetImageInfo(info, 0, exception);
  for (const auto& [key, value] : settings) SetImageOption(info, key, value);
  // Dates would make two runs on one image give different files.
  SetImageOption(info, "png:exclude-chunk", "date,time");
  size_t length = 0;
  void* blob = ImageToBlob(info, image, &length, exception);
  std::string reason = exception->reason != nullptr ? exception->reason : "the encoder failed";
  DestroyImage(image);
  DestroyImageInfo(info);
  DestroyExceptionInfo(exception);
  if (blob == nullptr || length == 0) failToEncode(path, reason.c_str());
  std::string bytes(static_cast<const char*>(blob), length);
  RelinquishMagickMemory(blob);
  return bytes;
}

Rgb8 pixelAt(const std::vector<unsigned char>& rgb, size_t i) {
  return {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]};
}

void putPixel(std::vector<unsigned char>& rgb, size_t i, const Rgb8& color) {
  rgb[3 * i] = color[0];
  rgb[3 * i + 1] = color[1];
  rgb[3 * i + 2] = color[2];
}

int squaredDistance(const Rgb8& a, const Rgb8& b) {
  int sum = 0;
  for (int c = 0; c < 3; ++c) sum += (a[c] - b[c]) * (a[c] - b[c]);
  return sum;
}

// Black borders, white ones on dark regions.
Rgb8 borderColorOver(const Rgb8& region) {
  const int luma = (299 * region[0] + 587 * region[1] + 114 * region[2]) / 1000;
  return luma < 96 ? kWhite : kBlack;
}

Rgb8 outlineColorFor(const std::vector<unsigned char>& rgb) {
  const size_t area = rgb.size() / 3;
  Rgb8 best = kOutlineColors[0];
  size_t fewest = area + 1;
  for (const Rgb8& candidate : kOutlineColors) {
    size_t resembling = 0;
    for (size_t i = 0; i < area; ++i)
      if (squaredDistance(pixelAt(rgb, i), candidate) < kResemblance) ++resembling;
    if (resembling < fewest) {
      fewest = resembling;
      best = candidate;
    }
  }
  return best;
}

std::string previewBytes(const std::string& path, const LabelPicture& picture,
                         const std::vector<unsigned char>& rgb) {
  const std::vector<unsigned char> painted = previewPixels(picture, rgb);
  return encodeImage(path, extensionOf(path), picture, "RGB", CharPixel, painted.data(), {});
}

std::string outlineBytes(const std::string& path, const LabelPicture& picture,
                         const std::vector<unsigned char>& rgb) {
  const std::vector<unsigned char> drawn = outlinePixels(picture, rgb);
  return encodeImage(path, extensionOf(path), picture, "RGB", CharPixel, drawn.data(), {});
}

// Grey only (no palette), so every reader gets the label itself as the sample.
std::string labelsPngBytes(const std::string& path, const LabelPicture& picture) {
  const bool wide = pgm::needsWideSamples(picture.declaredCount);
  if (wide) {
    const std::vector<uint16_t> samples(picture.labels.begin(), picture.labels.end());
    return encodeImage(path, "png", picture, "I", ShortPixel, samples.data(),
                       {{"png:color-type", "0"}, {"png:bit-depth", "16"}});
  }
  const std::vector<unsigned char> samples(picture.labels.begin(), picture.labels.end());
  return encodeImage(path, "png", picture, "I", CharPixel, samples.data(),
                     {{"png:color-type", "0"}, {"png:bit-depth", "8"}});
}

constexpr const char* kColumns[] = {"label",       "pixels",      "left",          "top",
                                    "right",       "bottom",      "centroid_x",    "centroid_y",
                                    "display_red", "display_green", "display_blue", "mean_red",
                                    "mean_green",  "mean_blue"};

std::vector<std::string> rowValues(const RegionSummary& row) {
  char centroidX[32], centroidY[32];
  std::snprintf(centroidX, sizeof centroidX, "%.2f", row.centroidX);
  std::snprintf(centroidY, sizeof centroidY, "%.2f", row.centroidY);
  return {std::to_string(row.label),          std::to_string(row.pixels),
          std::to_string(row.left),           std::to_string(row.top),
          std::to_string(row.right),          std::to_string(row.bottom),
          centroidX,                          centroidY,
          std::to_string(row.displayColor[0]), std::to_string(row.displayColor[1]),
          std::to_string(row.displayColor[2]), std::to_string(row.meanColor[0]),
          std::to_string(row.meanColor[1]),    std::to_string(row.meanColor[2])};
}

std::string regionTableBytes(const std::string& path, const LabelPicture& picture,
                             const std::vector<unsigned char>& rgb) {
  const std::vector<RegionSummary> table = summarizeRegions(picture, rgb);
  std::string text;
  if (extensionOf(path) == "json") {
    text = "{\"width\": " + std::to_string(picture.width) + ", \"height\": " +
           std::to_string(picture.height) + ", \"regions\": [";
    for (size_t r = 0; r < table.size(); ++r) {
      const std::vector<std::string> values = rowValues(table[r]);
      text += r == 0 ? "\n  {" : ",\n  {";
      for (size_t c = 0; c < values.size(); ++c)
        text += (c == 0 ? "\"" : ", \"") + std::string(kColumns[c]) + "\": " + values[c];
      text += "}";
    }
    text += "\n]}\n";
    return text;
  }
  for (size_t c = 0; c < std::size(kColumns); ++c) text += (c == 0 ? "" : ",") + std::string(kColumns[c]);
  text += "\n";
  for (const RegionSummary& row : table) {
    const std::vector<std::string> values = rowValues(row);
    for (size_t c = 0; c < values.size(); ++c) text += (c == 0 ? "" : ",") + values[c];
    text += "\n";
  }
  return text;
}

}  // namespace

std::vector<unsigned char> previewPixels(const LabelPicture& picture, const std::vector<unsigned char>& rgb) {
  const std::vector<RegionSummary> table = summarizeRegions(picture, rgb);
  std::vector<Rgb8> meanOf(picture.labels.empty() ? 0 : table.back().label + 1);
  for (const RegionSummary& row : table) meanOf[row.label] = row.meanColor;
  const std::vector<bool> border = borderPixels(picture);
  std::vector<unsigned char> painted(rgb.size());
  for (size_t i = 0; i < picture.labels.size(); ++i) {
    const Rgb8& mean = meanOf[picture.labels[i]];
    putPixel(painted, i, border[i] ? borderColorOver(mean) : mean);
  }
  return painted;
}

std::vector<unsigned char> outlinePixels(const LabelPicture& picture, const std::vector<unsigned char>& rgb) {
  const Rgb8 color = outlineColorFor(rgb);
  const std::vector<bool> border = borderPixels(picture);
  std::vector<unsigned char> drawn = rgb;
  for (size_t i = 0; i < picture.labels.size(); ++i)
    if (border[i]) putPixel(drawn, i, color);
  return drawn;
}

LabelPicture labelsOfRegions(const S_RegionStorage& regions) {
  LabelPicture picture;
  picture.width = regions.getWidth();
  picture.height = regions.getHeight();
  picture.declaredCount = regions.getRegionNumber();
  picture.labels.resize(static_cast<size_t>(picture.width) * picture.height);
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const E_RegionInfo* region = regions.getCPtr2PelRegion(static_cast<short>(x), static_cast<short>(y));
      const auto label = static_cast<uint16_t>(region->getObjectID());
      picture.labels[static_cast<size_t>(y) * picture.width + x] = label;
      if (label >= picture.displayColors.size()) picture.displayColors.resize(label + 1u);
      Rgb8& color = picture.displayColors[label];
      region->readRegRgb(&color[0], &color[1], &color[2]);
    }
  }
  return picture;
}

LabelPicture labelsOfGrid(const std::vector<uint16_t>& labels, int width, int height, long cellCount) {
  LabelPicture picture;
  picture.width = width;
  picture.height = height;
  picture.declaredCount = cellCount;
  picture.labels.assign(labels.begin(), labels.end());
  return picture;
}

std::vector<RegionSummary> summarizeRegions(const LabelPicture& picture, const std::vector<unsigned char>& rgb) {
  struct Sums {
    unsigned long pixels = 0;
    int left = 0, top = 0, right = 0, bottom = 0;
    double x = 0, y = 0;
    unsigned long long color[3] = {0, 0, 0};
  };
  std::vector<Sums> sums;
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const size_t i = static_cast<size_t>(y) * picture.width + x;
      const uint32_t label = picture.labels[i];
      if (label >= sums.size()) sums.resize(label + 1u);
      Sums& s = sums[label];
      if (s.pixels == 0) {
        s.left = s.right = x;
        s.top = s.bottom = y;
      }
      if (x < s.left) s.left = x;
      if (x > s.right) s.right = x;
      if (y > s.bottom) s.bottom = y;
      ++s.pixels;
      s.x += x;
      s.y += y;
      for (int c = 0; c < 3; ++c) s.color[c] += rgb[3 * i + c];
    }
  }
  std::vector<RegionSummary> table;
  for (uint32_t label = 0; label < sums.size(); ++label) {
    const Sums& s = sums[label];
    if (s.pixels == 0) continue;
    RegionSummary row;
    row.label = label;
    row.pixels = s.pixels;
    row.left = s.left;
    row.top = s.top;
    row.right = s.right;
    row.bottom = s.bottom;
    row.centroidX = s.x / static_cast<double>(s.pixels);
    row.centroidY = s.y / static_cast<double>(s.pixels);
    for (int c = 0; c < 3; ++c)
      row.meanColor[c] = static_cast<unsigned char>((s.color[c] + s.pixels / 2) / s.pixels);
    row.displayColor = label < picture.displayColors.size() ? picture.displayColors[label] : row.meanColor;
    table.push_back(row);
  }
  return table;
}

std::vector<bool> borderPixels(const LabelPicture& picture) {
  std::vector<bool> border(picture.labels.size(), false);
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const size_t i = static_cast<size_t>(y) * picture.width + x;
      const bool rightDiffers = x + 1 < picture.width && picture.labels[i + 1] != picture.labels[i];
      const bool belowDiffers =
          y + 1 < picture.height && picture.labels[i + picture.width] != picture.labels[i];
      border[i] = rightDiffers || belowDiffers;
    }
  }
  return border;
}

void checkImageFormat(const std::string& path) {
  if (pictureFormatOf(path) != nullptr) return;
  std::string listed;
  for (const PictureFormat& format : kPictureFormats) listed += std::string(listed.empty() ? "." : ", .") + format.extension;
  failWith(path + ": the extension names no picture format Dornick writes (" + listed + ")");
}

void checkPictureSize(const std::string& path, int width, int height) {
  const PictureFormat* format = pictureFormatOf(path);
  if (format == nullptr || format->maxSide == 0 || (width <= format->maxSide && height <= format->maxSide)) return;
  failWith(path + ": a ." + format->extension + " picture is at most " + std::to_string(format->maxSide) +
           " pixels a side; the image is " + std::to_string(width) + " x " + std::to_string(height));
}

void writeRequestedOutputs(const Options& options, const LabelPicture& picture,
                           const std::vector<unsigned char>& rgb) {
  if (!options.previewPath.empty())
    writeOutputFile(options.previewPath, previewBytes(options.previewPath, picture, rgb));
  if (!options.outlinePath.empty())
    writeOutputFile(options.outlinePath, outlineBytes(options.outlinePath, picture, rgb));
  if (!options.labelsPngPath.empty())
    writeOutputFile(options.labelsPngPath, labelsPngBytes(options.labelsPngPath, picture));
  if (!options.regionsPath.empty())
    writeOutputFile(options.regionsPath, regionTableBytes(options.regionsPath, picture, rgb));
}
