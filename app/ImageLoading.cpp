// Decoding through ImageMagick's core library, behind the file, format and size checks.
#include "app/ImageLoading.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/FileInspection.h"
#include "app/ImageSize.h"
#include "storage/Report.h"
#include "storage/S_CImageStorage.h"

namespace {

// An image file is at most this many bytes per pixel (16-bit samples with alpha)
// plus room for metadata; a larger file is not an image within the limit.
constexpr double kMaxFileBytesPerPixel = 8.0;
constexpr double kFileSlackBytes = 64.0 * 1024 * 1024;

std::string describeFileType(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

bool startsWith(const unsigned char* bytes, size_t size, const char* magic, size_t length) {
  return size >= length && std::memcmp(bytes, magic, length) == 0;
}

bool isNetpbm(const unsigned char* bytes, size_t size) {
  if (size < 3 || bytes[0] != 'P' || bytes[1] < '1' || bytes[1] > '7') return false;
  return std::strchr(" \t\r\n#", bytes[2]) != nullptr && bytes[2] != '\0';
}

// Decoder problems that mean the pixels are not all there or not all right.
bool isDamage(ExceptionType severity) {
  return severity >= ErrorException || severity == CorruptImageWarning || severity == BlobWarning ||
         severity == StreamWarning || severity == CacheWarning;
}

std::string formatted(const char* format, double a, double b = 0.0, double c = 0.0, double d = 0.0,
                      double e = 0.0, double f = 0.0) {
  char text[256];
  std::snprintf(text, sizeof text, format, a, b, c, d, e, f);
  return text;
}

// The decoder's words without the file name (a blob has none) and source location it appends.
std::string withoutLocation(const char* text) {
  std::string cleaned = text;
  for (const char* cut : {" `", "`", " @ "}) {
    const size_t at = cleaned.find(cut);
    if (at != std::string::npos) cleaned.resize(at);
  }
  return cleaned;
}

// The largest side every decoder reads: ours, or less where the decoder's policy says so.
size_t sideLimit() {
  return std::min<size_t>(kMaxImageSide, static_cast<size_t>(std::min(GetMagickResourceLimit(WidthResource),
                                                                      GetMagickResourceLimit(HeightResource))));
}

std::string exceptionText(const ExceptionInfo* exception) {
  std::string text = exception->reason != nullptr ? withoutLocation(exception->reason) : "";
  const std::string detail = exception->description != nullptr ? withoutLocation(exception->description) : "";
  if (!detail.empty()) text += (text.empty() ? "" : ": ") + detail;
  if (text == "width or height exceeds limit") text += formatted(" (%.0f pixels a side)", sideLimit());
  return text.empty() ? "no reason given" : text;
}

// The first damage the decoder reported, or "" when it reported none.
std::string firstDamage(ExceptionInfo* exception) {
  if (exception->severity == UndefinedException) return "";
  auto* list = static_cast<LinkedListInfo*>(exception->exceptions);
  if (list != nullptr) {
    ResetLinkedListIterator(list);
    for (auto* entry = static_cast<const ExceptionInfo*>(GetNextValueInLinkedList(list)); entry != nullptr;
         entry = static_cast<const ExceptionInfo*>(GetNextValueInLinkedList(list)))
      if (isDamage(entry->severity)) return exceptionText(entry);
  }
  return isDamage(exception->severity) ? exceptionText(exception) : "";
}

// Owns an ExceptionInfo.
struct DecoderReport {
  DecoderReport() : exception(AcquireExceptionInfo()) {}
  ~DecoderReport() { DestroyExceptionInfo(exception); }
  DecoderReport(const DecoderReport&) = delete;
  DecoderReport& operator=(const DecoderReport&) = delete;
  ExceptionInfo* exception;
};

// The densest a complete file of the format packs its pixels (a flat image in
// the smallest codes), or 0 where there is no such bound. A damaged file whose
// pixels outnumber this is mostly made up by the decoder.
double densestPixelsPerByte(const std::string& format) {
  if (format == "JPEG") return 1024.0;  // at least two bits for an 8 x 8 block
  if (format == "GIF") return 4096.0;   // a 12-bit code stands for 4096 pixels at most
  return 0.0;
}

void limitDecoder(double maxPixels) {
  // The decoder's policy may hold a lower limit, which stays.
  SetMagickResourceLimit(WidthResource, kMaxImageSide);
  SetMagickResourceLimit(HeightResource, kMaxImageSide);
  SetMagickResourceLimit(AreaResource, static_cast<MagickSizeType>(maxPixels));
  // Two frames at most are looked at (to tell that there is more than one); one is decoded.
  SetMagickResourceLimit(ListLengthResource, 3);
}

}  // namespace

MagickSession::MagickSession(const char* programPath) {
  MagickCoreGenesis(programPath, MagickFalse);
  DecoderReport report;
  SetMagickSecurityPolicy("<policymap><policy domain=\"delegate\" rights=\"none\" pattern=\"*\"/></policymap>",
                          report.exception);
}

std::string sniffImageFormat(const unsigned char* bytes, size_t size) {
  if (startsWith(bytes, size, "\x89PNG\r\n\x1a\n", 8)) return "PNG";
  if (startsWith(bytes, size, "\xff\xd8\xff", 3)) return "JPEG";
  if (startsWith(bytes, size, "GIF87a", 6) || startsWith(bytes, size, "GIF89a", 6)) return "GIF";
  if (startsWith(bytes, size, "II*\0", 4) || startsWith(bytes, size, "MM\0*", 4) ||
      startsWith(bytes, size, "II+\0", 4) || startsWith(bytes, size, "MM\0+", 4))
    return "TIFF";
  if (startsWith(bytes, size, "BM", 2) && size >= 14) return "BMP";
  if (isNetpbm(bytes, size)) return "PNM";
  if (startsWith(bytes, size, "RIFF", 4) && size >= 12 && std::memcmp(bytes + 8, "WEBP", 4) == 0) return "WEBP";
  return "";
}

double usableMemoryBytes() {
  double bytes = static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGE_SIZE));
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit limit;
    if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
      bytes = std::fmin(bytes, static_cast<double>(limit.rlim_cur));
  }
  return bytes;
}

ImageFile::ImageFile(const char* path, const LoadLimits& limits) : limits(limits) {
  imageInfo = CloneImageInfo(nullptr);
  setPixelLimit();
  std::vector<unsigned char> bytes;
  readFile(path, bytes);
  if (failure.empty()) decode(bytes.data(), bytes.size());
}

ImageFile::ImageFile(const unsigned char* bytes, size_t size, const LoadLimits& limits) : limits(limits) {
  imageInfo = CloneImageInfo(nullptr);
  setPixelLimit();
  decode(bytes, size);
}

// The lower of the user's limit and what the machine's memory holds.
void ImageFile::setPixelLimit() {
  maxPixels = std::fmax(0.0, usableMemoryBytes() - kBaseBytes) / limits.bytesPerPixel;
  if (limits.maxMegapixels > 0.0 && limits.maxMegapixels * 1e6 < maxPixels) maxPixels = limits.maxMegapixels * 1e6;
}

// The name is opened as a file and nothing else: no decoder sees it, so none of
// the decoder's own name syntax (prefixes, frame or size suffixes, URLs, "-" for
// standard input) applies.
void ImageFile::readFile(const char* path, std::vector<unsigned char>& bytes) {
  const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) {
    refuse(std::string("Cannot open the file: ") + std::strerror(errno));
    return;
  }
  struct stat status;
  const double maxFileBytes = maxPixels * kMaxFileBytesPerPixel + kFileSlackBytes;
  if (fstat(descriptor, &status) != 0) {
    refuse(std::string("Cannot examine the file: ") + std::strerror(errno));
  } else if (!S_ISREG(status.st_mode)) {
    refuse("It is " + describeFileType(status.st_mode) + ", not an image file");
  } else if (static_cast<double>(status.st_size) > maxFileBytes) {
    refuse(formatted("The file holds %.0f MB, more than an image within the limit of %.1f megapixels takes",
                     static_cast<double>(status.st_size) / 1e6, maxPixels / 1e6));
  } else {
    bytes.resize(static_cast<size_t>(status.st_size));
    size_t done = 0;
    errno = 0;
    while (done < bytes.size()) {
      const ssize_t got = read(descriptor, bytes.data() + done, bytes.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    if (done < bytes.size())
      refuse(std::string("Cannot read the file: ") + (errno != 0 ? std::strerror(errno) : "it got shorter"));
  }
  close(descriptor);
}

ImageFile::~ImageFile() {
  if (image != nullptr) DestroyImage(image);
  DestroyImageInfo(imageInfo);
}

bool ImageFile::refuse(const std::string& reason) {
  failure = reason;
  releasePixels();
  loaded = false;
  return false;
}

void ImageFile::releasePixels() {
  if (image != nullptr) DestroyImage(image);
  image = nullptr;
}

// The format is decided here, from the bytes, and handed to the decoder
// explicitly: a decoder never guesses, so scripts, vector and document formats
// never reach one, whatever the file is called.
void ImageFile::decode(const unsigned char* bytes, size_t size) {
  if (size == 0) {
    refuse("The file is empty");
    return;
  }
  const std::string format = sniffImageFormat(bytes, size);
  if (format.empty()) {
    refuse("The file is not a PNG, JPEG, GIF, TIFF, BMP, PNM (PBM, PGM, PPM, PAM) or WebP image");
    return;
  }
  limitDecoder(maxPixels);
  std::vector<unsigned char> decodable;
  if (format == "PNG" && !checkPng(bytes, size, decodable)) return;
  if (format == "JPEG" && !checkJpegScans(bytes, size, decodable)) return;
  if (!decodable.empty()) {
    bytes = decodable.data();
    size = decodable.size();
  }
  std::strcpy(imageInfo->magick, format.c_str());
  imageInfo->filename[0] = '\0';
  imageInfo->scene = 0;
  imageInfo->number_scenes = 2;
  Image* frames = nullptr;
  {
    DecoderReport report;
    frames = PingBlob(imageInfo, bytes, size, report.exception);
    if (frames == nullptr) {
      refuse(decoderRefusal(format, report.exception, bytes, size));
      return;
    }
    std::string damage = firstDamage(report.exception);
    if (damage.empty()) damage = firstDamage(&frames->exception);
    if ((frames->columns == 0 || frames->rows == 0) && !damage.empty()) {
      DestroyImageList(frames);
      refuse("The image is damaged: " + damage);
      return;
    }
  }
  const size_t width = frames->columns;
  const size_t height = frames->rows;
  const bool severalFrames = GetNextImageInList(frames) != nullptr;
  DestroyImageList(frames);
  if (!checkSize(width, height)) return;

  imageInfo->number_scenes = 1;
  DecoderReport report;
  image = BlobToImage(imageInfo, bytes, size, report.exception);
  // Some decoders (JPEG) note damage on the image rather than in the report.
  std::string damage = firstDamage(report.exception);
  if (damage.empty() && image != nullptr) damage = firstDamage(&image->exception);
  if (image == nullptr) {
    refuse(damage.empty() ? decoderRefusal(format, report.exception, bytes, size)
                          : "The " + format + " decoder refused it: " + damage);
    return;
  }
  if (!damage.empty()) {
    if (!limits.acceptDamaged) {
      refuse("The image is damaged: " + damage + " (--accept-damaged uses what can be decoded)");
      return;
    }
    const double densest = densestPixelsPerByte(format);
    if (densest > 0.0 && static_cast<double>(width) * static_cast<double>(height) > densest * static_cast<double>(size)) {
      refuse("The image is damaged (" + damage +
             formatted("), and its %.0f bytes hold too little of its %.0f x %.0f pixels to segment", static_cast<double>(size),
                       static_cast<double>(width), static_cast<double>(height)));
      return;
    }
    notes.push_back("Dornick -> The image is damaged (" + damage + "); using what could be decoded.");
  }
  if (image->columns != width || image->rows != height) {
    refuse("The decoded size differs from the size the file declares");
    return;
  }
  if (severalFrames) notes.push_back("Dornick -> The file holds several frames; the first one is used.");
  noteIgnoredMetadata(format);
  applyOrientation(report.exception);
  if (image == nullptr) {
    refuse("The image could not be turned as its EXIF orientation says");
    return;
  }
  // CMYK pixels would otherwise be exported as their raw ink channels.
  if (image->colorspace == CMYKColorspace) TransformImageColorspace(image, sRGBColorspace);
  if (image->matte != MagickFalse && IsOpaqueImage(image, report.exception) == MagickFalse)
    notes.push_back("Dornick -> The image's transparency is ignored; its colours are used as they are.");
  this->width = image->columns;
  this->height = image->rows;
  loaded = true;
}

// What the decoder read but the segmentation does not use, said so that a
// result that differs from what a viewer shows is not a surprise.
void ImageFile::noteIgnoredMetadata(const std::string& format) {
  if (GetImageProfile(image, "icc") != nullptr)
    notes.push_back("Dornick -> The image's ICC colour profile is ignored; its values are used as they are.");
  // A GIF frame may cover part of its canvas only; the rest has no pixels of its own.
  const RectangleInfo& page = image->page;
  if (format == "GIF" && (page.width > image->columns || page.height > image->rows))
    notes.push_back(formatted("Dornick -> The GIF frame (%.0f x %.0f at %.0f, %.0f) is smaller than its canvas "
                              "(%.0f x %.0f); the frame alone is segmented.",
                              static_cast<double>(image->columns), static_cast<double>(image->rows),
                              static_cast<double>(page.x), static_cast<double>(page.y),
                              static_cast<double>(page.width), static_cast<double>(page.height)));
}

// Phones store pixels as the sensor read them and an EXIF orientation telling
// viewers how to turn them; the stored order stays the default.
void ImageFile::applyOrientation(ExceptionInfo* exception) {
  const OrientationType orientation = image->orientation;
  if (orientation <= TopLeftOrientation || orientation > LeftBottomOrientation) return;
  if (!limits.autoOrient) {
    notes.push_back(formatted("Dornick -> The image's EXIF orientation is %.0f, which viewers apply: the map "
                              "follows the stored pixels, not the picture they show (--auto-orient turns it first).",
                              static_cast<double>(orientation)));
    return;
  }
  Image* turned = AutoOrientImage(image, orientation, exception);
  releasePixels();
  image = turned;
}

// The PNG decoder takes the memory a chunk declares before reading it, so a
// few bytes could claim gigabytes: a chunk must fit in what the file holds.
// Compressed text and profiles may inflate to no more than the image itself
// needs; text and every chunk no decoder needs are left out of what is decoded,
// so that neither their size nor their number costs the decoder anything.
bool ImageFile::checkPng(const unsigned char* bytes, size_t size, std::vector<unsigned char>& decodable) {
  size_t declaredWidth = 0, declaredHeight = 0;
  if (pngDeclaredSize(bytes, size, &declaredWidth, &declaredHeight) &&
      (declaredWidth > sideLimit() || declaredHeight > sideLimit()))
    return refuse(formatted("%.0f x %.0f pixels: images wider or higher than %.0f pixels are not supported",
                            static_cast<double>(declaredWidth), static_cast<double>(declaredHeight), sideLimit()));
  const double budget = neededBytes(static_cast<double>(declaredWidth) * static_cast<double>(declaredHeight));
  PngInspection png = inspectPng(bytes, size, budget);
  if (!png.chunksFit) return refuse("The image is damaged: a PNG chunk declares more bytes than the file holds");
  if (png.metadataOverBudget)
    return refuse(formatted("Its compressed text or profile chunks inflate to more than %.1f MB, more than the "
                            "image itself needs: a decompression bomb", budget / 1e6));
  decodable = std::move(png.decodable);
  return true;
}

// A scan that repeats what earlier scans gave makes the decoder redo the whole
// image once more for nothing; the scans before it make the image.
bool ImageFile::checkJpegScans(const unsigned char* bytes, size_t size, std::vector<unsigned char>& decodable) {
  const JpegScanCheck scans = ::checkJpegScans(bytes, size);
  if (scans.repeatedScanAt == 0) return true;
  const std::string damage = formatted("scan %.0f repeats what earlier scans gave", scans.scanNumber);
  if (!limits.acceptDamaged) return refuse("The image is damaged: " + damage + " (--accept-damaged uses what can be decoded)");
  decodable.assign(bytes, bytes + scans.repeatedScanAt);
  decodable.push_back(0xFF);
  decodable.push_back(0xD9);
  notes.push_back("Dornick -> The image is damaged (" + damage + "); the scans before it are used.");
  return true;
}

// What a refusing decoder said, or, where it gave no reason, what is wrong.
std::string ImageFile::decoderRefusal(const std::string& format, const ExceptionInfo* exception,
                                      const unsigned char* bytes, size_t size) const {
  const std::string said = exceptionText(exception);
  if (said != "no reason given" || format != "PNG") return "The " + format + " decoder refused it: " + said;
  const std::string problem = pngPixelDataProblem(bytes, size);
  return problem.empty() ? "The PNG decoder refused it: no reason given" : "The image is damaged: " + problem;
}

double ImageFile::neededBytes(double pixels) const { return kBaseBytes + pixels * limits.bytesPerPixel; }

// Refuses, before anything is decoded, an image too large for the storages or
// for the memory it would take.
bool ImageFile::checkSize(size_t width, size_t height) {
  if (width == 0 || height == 0) return refuse("The image has no pixels");
  if (width > sideLimit() || height > sideLimit())
    return refuse(formatted("Images wider or higher than %.0f pixels are not supported", sideLimit()));
  const double pixels = static_cast<double>(width) * static_cast<double>(height);
  if (pixels <= maxPixels) return true;
  const double need = neededBytes(pixels);
  const bool userLimit = limits.maxMegapixels > 0.0 && limits.maxMegapixels * 1e6 == maxPixels;
  const std::string size =
      formatted("%.0f x %.0f pixels (%.1f megapixels) need about ", static_cast<double>(width),
                static_cast<double>(height), pixels / 1e6) +
      (need < 1e9 ? formatted("%.0f MB of memory", need / 1e6) : formatted("%.1f GB of memory", need / 1e9));
  if (userLimit) return refuse(size + formatted("; the limit is %.1f megapixels (--max-megapixels)", maxPixels / 1e6));
  return refuse(size + formatted(", more than this machine holds (%.1f GB, %.1f megapixels)",
                                 usableMemoryBytes() / 1e9, maxPixels / 1e6));
}

// One row at a time: the floats of the whole image are never held at once.
void ImageFile::exportRow(size_t y, float* samples) const {
  DecoderReport report;
  const MagickBooleanType exported = ExportImagePixels(image, 0, static_cast<ssize_t>(y), width, 1, "RGB",
                                                       FloatPixel, samples, report.exception);
  if (exported == MagickFalse) reportFatal("Dornick -> The image pixels could not be read!");
}

RgbPlanes ImageFile::readPlanes() const {
  RgbPlanes planes;
  planes.red.resize(width * height);
  planes.green.resize(width * height);
  planes.blue.resize(width * height);
  forEachRow([&](size_t y, const float* samples) {
    for (size_t x = 0; x < width; ++x) {
      planes.red[y * width + x] = samples[3 * x];
      planes.green[y * width + x] = samples[3 * x + 1];
      planes.blue[y * width + x] = samples[3 * x + 2];
    }
  });
  return planes;
}

void ImageFile::fillStorage(S_CImageStorage& storage) const {
  storage.allocateStorage(static_cast<short>(width), static_cast<short>(height), CM_RGB);
  E_Rgb** columns = storage.getRgbArray();
  forEachRow([&](size_t y, const float* samples) {
    for (size_t x = 0; x < width; ++x)
      columns[x][y] = E_Rgb(sampleByte(samples[3 * x]), sampleByte(samples[3 * x + 1]), sampleByte(samples[3 * x + 2]));
  });
}
