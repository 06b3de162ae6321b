// Image files decoded through ImageMagick into float colour planes, defensively:
// the input is a plain file, its format is told from its content and must be one
// of a short list of raster formats, and its size is checked before decoding.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <magick/MagickCore.h>

// Red, green and blue in [0, 1], row by row (element y * width + x).
struct RgbPlanes {
  std::vector<float> red, green, blue;
};

// Keeps ImageMagick initialised for the lifetime of the object.
class MagickSession {
 public:
  explicit MagickSession(const char* programPath) { MagickCoreGenesis(programPath, MagickFalse); }
  ~MagickSession() { MagickCoreTerminus(); }
  MagickSession(const MagickSession&) = delete;
  MagickSession& operator=(const MagickSession&) = delete;
};

// Memory the segmentation takes per pixel of the image (engine and loading
// together), and what the grid mode takes (loading and the label buffer).
constexpr double kSegmentingBytesPerPixel = 340.0;
constexpr double kGridBytesPerPixel = 48.0;

struct LoadLimits {
  double maxMegapixels = 0.0;  // 0: as many as the machine's memory holds
  bool acceptDamaged = false;  // decode what can be decoded, with a warning
  double bytesPerPixel = kSegmentingBytesPerPixel;
};

// The decoder names of the formats read, told from a file's first bytes:
// PNG, JPEG, GIF, TIFF, BMP, PNM (the netpbm family) and WEBP; "" for anything else.
std::string sniffImageFormat(const unsigned char* bytes, size_t size);

// Physical memory, or less when the process is limited to less.
double usableMemoryBytes();

// One decoded image (its first frame); the decoder's records are released on scope exit.
class ImageFile {
 public:
  explicit ImageFile(const char* path, const LoadLimits& limits = LoadLimits());
  // The same checks and decoding for bytes already in memory.
  ImageFile(const unsigned char* bytes, size_t size, const LoadLimits& limits = LoadLimits());
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  bool isLoaded() const { return image != nullptr; }
  // Why the image was not loaded, one line.
  const std::string& getFailure() const { return failure; }
  // Things the user should know about a loaded image (frames, transparency, damage), one line each.
  const std::vector<std::string>& getNotes() const { return notes; }
  int getWidth() const { return static_cast<int>(image->columns); }
  int getHeight() const { return static_cast<int>(image->rows); }
  // Only for a loaded image.
  RgbPlanes readPlanes() const;

 private:
  void setPixelLimit();
  void readFile(const char* path, std::vector<unsigned char>& bytes);
  void decode(const unsigned char* bytes, size_t size);
  bool checkSize(size_t width, size_t height);
  bool refuse(const std::string& reason);

  LoadLimits limits;
  double maxPixels = 0.0;
  ImageInfo* imageInfo = nullptr;
  Image* image = nullptr;
  std::string failure;
  std::vector<std::string> notes;
};
