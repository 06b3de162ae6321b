// Image files decoded through ImageMagick into float colour planes, defensively:
// the input is a plain file, its format is told from its content and must be one
// of a short list of raster formats, and its size is checked before decoding.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <magick/MagickCore.h>

#include "color/T_ColorConverter.h"

class S_CImageStorage;

// Red, green and blue in [0, 1], row by row (element y * width + x).
struct RgbPlanes {
  std::vector<float> red, green, blue;
};

// A sample in [0, 1] as the byte the engine sees.
inline unsigned char sampleByte(float value) { return colorkernel::nearest8(static_cast<double>(value) * 255.0); }

// Keeps ImageMagick initialised for the lifetime of the object.
class MagickSession {
 public:
  // No coder or writer may start another program (a delegate) in this session.
  explicit MagickSession(const char* programPath);
  ~MagickSession() { MagickCoreTerminus(); }
  MagickSession(const MagickSession&) = delete;
  MagickSession& operator=(const MagickSession&) = delete;
};

// A run's peak memory is kBaseBytes (program, libraries) plus so much per
// pixel, as measured: segmenting (engine and loading together, 126-158 bytes
// per pixel from 1 to 12 megapixels, photos, noise and checkerboards, 10 to
// 2048 regions), and the grid mode (loading and the label buffer, 12).
constexpr double kBaseBytes = 12e6;
constexpr double kSegmentingBytesPerPixel = 140.0;
constexpr double kGridBytesPerPixel = 16.0;

struct LoadLimits {
  double maxMegapixels = 0.0;  // 0: as many as the machine's memory holds
  bool acceptDamaged = false;  // decode what can be decoded, with a warning
  bool autoOrient = false;     // turn the pixels as the EXIF orientation says, as viewers do
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

  bool isLoaded() const { return loaded; }
  // Why the image was not loaded, one line.
  const std::string& getFailure() const { return failure; }
  // Things the user should know about a loaded image (frames, transparency, damage,
  // orientation, colour profile, GIF canvas), one line each.
  const std::vector<std::string>& getNotes() const { return notes; }
  int getWidth() const { return static_cast<int>(width); }
  int getHeight() const { return static_cast<int>(height); }
  // Only for a loaded image whose pixels are still held.
  RgbPlanes readPlanes() const;
  // Calls visit(y, samples) for every row, top to bottom: samples holds the
  // row's red, green and blue in [0, 1], pixel by pixel, until visit returns.
  template <class Visit>
  void forEachRow(const Visit& visit) const;
  // Allocates storage as an RGB image of this size and fills it with sampleByte of every sample.
  void fillStorage(S_CImageStorage& storage) const;
  // Frees the decoded pixels; the size and the notes stay.
  void releasePixels();

 private:
  void setPixelLimit();
  void readFile(const char* path, std::vector<unsigned char>& bytes);
  void decode(const unsigned char* bytes, size_t size);
  bool checkPng(const unsigned char* bytes, size_t size, std::vector<unsigned char>& decodable);
  bool checkJpegScans(const unsigned char* bytes, size_t size, std::vector<unsigned char>& decodable);
  std::string decoderRefusal(const std::string& format, const ExceptionInfo* exception, const unsigned char* bytes,
                             size_t size) const;
  double neededBytes(double pixels) const;
  bool checkSize(size_t width, size_t height);
  void noteIgnoredMetadata(const std::string& format);
  void applyOrientation(ExceptionInfo* exception);
  bool refuse(const std::string& reason);
  void exportRow(size_t y, float* samples) const;

  LoadLimits limits;
  double maxPixels = 0.0;
  ImageInfo* imageInfo = nullptr;
  Image* image = nullptr;
  bool loaded = false;
  size_t width = 0;
  size_t height = 0;
  std::string failure;
  std::vector<std::string> notes;
};

template <class Visit>
void ImageFile::forEachRow(const Visit& visit) const {
  std::vector<float> samples(3 * width);
  for (size_t y = 0; y < height; ++y) {
    exportRow(y, samples.data());
    visit(y, static_cast<const float*>(samples.data()));
  }
}
