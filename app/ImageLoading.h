// Image files decoded through ImageMagick into float colour planes.
#pragma once

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

// One decoded image; the decoder's records are released on scope exit.
class ImageFile {
 public:
  explicit ImageFile(const char* path);
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  bool isLoaded() const { return image != nullptr; }
  int getWidth() const { return static_cast<int>(image->columns); }
  int getHeight() const { return static_cast<int>(image->rows); }
  // Only for a loaded image.
  RgbPlanes readPlanes() const;

 private:
  ImageInfo* imageInfo = nullptr;
  Image* image = nullptr;
};
