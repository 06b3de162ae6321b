// Command-line parsing. Every option is one row of kOptions: adding an option
// means adding a field to Options and a row here; parsing and help follow.
#include "app/Options.h"

#include <cstdlib>
#include <cstring>
#include <set>

#include "app/ImageSize.h"
#include "app/OutputFile.h"

namespace {

constexpr unsigned long kNumberCeiling = kMaxImageSide + 1ul;
constexpr unsigned kFewestRegions = 2;
constexpr unsigned kMostRegions = 2048;

struct OptionRow {
  const char* name;
  const char* alias;      // other spelling, or nullptr
  const char* valueName;  // nullptr for an option without a value
  const char* help;
  // What a value must be, for the complaint about one that is not (nullptr: any non-empty text).
  const char* valueRule;
  // Takes the value (nullptr for an option without one); false rejects it.
  bool (*apply)(Options& options, const char* value);
};

bool storePath(std::string& field, const char* value) {
  field = value;
  return !field.empty();
}

// A positive number up to `most`, fractions allowed ("0.5"), nothing after it.
bool storePositive(double& field, const char* value, double most) {
  char* end = nullptr;
  const double number = std::strtod(value, &end);
  if (end == value || *end != '\0' || !(number > 0.0) || number > most) return false;
  field = number;
  return true;
}

bool readWholeNumber(const char* text, unsigned long* number);

bool storeThreadCount(unsigned& field, const char* value) {
  unsigned long count = 0;
  if (!readWholeNumber(value, &count) || count == 0) return false;
  field = static_cast<unsigned>(count);
  return true;
}

const OptionRow kOptions[] = {
    {"--preview", nullptr, "FILE",
     "each region in its mean input colour, borders one pixel wide; format by extension", nullptr,
     [](Options& o, const char* v) { return storePath(o.previewPath, v); }},
    {"--outline", nullptr, "FILE", "the input with the region borders drawn over it", nullptr,
     [](Options& o, const char* v) { return storePath(o.outlinePath, v); }},
    {"--labels-png", nullptr, "FILE",
     "the labels as a grey PNG, 8-bit below 256 labels, else 16-bit", nullptr,
     [](Options& o, const char* v) { return storePath(o.labelsPngPath, v); }},
    {"--regions", "--region-table", "FILE",
     "one row per region (label, pixels, box, centroid, colours); CSV, or JSON for .json", nullptr,
     [](Options& o, const char* v) { return storePath(o.regionsPath, v); }},
    {"--max-megapixels", nullptr, "N",
     "refuse images above N megapixels (default: what this machine's memory holds)",
     "a number of megapixels above 0, at most 1000000000",
     [](Options& o, const char* v) { return storePositive(o.maxMegapixels, v, 1e9); }},
    {"--max-seconds", nullptr, "N",
     "stop after N seconds of decoding and segmenting, with status 1 and no output",
     "a number of seconds above 0, at most 10000000",
     [](Options& o, const char* v) { return storePositive(o.maxSeconds, v, 1e7); }},
    {"--accept-damaged", nullptr, nullptr,
     "segment a truncated or corrupt image as far as it decodes, with a warning", nullptr,
     [](Options& o, const char*) { o.acceptDamaged = true; return true; }},
    {"--auto-orient", nullptr, nullptr,
     "turn the image as its EXIF orientation says, as viewers show it (default: the stored pixels)", nullptr,
     [](Options& o, const char*) { o.autoOrient = true; return true; }},
    {"--fast", nullptr, nullptr,
     "merge inside tiles first: as good and several times faster, but other maps than the default", nullptr,
     [](Options& o, const char*) { o.fast = true; return true; }},
    {"--threads", nullptr, "N", "use N threads (default: every core)", "a whole number of threads, 1 or more",
     [](Options& o, const char* v) { return storeThreadCount(o.threads, v); }},
    {"--help", "-h", nullptr, "print this text and exit", nullptr,
     [](Options& o, const char*) { o.request = Request::Help; return true; }},
    {"--version", nullptr, nullptr, "print the program, library and ImageMagick versions and exit", nullptr,
     [](Options& o, const char*) {
       if (o.request == Request::Run) o.request = Request::Version;
       return true;
     }},
};

[[noreturn]] void exitWithUsage() {
  printUsage(stdout);
  std::exit(2);
}

// Leading blanks and a plus sign, then digits only. Values beyond any image
// saturate at kNumberCeiling.
bool readWholeNumber(const char* text, unsigned long* number) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text == '+') ++text;
  if (*text == '\0') return false;
  unsigned long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(*c - '0');
    if (value > kNumberCeiling) value = kNumberCeiling;
  }
  *number = value;
  return true;
}

const OptionRow* findOption(const std::string& name) {
  for (const OptionRow& row : kOptions)
    if (name == row.name || (row.alias != nullptr && name == row.alias)) return &row;
  return nullptr;
}

// Returns false for a count that is not a whole number; one outside the
// engine's range is clamped, with a line saying so.
bool readRegionCount(const char* text, unsigned* wanted) {
  unsigned long count = 0;
  if (!readWholeNumber(text, &count)) return false;
  unsigned clamped = static_cast<unsigned>(count);
  if (count < kFewestRegions) clamped = kFewestRegions;
  if (count > kMostRegions) clamped = kMostRegions;
  if (clamped != count)
    std::fprintf(stderr, "Dornick: count %s is outside %u to %u, %u is used\n", text, kFewestRegions,
                 kMostRegions, clamped);
  *wanted = clamped;
  return true;
}

// Fills the mode and its arguments from the positional words; returns what is
// wrong with them, or "" when nothing is.
std::string readPositionals(const std::vector<const char*>& positional, Options& options) {
  if (positional.empty()) return "no mode given (AS or GL)";
  const std::string mode = positional[0];
  if (mode != "AS" && mode != "GL") return "unknown mode " + mode + " (AS or GL)";
  if (positional.size() < 2) return "no input file given";
  if (positional.size() < 3) return "no output file given";
  options.inputPath = positional[1];
  options.outputPath = positional[2];
  const char* value = positional.size() == 4 ? positional[3] : nullptr;
  if (mode == "AS") {
    if (value == nullptr) return "";
    if (!readRegionCount(value, &options.wanted)) return "count " + std::string(value) + " is not a whole number";
    options.regionFloor = 0;
    return "";
  }
  options.mode = Mode::GridLayout;
  if (value == nullptr) return "GL needs a cell size in pixels";
  unsigned long cellSize = 0;
  if (!readWholeNumber(value, &cellSize) || cellSize == 0)
    return "cell size " + std::string(value) + " is not a whole number of 1 or more";
  options.cellSize = static_cast<unsigned>(cellSize);
  return "";
}

bool namesAPicture(const std::string& path) {
  const std::string extension = extensionOf(path);
  for (const char* picture : {"png", "jpg", "jpeg", "gif", "tif", "tiff", "bmp", "webp"})
    if (extension == picture) return true;
  return false;
}

}  // namespace

std::vector<std::string> Options::outputPaths() const {
  std::vector<std::string> paths{outputPath};
  for (const std::string* path : {&previewPath, &outlinePath, &labelsPngPath, &regionsPath})
    if (!path->empty()) paths.push_back(*path);
  return paths;
}

void printUsage(std::FILE* stream) {
  std::fputs("Arbitrary Shape Usage: \n AS InputFile OutputFile [Max_Number_Of_Seg] \n\n", stream);
  std::fputs("Grid Layout Usage: \n GL InputFile OutputFile GridSize_In_Pixels \n\n", stream);
}

void printHelp(std::FILE* stream) {
  printUsage(stream);
  std::fputs("Options, anywhere after the program name:\n", stream);
  for (const OptionRow& row : kOptions) {
    std::string spelling = row.name;
    if (row.valueName != nullptr) spelling += std::string(" ") + row.valueName;
    if (row.alias != nullptr) {
      spelling += std::string(", ") + row.alias;
      if (row.valueName != nullptr) spelling += std::string(" ") + row.valueName;
    }
    std::fprintf(stream, "  %-20s %s\n", spelling.c_str(), row.help);
  }
  std::fputs("Counts outside 2 to 2048 are clamped; GL labels uncovered pixels 0, like its first cell.\n",
             stream);
}

Options parseCommandLine(int argc, char** argv) {
  Options options;
  std::vector<const char*> positional;
  // The first thing wrong with the line, said before the usage texts.
  std::string complaint;
  const auto reject = [&complaint](const std::string& why) {
    if (complaint.empty()) complaint = why;
  };
  bool optionsEnded = false;
  std::set<const OptionRow*> given;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    // A negative number is a count or cell size gone wrong, not an option.
    const bool negativeNumber = word[0] == '-' && word[1] >= '0' && word[1] <= '9';
    if (optionsEnded || word[0] != '-' || word[1] == '\0' || negativeNumber) {
      positional.push_back(word);
      continue;
    }
    if (std::strcmp(word, "--") == 0) {
      optionsEnded = true;
      continue;
    }
    // "--name=value" or "--name value".
    std::string name = word;
    const char* value = nullptr;
    const size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = word + equals + 1;
      name.resize(equals);
    }
    const OptionRow* row = findOption(name);
    if (row == nullptr) {
      reject("unknown option " + name);
      continue;
    }
    if (row->valueName != nullptr && value == nullptr) {
      if (i + 1 >= argc) {
        reject(name + " needs a value");
        continue;
      }
      value = argv[++i];
    } else if (row->valueName == nullptr && value != nullptr) {
      reject(name + " takes no value");
      continue;
    }
    // A second value would silently replace the first.
    if (!given.insert(row).second && row->valueName != nullptr) reject(name + " is given twice");
    if (!row->apply(options, value)) {
      if (row->valueRule != nullptr && *value != '\0')
        reject(name + " needs " + row->valueRule + ", not \"" + value + "\"");
      else
        reject(name + " needs a value");
    }
  }
  // Asking for help or the version is never an error.
  if (options.request != Request::Run) return options;
  if (positional.size() > 4) reject(std::string("unexpected ") + positional[4]);
  if (complaint.empty()) complaint = readPositionals(positional, options);
  if (!complaint.empty()) {
    std::fprintf(stderr, "Dornick: %s\n", complaint.c_str());
    exitWithUsage();
  }

  if (namesAPicture(options.outputPath))
    std::fprintf(stderr, "Dornick: %s will hold a PGM label map, whatever its name says; "
                         "--labels-png FILE writes the labels as a PNG\n", options.outputPath.c_str());
  return options;
}
