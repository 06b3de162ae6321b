// Times each step of the segmentation pipeline on synthetic images and on photos
// loaded through the program's own loader.
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/ImageLoading.h"
#include "engine/M_RSST.h"
#include "storage/Report.h"
#include "storage/S_CImageStorage.h"
#include "storage/S_RegionStorage.h"

#ifndef BENCH_BUILD_TYPE
#define BENCH_BUILD_TYPE "unknown"
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Steps are timed on the wall clock, or with --cpu on the process's CPU time
// (all threads), the figure to read on a shared machine.
bool timeOnCpu = false;

double nowMs() {
  if (!timeOnCpu) return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
  timespec spent{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &spent);
  return spent.tv_sec * 1e3 + spent.tv_nsec / 1e6;
}

constexpr const char* kUsage =
    "usage: bench_segmentation [--sizes WxH,...|none] [--counts N,...] [--threads N,...] [--runs N] [--fast]\n"
    "                          [--cpu] [photo ...]\n"
    "  defaults: --sizes 640x480,1000x1000,2560x1600 --counts 0,2,10,40 --threads 1 --runs 3\n"
    "  the runs of each thread count alternate, and each step's speed-up over the first count is listed\n"
    "  --fast runs the engine's fast mode; --cpu times the steps on the process's CPU time\n"
    "  count 0 lets the merging rules decide (wanted 0, floor 255); N forces N regions (floor 0)\n"
    "  photos are read as Dornick reads them (PNG, JPEG, PNM, ...); their loading is timed too\n";

struct Options {
  std::vector<std::pair<int, int>> sizes{{640, 480}, {1000, 1000}, {2560, 1600}};
  std::vector<unsigned> counts{0, 2, 10, 40};
  std::vector<unsigned> threads{1};
  int runs = 3;
  bool fast = false;
  std::vector<std::string> photos;
};

struct StepMark {
  const char* step;  // processFrame passes literals, so the pointer outlives the run
  double at;  // ms, see nowMs
  uint32_t regions;
  uint32_t links;
};

// The engine's step hook turned into a list of timestamps, one per step.
class TimedEngine : public M_RSST {
 public:
  void startFrame() {
    marks_.clear();
    marks_.reserve(32);
    start_ = nowMs();
  }
  const std::vector<StepMark>& marks() const { return marks_; }
  double start() const { return start_; }

 protected:
  void stepDone(const char* step) override {
    marks_.push_back({step, nowMs(), regionCount, heapSize()});
  }

 private:
  std::vector<StepMark> marks_;
  double start_ = 0;
};

[[noreturn]] void usageError(const std::string& problem) {
  std::fprintf(stderr, "bench_segmentation: %s\n%s", problem.c_str(), kUsage);
  std::exit(2);
}

long parseNumber(const std::string& text, long low, long high, const char* what) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < low || value > high)
    usageError(std::string("bad ") + what + " '" + text + "'");
  return value;
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  size_t from = 0;
  for (size_t comma; (comma = text.find(',', from)) != std::string::npos; from = comma + 1)
    items.push_back(text.substr(from, comma - from));
  items.push_back(text.substr(from));
  return items;
}

// Sizes stay within the storages' signed 16-bit coordinates.
std::vector<std::pair<int, int>> parseSizes(const std::string& text) {
  std::vector<std::pair<int, int>> sizes;
  if (text == "none") return sizes;
  for (const std::string& item : splitList(text)) {
    const size_t cross = item.find('x');
    if (cross == std::string::npos) usageError("bad size '" + item + "'");
    sizes.emplace_back(parseNumber(item.substr(0, cross), 5, 32767, "width"),
                       parseNumber(item.substr(cross + 1), 5, 32767, "height"));
  }
  return sizes;
}

std::vector<unsigned> parseNumbers(const std::string& text, long low, long high, const char* what) {
  std::vector<unsigned> numbers;
  for (const std::string& item : splitList(text))
    numbers.push_back(static_cast<unsigned>(parseNumber(item, low, high, what)));
  return numbers;
}

Options parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takesValue = arg == "--sizes" || arg == "--counts" || arg == "--runs" || arg == "--threads";
    if (takesValue && i + 1 >= argc) usageError(arg + " needs a value");
    if (arg == "--sizes") options.sizes = parseSizes(argv[++i]);
    else if (arg == "--counts") options.counts = parseNumbers(argv[++i], 0, 2048, "count");
    else if (arg == "--threads") options.threads = parseNumbers(argv[++i], 1, 1024, "thread count");
    else if (arg == "--runs") options.runs = static_cast<int>(parseNumber(argv[++i], 1, 1000, "run count"));
    else if (arg == "--fast") options.fast = true;
    else if (arg == "--cpu") timeOnCpu = true;
    else if (arg == "--help" || arg == "-h") usageError("help");
    else if (arg.rfind("--", 0) == 0) usageError("unknown option " + arg);
    else options.photos.push_back(arg);
  }
  if (options.sizes.empty() && options.photos.empty()) usageError("nothing to run");
  return options;
}

// A well-mixed 32-bit hash; compare_skimage.py computes the same images with it.
uint32_t mix32(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

constexpr uint32_t kSeed = 20240601U;
constexpr int kBlockColumns = 16;
constexpr int kBlockRows = 12;
constexpr int kNoiseAmplitude = 16;

// Blocks scale with the image, so every size shows the same scene at a different resolution.
unsigned char syntheticSample(uint32_t x, uint32_t y, uint32_t channel, uint32_t width, uint32_t height) {
  const uint32_t block = (y * kBlockRows / height) * kBlockColumns + x * kBlockColumns / width;
  const int flat = static_cast<int>(mix32(mix32(kSeed) ^ (block * 3 + channel)) % 256);
  const uint32_t counter = (y * width + x) * 3 + channel;
  const int noise = static_cast<int>(mix32(mix32(kSeed + 1) ^ counter) % (2 * kNoiseAmplitude + 1)) -
                    kNoiseAmplitude;
  return static_cast<unsigned char>(std::clamp(flat + noise, 0, 255));
}

// Adler-32 of the RGB bytes in row order, printed so the Python side can show it drew the same image.
struct Adler32 {
  uint32_t a = 1, b = 0;
  void add(unsigned char byte) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  uint32_t value() const { return (b << 16) | a; }
};

uint32_t drawSynthetic(S_CImageStorage& image, int width, int height) {
  image.allocateStorage(static_cast<short>(width), static_cast<short>(height), CM_RGB);
  Adler32 sum;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      unsigned char rgb[3];
      for (uint32_t c = 0; c < 3; ++c) {
        rgb[c] = syntheticSample(x, y, c, width, height);
        sum.add(rgb[c]);
      }
      image.writePixelRgb(static_cast<short>(x), static_cast<short>(y), rgb[0], rgb[1], rgb[2]);
    }
  }
  return sum.value();
}

// Dornick's loading path: the file decoded, its samples rounded into the
// storage and the decoder's image freed. Returns the Adler-32 of the storage's
// bytes, row by row.
uint32_t loadPhoto(const std::string& path, S_CImageStorage& image, double& loadingMs) {
  const Clock::time_point start = Clock::now();
  ImageFile file(path.c_str());
  if (!file.isLoaded()) reportFatal(("bench_segmentation -> " + path + ": " + file.getFailure()).c_str());
  file.fillStorage(image);
  file.releasePixels();
  loadingMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  Adler32 sum;
  for (short y = 0; y < image.getHeight(); ++y)
    for (short x = 0; x < image.getWidth(); ++x) {
      unsigned char rgb[3] = {0, 0, 0};
      image.readPixelRgb(x, y, &rgb[0], &rgb[1], &rgb[2]);
      for (unsigned char sample : rgb) sum.add(sample);
    }
  return sum.value();
}

std::string firstLineStartingWith(const char* file, const std::string& prefix) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) return line;
  return "";
}

std::string cpuModel() {
  const std::string line = firstLineStartingWith("/proc/cpuinfo", "model name");
  const size_t colon = line.find(':');
  return colon == std::string::npos ? "unknown CPU" : line.substr(line.find_first_not_of(" \t", colon + 1));
}

int usableCores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set);
  return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
}

// A "VmXxx:   1234 kB" field of /proc/self/status in bytes, or -1.
long long statusBytes(const char* field) {
  const std::string line = firstLineStartingWith("/proc/self/status", std::string(field) + ":");
  if (line.empty()) return -1;
  return std::atoll(line.c_str() + std::strlen(field) + 1) * 1024;
}

// Linux resets the peak-RSS mark on writing 5 to clear_refs; without it the peak is the process's.
bool resetPeakMemory() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

long long peakMemoryBytes() {
  const long long hwm = statusBytes("VmHWM");
  if (hwm >= 0) return hwm;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<long long>(usage.ru_maxrss) * 1024;
}

double millisecondsBetween(double from, double to) { return to - from; }

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct RunTimes {
  std::vector<double> stepMs;  // each step from the end of the one before, the first from the call
  double releaseMs;            // from the last step until processFrame returns
  double totalMs;
};

RunTimes timeOneRun(TimedEngine& engine, S_CImageStorage& image, S_RegionStorage& result, unsigned count) {
  const unsigned regionFloor = count == 0 ? 255 : 0;
  engine.startFrame();
  engine.processFrame(image, result, count, regionFloor, 0);
  const double end = nowMs();
  RunTimes run{};
  double previous = engine.start();
  for (const StepMark& mark : engine.marks()) {
    run.stepMs.push_back(millisecondsBetween(previous, mark.at));
    previous = mark.at;
  }
  run.releaseMs = millisecondsBetween(previous, end);
  run.totalMs = millisecondsBetween(engine.start(), end);
  return run;
}

// Medians of one image at one wanted count, with the region count after each step.
struct CaseResult {
  unsigned count = 0;
  unsigned threads = 1;
  std::vector<StepMark> marks;  // of the last run: merging is deterministic, so any run would do
  std::vector<double> stepMs;
  double releaseMs = 0;
  double totalMs = 0;
  int finalRegions = 0;
  long long peakBytes = 0;
};

double medianOf(const std::vector<RunTimes>& runs, double RunTimes::*field) {
  std::vector<double> values;
  for (const RunTimes& run : runs) values.push_back(run.*field);
  return median(values);
}

CaseResult summarise(const std::vector<RunTimes>& runs) {
  CaseResult result;
  for (size_t step = 0; step < runs.front().stepMs.size(); ++step) {
    std::vector<double> values;
    for (const RunTimes& run : runs) values.push_back(run.stepMs.at(step));
    result.stepMs.push_back(median(values));
  }
  result.releaseMs = medianOf(runs, &RunTimes::releaseMs);
  result.totalMs = medianOf(runs, &RunTimes::totalMs);
  return result;
}

// One case per thread count, their runs alternating so that a change of load
// on the machine meets them all alike.
std::vector<CaseResult> runCases(TimedEngine& engine, S_CImageStorage& image, unsigned count,
                                 const std::vector<unsigned>& threads, int runCount) {
  S_RegionStorage result;
  std::vector<std::vector<RunTimes>> runs(threads.size());
  std::vector<CaseResult> cases(threads.size());
  for (int i = 0; i < runCount; ++i) {
    for (size_t t = 0; t < threads.size(); ++t) {
      engine.threadCount = threads[t];
      resetPeakMemory();
      runs[t].push_back(timeOneRun(engine, image, result, count));
      if (engine.marks().empty()) reportFatal("bench_segmentation -> The engine ran no steps.");
      cases[t].peakBytes = std::max(cases[t].peakBytes, peakMemoryBytes());
      cases[t].marks = engine.marks();
      cases[t].finalRegions = result.getRegionNumber();
    }
  }
  for (size_t t = 0; t < threads.size(); ++t) {
    CaseResult summary = summarise(runs[t]);
    summary.count = count;
    summary.threads = threads[t];
    summary.marks = cases[t].marks;
    summary.finalRegions = cases[t].finalRegions;
    summary.peakBytes = cases[t].peakBytes;
    cases[t] = summary;
  }
  return cases;
}

struct Subject {
  std::string label;
  bool synthetic;
  int width, height;
};

// First-stage time and link count of one synthetic size, for the growth table.
struct GrowthPoint {
  std::string label;
  unsigned count;
  double links;
  double firstStageMs;
};

void printHeader(const Options& options, bool peakResets) {
  std::printf("bench_segmentation: median of %d run(s) per case, times in ms (%s)\n", options.runs,
              timeOnCpu ? "process CPU time" : "wall clock");
  std::printf("machine: %d core(s) usable, %s; load average %s\n", usableCores(), cpuModel().c_str(),
              firstLineStartingWith("/proc/loadavg", "").c_str());
  std::printf("build: %s, compiler %s\n", BENCH_BUILD_TYPE, __VERSION__);
  std::printf("count 0: wanted 0, floor 255 (the rules decide); count N: wanted N, floor 0\n");
  std::printf("mode: %s\n", options.fast ? "fast" : "exact");
  std::printf("peak memory: %s\n", peakResets ? "VmHWM, reset before each run, the highest run's"
                                              : "process-wide maximum (the mark cannot be reset here)");
}

void printRow(const char* name, const std::vector<CaseResult>& cases, double (*cell)(const CaseResult&, size_t),
              size_t step, bool withRegions, size_t graphStep) {
  std::printf("%-22s", name);
  for (const CaseResult& c : cases) {
    std::printf(" %11.1f", cell(c, step));
    if (withRegions && step >= graphStep && step < c.marks.size()) std::printf(" %8u", c.marks[step].regions);
    else if (withRegions) std::printf(" %8s", "");
  }
  std::printf("\n");
}

size_t stepIndex(const CaseResult& c, const char* name) {
  for (size_t i = 0; i < c.marks.size(); ++i)
    if (std::strcmp(c.marks[i].step, name) == 0) return i;
  return c.marks.size();
}

void printCaseTable(const std::vector<CaseResult>& cases, double pixels) {
  std::printf("%-22s", "step");
  for (const CaseResult& c : cases) {
    const std::string column =
        "count " + std::to_string(c.count) + (cases.back().threads != 1 ? " t" + std::to_string(c.threads) : "");
    std::printf(" %11s %8s", column.c_str(), "regions");
  }
  std::printf("\n");
  const CaseResult& first = cases.front();
  const size_t graphStep = stepIndex(first, "graph");
  for (size_t step = 0; step < first.marks.size(); ++step)
    printRow(first.marks[step].step, cases, [](const CaseResult& c, size_t s) { return c.stepMs.at(s); }, step,
             true, graphStep);
  printRow("(release)", cases, [](const CaseResult& c, size_t) { return c.releaseMs; }, 0, false, 0);
  printRow("total", cases, [](const CaseResult& c, size_t) { return c.totalMs; }, 0, false, 0);
  std::printf("%-22s", "regions in result");
  for (const CaseResult& c : cases) std::printf(" %11d %8s", c.finalRegions, "");
  std::printf("\n%-22s", "peak memory B/px");
  for (const CaseResult& c : cases) std::printf(" %11.1f %8s", c.peakBytes / pixels, "");
  std::printf("\n");
}

// Flags a later stage that takes longer than the first stage, which does nearly all the merges.
void printSlowStages(const std::vector<CaseResult>& cases) {
  for (const CaseResult& c : cases) {
    const size_t firstStage = stepIndex(c, "first stage");
    const size_t threshold = stepIndex(c, "threshold");
    if (firstStage >= c.marks.size()) continue;
    for (size_t step = threshold + 1; step < c.marks.size(); ++step) {
      if (std::strcmp(c.marks[step].step, "output") == 0 || c.stepMs[step] <= c.stepMs[firstStage]) continue;
      std::printf("note: at count %u, '%s' (%.1f ms) is slower than the first stage (%.1f ms)\n", c.count,
                  c.marks[step].step, c.stepMs[step], c.stepMs[firstStage]);
    }
  }
}

// Each step's time with the first thread count over its time with the others.
void printSpeedUps(const std::vector<CaseResult>& cases) {
  if (cases.front().threads == cases.back().threads) return;
  std::printf("\n%-22s", "speed-up");
  for (const CaseResult& c : cases)
    if (c.threads != cases.front().threads)
      std::printf(" %11s", ("c" + std::to_string(c.count) + " t" + std::to_string(c.threads)).c_str());
  std::printf("\n");
  const CaseResult* base = &cases.front();
  const size_t steps = base->marks.size() + 1;
  for (size_t step = 0; step < steps; ++step) {
    std::printf("%-22s", step + 1 < steps ? base->marks[step].step : "total");
    for (const CaseResult& c : cases) {
      if (c.threads == cases.front().threads) {
        base = &c;
        continue;
      }
      const double from = step + 1 < steps ? base->stepMs.at(step) : base->totalMs;
      const double to = step + 1 < steps ? c.stepMs.at(step) : c.totalMs;
      std::printf(" %11.2f", to > 0 ? from / to : 0.0);
    }
    std::printf("\n");
  }
}

void benchSubject(TimedEngine& engine, S_CImageStorage& image, const Subject& subject, uint32_t checksum,
                  const Options& options, std::vector<GrowthPoint>& growth) {
  const double pixels = static_cast<double>(subject.width) * subject.height;
  std::vector<CaseResult> cases;
  for (unsigned count : options.counts) {
    std::fprintf(stderr, "running %s at count %u ...\n", subject.label.c_str(), count);
    for (const CaseResult& c : runCases(engine, image, count, options.threads, options.runs)) cases.push_back(c);
  }
  const CaseResult& first = cases.front();
  const uint32_t links = first.marks.at(stepIndex(first, "graph")).links;
  const std::string title = subject.synthetic ? "synthetic " + subject.label
                                              : "photo " + subject.label + ", " + std::to_string(subject.width) +
                                                    "x" + std::to_string(subject.height);
  std::printf("\n%s (%.2f MP), %u links, image checksum %08x\n", title.c_str(), pixels / 1e6, links, checksum);
  printCaseTable(cases, pixels);
  printSlowStages(cases);
  printSpeedUps(cases);
  std::fflush(stdout);
  if (!subject.synthetic) return;
  for (const CaseResult& c : cases)
    if (c.threads == options.threads.front())
      growth.push_back({subject.label, c.count, static_cast<double>(links), c.stepMs.at(stepIndex(c, "first stage"))});
}

// The first stage merges nearly every pixel away through a heap of L links, hence the L log L yardstick.
void printGrowth(std::vector<GrowthPoint> growth) {
  std::stable_sort(growth.begin(), growth.end(),
                   [](const GrowthPoint& a, const GrowthPoint& b) { return a.count < b.count; });
  std::printf("\nfirst stage against the number of links L, from each size to the next\n");
  std::printf("%-6s %-12s %-12s %9s %13s %13s\n", "count", "from", "to", "L ratio", "L log L ratio",
              "measured");
  for (size_t i = 1; i < growth.size(); ++i) {
    const GrowthPoint& from = growth[i - 1];
    const GrowthPoint& to = growth[i];
    if (from.count != to.count) continue;
    const double expected = to.links * std::log(to.links) / (from.links * std::log(from.links));
    std::printf("%-6u %-12s %-12s %9.2f %13.2f %13.2f\n", to.count, from.label.c_str(), to.label.c_str(),
                to.links / from.links, expected, to.firstStageMs / from.firstStageMs);
  }
}

std::string baseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseOptions(argc, argv);
  MagickSession magick(argv[0]);
  printHeader(options, resetPeakMemory());
  TimedEngine engine;
  engine.fastMode = options.fast;
  std::vector<GrowthPoint> growth;
  for (const auto& [width, height] : options.sizes) {
    S_CImageStorage image;
    const uint32_t checksum = drawSynthetic(image, width, height);
    const std::string label = std::to_string(width) + "x" + std::to_string(height);
    benchSubject(engine, image, {label, true, width, height}, checksum, options, growth);
  }
  for (const std::string& path : options.photos) {
    S_CImageStorage image;
    double loadingMs = 0;
    const uint32_t checksum = loadPhoto(path, image, loadingMs);
    std::printf("\nloading %s: %.1f ms (decoding, rounding into the storage, freeing the decoded image)\n",
                baseName(path).c_str(), loadingMs);
    benchSubject(engine, image, {baseName(path), false, image.getWidth(), image.getHeight()}, checksum, options,
                 growth);
  }
  if (options.sizes.size() > 1) printGrowth(growth);
  return 0;
}
