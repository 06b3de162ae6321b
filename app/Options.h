// Dornick's command line: the mode word, the positional arguments and the options.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

enum class Mode { ArbitraryShape, GridLayout };

enum class Request { Run, Help, Version };

struct Options {
  Request request = Request::Run;
  Mode mode = Mode::ArbitraryShape;
  std::string inputPath;
  std::string outputPath;
  unsigned wanted = 0;
  unsigned regionFloor = 255;
  unsigned cellSize = 0;
  std::string previewPath;
  std::string outlinePath;
  std::string labelsPngPath;
  std::string regionsPath;
  double maxMegapixels = 0.0;  // 0: no limit but the machine's memory
  double maxSeconds = 0.0;     // 0: no time limit
  bool acceptDamaged = false;
  bool autoOrient = false;
  bool fast = false;
  unsigned threads = 0;  // 0: every core this process may run on

  // The label map first, then every file an option asks for.
  std::vector<std::string> outputPaths() const;
  // True when an output needs the input's colours beside the labels.
  bool needsColors() const { return !previewPath.empty() || !outlinePath.empty() || !regionsPath.empty(); }
};

// Options may stand anywhere after the program name; "--" ends them. A bad
// command line prints one line saying what is wrong, then the usage texts, and
// ends the process with status 2.
Options parseCommandLine(int argc, char** argv);

void printUsage(std::FILE* stream);
// The usage texts, then one line per option.
void printHelp(std::FILE* stream);
