// Golden label maps: reading the photos, segmenting them, and the map file format.
#include "support/GoldenMaps.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

#include "engine/M_RSST.h"
#include "storage/S_RegionStorage.h"
#include "support/ImageDrawing.h"

const std::vector<GoldenImage> kGoldenImages = {
    {"aero1_80x60", "golden/aero1_80x60.ppm"},         {"astronaut_128x128", "golden/astronaut_128x128.ppm"},
    {"baboon_120x120", "golden/baboon_120x120.ppm"},   {"hubble_161x121", "golden/hubble_161x121.ppm"},
    {"rocket_96x64", "golden/rocket_96x64.ppm"},       {"rocket_240x161", "golden/rocket_240x161.ppm"},
    {"shapes_72x54", "golden/shapes_72x54.ppm"},       {"halves_8x6", "halves_8x6.ppm"},
    {"astronaut_256x256", "golden/astronaut_256x256.ppm"}};  // jaggedness radius 3

const std::vector<GoldenRequest> kGoldenRequests = {{0, 255}, {2, 0}, {10, 0}, {40, 0}, {300, 0}};

namespace {

// Skips white space and comment lines between the fields of a PNM header.
void skipSeparators(std::istream& in) {
  for (int c = in.peek(); c != EOF; c = in.peek()) {
    if (c == '#') {
      std::string comment;
      std::getline(in, comment);
    } else if (std::isspace(c)) {
      in.get();
    } else {
      return;
    }
  }
}

}  // namespace

std::string readPpm(const std::string& path, S_CImageStorage& image) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot open " + path;
  std::string magic;
  int width = 0, height = 0, maxValue = 0;
  in >> magic;
  skipSeparators(in);
  in >> width;
  skipSeparators(in);
  in >> height;
  skipSeparators(in);
  in >> maxValue;
  if (!in || (magic != "P6" && magic != "P3") || maxValue != 255 || width < 1 || height < 1 || width > 32767 || height > 32767)
    return path + " is not a binary 8-bit PPM";
  std::vector<unsigned char> bytes(static_cast<size_t>(width) * height * 3);
  if (magic == "P6") {
    in.get();  // the one white-space byte before the samples
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.gcount() != static_cast<std::streamsize>(bytes.size())) return path + " is truncated";
  } else {
    for (unsigned char& byte : bytes) {
      int value = -1;
      skipSeparators(in);
      if (!(in >> value) || value < 0 || value > 255) return path + " holds a bad or missing sample";
      byte = static_cast<unsigned char>(value);
    }
  }
  image.allocateStorage(static_cast<short>(width), static_cast<short>(height), CM_RGB);
  const unsigned char* p = bytes.data();
  for (short y = 0; y < height; ++y)
    for (short x = 0; x < width; ++x, p += 3) image.writePixelRgb(x, y, p[0], p[1], p[2]);
  return "";
}

GoldenMap segmentForGolden(S_CImageStorage& image, GoldenRequest request, unsigned threads) {
  S_RegionStorage result;
  M_RSST engine;
  engine.threadCount = threads;
  engine.processFrame(image, result, request.wanted, request.regionFloor, 0);
  GoldenMap map;
  map.request = request;
  map.width = result.getWidth();
  map.height = result.getHeight();
  map.regions = result.getRegionNumber();
  map.labels = labelsOf(result);
  return map;
}

// Per map: a line "map <wanted> <floor> <width> <height> <regions>", then one
// line per row of "label" or "label*run" tokens.
std::string formatGoldenMaps(const std::string& imageName, const std::vector<GoldenMap>& maps) {
  std::ostringstream out;
  out << "# Label maps of " << imageName << ".ppm; written by scripts/regenerate-golden-maps.sh only.\n";
  for (const GoldenMap& map : maps) {
    out << "map " << map.request.wanted << ' ' << map.request.regionFloor << ' ' << map.width << ' '
        << map.height << ' ' << map.regions << '\n';
    for (int y = 0; y < map.height; ++y) {
      const int* row = map.labels.data() + static_cast<size_t>(y) * map.width;
      for (int x = 0; x < map.width;) {
        int run = 1;
        while (x + run < map.width && row[x + run] == row[x]) ++run;
        out << (x == 0 ? "" : " ") << row[x];
        if (run > 1) out << '*' << run;
        x += run;
      }
      out << '\n';
    }
  }
  return out.str();
}

std::string parseGoldenMaps(const std::string& text, std::vector<GoldenMap>& maps) {
  std::istringstream in(text);
  std::string line;
  int lineNumber = 0;
  auto failure = [&](const std::string& what) { return "line " + std::to_string(lineNumber) + ": " + what; };
  while (std::getline(in, line)) {
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;
    GoldenMap map;
    std::istringstream head(line);
    std::string word;
    if (!(head >> word >> map.request.wanted >> map.request.regionFloor >> map.width >> map.height >> map.regions) ||
        word != "map" || map.width < 1 || map.height < 1)
      return failure("expected a map header");
    map.labels.reserve(static_cast<size_t>(map.width) * map.height);
    for (int y = 0; y < map.height; ++y) {
      if (!std::getline(in, line)) return failure("map ends early");
      ++lineNumber;
      std::istringstream row(line);
      long label = 0;
      int count = 0;
      while (row >> label) {
        int run = 1;
        if (row.peek() == '*') {
          row.get();
          if (!(row >> run) || run < 1) return failure("bad run length");
        }
        map.labels.insert(map.labels.end(), static_cast<size_t>(run), static_cast<int>(label));
        count += run;
      }
      if (!row.eof() || count != map.width) return failure("row does not hold " + std::to_string(map.width) + " labels");
    }
    maps.push_back(std::move(map));
  }
  return "";
}

std::string describeDifference(const GoldenMap& golden, const GoldenMap& actual) {
  std::ostringstream out;
  if (actual.width != golden.width || actual.height != golden.height) {
    out << "map is " << actual.width << "x" << actual.height << ", golden " << golden.width << "x" << golden.height
        << "; regions " << actual.regions << ", golden " << golden.regions;
    return out.str();
  }
  size_t first = golden.labels.size(), differing = 0;
  for (size_t i = 0; i < golden.labels.size() && i < actual.labels.size(); ++i) {
    if (golden.labels[i] == actual.labels[i]) continue;
    if (differing++ == 0) first = i;
  }
  if (differing == 0 && actual.regions == golden.regions && actual.labels.size() == golden.labels.size()) return "";
  out << "regions " << actual.regions << ", golden " << golden.regions;
  if (differing > 0) {
    out << "; first differing pixel (" << first % golden.width << ", " << first / golden.width << "): label "
        << actual.labels[first] << ", golden " << golden.labels[first] << "; " << differing << " of "
        << golden.labels.size() << " pixels differ";
  }
  return out.str();
}
