// PNG chunk walk, counting inflation, and the JPEG scan sequence.
#include "app/FileInspection.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <set>

namespace {

size_t bigEndian32(const unsigned char* p) {
  return (size_t{p[0]} << 24) | (size_t{p[1]} << 16) | (size_t{p[2]} << 8) | size_t{p[3]};
}

size_t bigEndian16(const unsigned char* p) { return (size_t{p[0]} << 8) | size_t{p[1]}; }

// Chunks that decide what the pixels are, the profile and orientation the
// loader tells the user about, and the decoder library's own; every other
// ancillary chunk (text, times, private data) is left out.
bool decoderNeeds(const std::string& type) {
  static const std::set<std::string> kept{"IHDR", "PLTE", "IDAT", "IEND", "tRNS", "gAMA", "cHRM", "sRGB",
                                          "sBIT", "bKGD", "hIST", "pHYs", "cICP", "iCCP", "eXIf", "oFFs",
                                          "vpAg", "caNv", "orNT"};
  return kept.count(type) != 0;
}

// The bytes a zlib stream inflates to, counted up to limit + 1 (never stored).
double inflatedSize(const unsigned char* data, size_t size, double limit) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return 0.0;
  stream.next_in = const_cast<unsigned char*>(data);
  stream.avail_in = static_cast<uInt>(std::min<size_t>(size, 0xFFFFFFFFu));
  unsigned char sink[1 << 16];
  double total = 0.0;
  int status = Z_OK;
  while (status == Z_OK && total <= limit) {
    stream.next_out = sink;
    stream.avail_out = sizeof sink;
    status = inflate(&stream, Z_NO_FLUSH);
    total += static_cast<double>(sizeof sink - stream.avail_out);
    if (status == Z_BUF_ERROR && stream.avail_in == 0) break;
  }
  inflateEnd(&stream);
  return total;
}

// The compressed part of a zTXt, iCCP or compressed iTXt chunk; size 0 for any other.
std::pair<const unsigned char*, size_t> compressedPart(const std::string& type, const unsigned char* data,
                                                        size_t size) {
  const auto* end = data + size;
  const auto* keywordEnd = std::find(data, end, 0);
  if (keywordEnd == end) return {nullptr, 0};
  if (type == "zTXt" || type == "iCCP") {
    if (end - keywordEnd < 2) return {nullptr, 0};
    return {keywordEnd + 2, static_cast<size_t>(end - keywordEnd - 2)};
  }
  if (type != "iTXt" || end - keywordEnd < 3 || keywordEnd[1] != 1) return {nullptr, 0};
  const auto* languageEnd = std::find(keywordEnd + 3, end, 0);
  if (languageEnd == end) return {nullptr, 0};
  const auto* translatedEnd = std::find(languageEnd + 1, end, 0);
  if (translatedEnd == end) return {nullptr, 0};
  return {translatedEnd + 1, static_cast<size_t>(end - translatedEnd - 1)};
}

}  // namespace

bool pngDeclaredSize(const unsigned char* bytes, size_t size, size_t* width, size_t* height) {
  if (size < 24 || std::memcmp(bytes + 12, "IHDR", 4) != 0) return false;
  *width = bigEndian32(bytes + 16);
  *height = bigEndian32(bytes + 20);
  return true;
}

PngInspection inspectPng(const unsigned char* bytes, size_t size, double metadataBudget) {
  PngInspection inspection;
  std::vector<std::pair<size_t, size_t>> keptSpans{{0, 8}};
  std::set<std::string> seen;
  bool leftOut = false;
  double inflated = 0.0;
  size_t at = 8;
  while (size - at >= 12) {
    const size_t length = bigEndian32(bytes + at);
    if (length > size - at - 12) {
      inspection.chunksFit = false;
      return inspection;
    }
    const std::string type(reinterpret_cast<const char*>(bytes + at + 4), 4);
    const unsigned char* data = bytes + at + 8;
    const auto [compressed, compressedSize] = compressedPart(type, data, length);
    if (compressedSize > 0 && !inspection.metadataOverBudget) {
      inflated += inflatedSize(compressed, compressedSize, metadataBudget - inflated);
      inspection.metadataOverBudget = inflated > metadataBudget;
    }
    // Critical chunks (upper-case first letter) all go on, for the decoder to
    // judge; an ancillary one once at most.
    const bool critical = (type[0] & 0x20) == 0;
    if (critical || (decoderNeeds(type) && seen.insert(type).second))
      keptSpans.emplace_back(at, 12 + length);
    else
      leftOut = true;
    at += 12 + length;
    if (type == "IEND") break;
  }
  if (!leftOut) return inspection;
  for (const auto& [start, length] : keptSpans)
    inspection.decodable.insert(inspection.decodable.end(), bytes + start, bytes + start + length);
  return inspection;
}

std::string pngPixelDataProblem(const unsigned char* bytes, size_t size) {
  size_t width = 0, height = 0;
  if (size < 33 || !pngDeclaredSize(bytes, size, &width, &height)) return "";
  const unsigned char* header = bytes + 16;
  const int depth = header[8];
  const int samples = header[9] == 2 ? 3 : header[9] == 4 ? 2 : header[9] == 6 ? 4 : 1;
  const bool interlaced = header[12] != 0;
  // Each row is a filter byte and its samples; interlaced passes have rows of their own.
  const double rowBytes = 1.0 + std::ceil(static_cast<double>(width) * samples * depth / 8.0);
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return "";
  unsigned char sink[1 << 16];
  double total = 0.0;
  int status = Z_OK;
  const char* zlibMessage = nullptr;
  const double needed = interlaced ? 0.0 : rowBytes * static_cast<double>(height);
  // Counting stops where the rows are all there.
  for (size_t at = 8; size - at >= 12 && status == Z_OK && (interlaced || total < needed);) {
    const size_t length = bigEndian32(bytes + at);
    if (length > size - at - 12) break;
    if (std::memcmp(bytes + at + 4, "IDAT", 4) == 0) {
      stream.next_in = const_cast<unsigned char*>(bytes + at + 8);
      stream.avail_in = static_cast<uInt>(length);
      while (status == Z_OK && stream.avail_in > 0 && (interlaced || total < needed)) {
        stream.next_out = sink;
        stream.avail_out = sizeof sink;
        status = inflate(&stream, Z_NO_FLUSH);
        total += static_cast<double>(sizeof sink - stream.avail_out);
      }
      if (status == Z_BUF_ERROR) status = Z_OK;
    }
    at += 12 + length;
  }
  if (status != Z_OK && status != Z_STREAM_END && stream.msg != nullptr) zlibMessage = stream.msg;
  inflateEnd(&stream);
  if (zlibMessage != nullptr) return std::string("its pixel data is corrupt (") + zlibMessage + ")";
  if (!interlaced && total < needed)
    return "its pixel data stops after " + std::to_string(static_cast<long>(total / rowBytes)) + " of " +
           std::to_string(height) + " rows";
  if (interlaced && status != Z_STREAM_END) return "its pixel data stops before the last row";
  return "";
}

JpegScanCheck checkJpegScans(const unsigned char* bytes, size_t size) {
  JpegScanCheck check;
  bool progressive = false;
  std::vector<int> componentIds;
  // Per component and coefficient: the bit position the last scan left it at, -1 before any.
  std::vector<std::array<int, 64>> bitLeft;
  int scans = 0;
  size_t at = 2;
  while (at + 4 <= size && bytes[at] == 0xFF) {
    const unsigned char marker = bytes[at + 1];
    if (marker == 0xFF || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
      at += marker == 0xFF ? 1 : 2;
      continue;
    }
    if (marker == 0xD9) break;
    const size_t length = bigEndian16(bytes + at + 2);
    if (length < 2 || at + 2 + length > size) break;
    const unsigned char* data = bytes + at + 4;
    const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (startOfFrame && length >= 8) {
      progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
      const size_t count = std::min<size_t>(data[5], (length - 8) / 3);
      componentIds.clear();
      for (size_t c = 0; c < count; ++c) componentIds.push_back(data[6 + 3 * c]);
      std::array<int, 64> unseen;
      unseen.fill(-1);
      bitLeft.assign(componentIds.size(), unseen);
    }
    if (marker == 0xDA && length >= 6) {
      ++scans;
      const size_t count = data[0];
      if (length >= 6 + 2 * count) {
        const unsigned char* tail = data + 1 + 2 * count;
        const int first = tail[0], last = std::min(63, static_cast<int>(tail[1]));
        const int high = tail[2] >> 4, low = tail[2] & 15;
        for (size_t s = 0; s < count; ++s) {
          const auto found = std::find(componentIds.begin(), componentIds.end(), data[1 + 2 * s]);
          if (found == componentIds.end()) continue;
          std::array<int, 64>& bits = bitLeft[static_cast<size_t>(found - componentIds.begin())];
          // A sequential frame gives each component once; a progressive scan
          // either gives coefficients first or refines them by one bit.
          for (int k = progressive ? first : 0; k <= (progressive ? last : 0); ++k) {
            const bool adds = progressive ? (high == 0 ? bits[k] < 0 : bits[k] == high && low == high - 1)
                                          : bits[k] < 0;
            if (!adds) {
              check.repeatedScanAt = at;
              check.scanNumber = scans;
              return check;
            }
            bits[k] = low;
          }
        }
      }
      // The entropy-coded data runs to the next marker that is not a stuffed byte or a restart.
      size_t next = at + 2 + length;
      while (next + 1 < size && !(bytes[next] == 0xFF && bytes[next + 1] != 0 &&
                                  !(bytes[next + 1] >= 0xD0 && bytes[next + 1] <= 0xD7)))
        ++next;
      at = next;
      continue;
    }
    at += 2 + length;
  }
  return check;
}
