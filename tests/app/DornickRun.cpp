// Process runner, image writer and label-map reader for the program tests.
#include "DornickRun.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

const char* const kUsageText =
    "Arbitrary Shape Usage: \n AS InputFile OutputFile [Max_Number_Of_Seg] \n\n"
    "Grid Layout Usage: \n GL InputFile OutputFile GridSize_In_Pixels \n\n";

std::string dataFile(const std::string& name) { return std::string(TEST_DATA_DIR) + "/" + name; }

void DornickRunTest::SetUp() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string("dornick_") + info->test_suite_name() + "_" + info->name() +
                           "_" + std::to_string(getpid());
  folder = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
}

void DornickRunTest::TearDown() { std::filesystem::remove_all(folder); }

ProcessResult DornickRunTest::runAfter(const std::string& shellCommands,
                                       const std::vector<std::string>& arguments) const {
  std::string command = shellCommands + " exec '" + DORNICK_PATH + "'";
  for (const std::string& argument : arguments) command += " '" + argument + "'";
  const std::string outPath = path("stdout.txt");
  const std::string errPath = path("stderr.txt");
  command += " >'" + outPath + "' 2>'" + errPath + "' </dev/null";
  const int raw = std::system(command.c_str());
  ProcessResult result;
  if (WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
  else if (WIFSIGNALED(raw)) result.status = 128 + WTERMSIG(raw);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}

std::string DornickRunTest::writePpm(const std::string& name, int width, int height,
                                     const std::function<Rgb(int x, int y)>& colorAt) const {
  std::ofstream file(path(name), std::ios::binary);
  file << "P6\n" << width << " " << height << "\n255\n";
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgb color = colorAt(x, y);
      file.put(static_cast<char>(color.r)).put(static_cast<char>(color.g)).put(static_cast<char>(color.b));
    }
  }
  return path(name);
}

std::string DornickRunTest::writeBlankPpm(const std::string& name, int width, int height) const {
  return writePpm(name, width, height, [](int, int) { return Rgb{128, 128, 128}; });
}

std::string DornickRunTest::readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

ParsedLabelMap DornickRunTest::parseLabelMap(const std::string& bytes) {
  ParsedLabelMap map;
  size_t end = 0;
  for (int line = 0; line < 4; ++line) {
    end = bytes.find('\n', end);
    if (end == std::string::npos) {
      ADD_FAILURE() << "label map header incomplete";
      return {};
    }
    ++end;
  }
  map.header = bytes.substr(0, end);
  std::istringstream(bytes.substr(bytes.find('\n', 3) + 1)) >> map.width >> map.height >> map.maxValue;
  const size_t sampleBytes = map.maxValue > 255 ? 2 : 1;
  const size_t count = static_cast<size_t>(map.width) * map.height;
  if (bytes.size() != end + count * sampleBytes) {
    ADD_FAILURE() << "label map holds " << bytes.size() - end << " sample bytes, not " << count * sampleBytes;
    return {};
  }
  for (size_t i = 0; i < count; ++i) {
    const auto byteAt = [&](size_t k) { return static_cast<unsigned char>(bytes[end + k]); };
    map.samples.push_back(sampleBytes == 1 ? byteAt(i) : byteAt(2 * i) | (byteAt(2 * i + 1) << 8));
  }
  return map;
}
