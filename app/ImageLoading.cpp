// Decoding through ImageMagick's core library.
#include "app/ImageLoading.h"

#include <cstring>

#include "storage/Report.h"

ImageFile::ImageFile(const char* path) {
  imageInfo = CloneImageInfo(nullptr);
  // The record's name field is a fixed array; a longer path cannot name a file we could read.
  if (std::strlen(path) >= sizeof imageInfo->filename) return;
  std::strcpy(imageInfo->filename, path);
  ExceptionInfo* exception = AcquireExceptionInfo();
  image = ReadImage(imageInfo, exception);
  // CMYK pixels would otherwise be exported as their raw ink channels.
  if (image != nullptr && image->colorspace == CMYKColorspace) TransformImageColorspace(image, sRGBColorspace);
  DestroyExceptionInfo(exception);
}

ImageFile::~ImageFile() {
  if (image != nullptr) DestroyImage(image);
  DestroyImageInfo(imageInfo);
}

RgbPlanes ImageFile::readPlanes() const {
  const size_t width = image->columns;
  const size_t height = image->rows;
  const size_t area = width * height;
  std::vector<float> interleaved(3 * area);
  ExceptionInfo* exception = AcquireExceptionInfo();
  const MagickBooleanType exported =
      ExportImagePixels(image, 0, 0, width, height, "RGB", FloatPixel, interleaved.data(), exception);
  DestroyExceptionInfo(exception);
  if (exported == MagickFalse) reportFatal("Dornick -> The image pixels could not be read!");

  RgbPlanes planes;
  planes.red.resize(area);
  planes.green.resize(area);
  planes.blue.resize(area);
  for (size_t i = 0; i < area; ++i) {
    planes.red[i] = interleaved[3 * i];
    planes.green[i] = interleaved[3 * i + 1];
    planes.blue[i] = interleaved[3 * i + 2];
  }
  return planes;
}
